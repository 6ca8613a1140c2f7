// The zapping soak: the real play-channel procedure driven through channel
// changes at a human-to-frantic pace (100 ms to 2 s apart, seeded random),
// over loopback HTTP, on the test's display, under the toolkit's own main
// loop. The channels mix good clips, an ASX playlist, an unreachable
// stream, an unreachable playlist, a server that stalls mid-stream, one
// that sends junk as a clip and one that sends no HTTP at all.
//
// It prints at the start, every 50 changes, at the end and after the last
// player has been torn down:
//   threads     entries of /proc/self/task
//   fds         entries of /proc/self/fd
//   rss         VmRSS of /proc/self/status
//   heap        bytes the C library's allocator has handed out and not
//               had back (mallinfo2: in use in every arena plus mapped
//               blocks): growth here, unlike rss, is memory still held
//   pipelines, elements, pads, buffers
//               GStreamer objects alive, counted by a tracer hook of our
//               own on their creation and destruction
//   destroyers  player destroyers still running
//   frames      frames uploaded into the texture so far
//   stall       the longest main-loop stall of the interval: a repeating
//               10 ms timeout on the main loop, late by that much
// The servers run in a child process, so none of their sockets or threads
// count here.
//
// Exit status: 0 after the last change and an orderly teardown; the
// watchdog aborts the process when the main loop stops turning for 30 s or
// the teardown takes longer than 60 s. The figures are printed, never
// judged: a benchmark run reads them.
//
// usage: zapping_soak [--changes N] [--seed S]

#include "SoakServer.h"

#include "tests/playback/TestHttpServer.h"
#include "tests/playback/TestMedia.h"

#include "playback/MediaGraph.h"
#include "playback/PlayerManager.h"
#include "playback/Playback.h"
#include "playback/SampleGrabberCB.h"

#include "app/Scene.h"
#include "app/Stage.h"
#include "catalogue/AddressCodec.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"

#include <gst/gst.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <malloc.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// --- GStreamer objects alive --------------------------------------------------

std::atomic<long> gPipelines{0};
std::atomic<long> gElements{0};
std::atomic<long> gPads{0};
std::atomic<long> gBuffers{0};

struct cCountTracer {
    GstTracer parent;
};
struct cCountTracerClass {
    GstTracerClass parent;
};

GType countTracerType()
{
    static GType type = 0;
    if (type == 0) {
        type = g_type_register_static_simple(
            GST_TYPE_TRACER, "LumivexSoakCountTracer", sizeof(cCountTracerClass), nullptr, sizeof(cCountTracer),
            nullptr, GTypeFlags(0));
    }
    return type;
}

void objectCreated(GstTracer*, guint64, GstObject* object)
{
    if (GST_IS_PIPELINE(object)) {
        ++gPipelines;
    }
    if (GST_IS_ELEMENT(object)) {
        ++gElements;
    } else if (GST_IS_PAD(object)) {
        ++gPads;
    }
}

void objectDestroyed(GstTracer*, guint64, GstObject* object)
{
    if (GST_IS_PIPELINE(object)) {
        --gPipelines;
    }
    if (GST_IS_ELEMENT(object)) {
        --gElements;
    } else if (GST_IS_PAD(object)) {
        --gPads;
    }
}

void miniObjectCreated(GstTracer*, guint64, GstMiniObject* object)
{
    if (GST_IS_BUFFER(object)) {
        ++gBuffers;
    }
}

void miniObjectDestroyed(GstTracer*, guint64, GstMiniObject* object)
{
    if (GST_IS_BUFFER(object)) {
        --gBuffers;
    }
}

// After gst_init and before the first graph: objects made earlier would be
// counted only when they go.
void installCountTracer()
{
    GstTracer* tracer = GST_TRACER(g_object_new(countTracerType(), nullptr));
    gst_tracing_register_hook(tracer, "object-created", G_CALLBACK(objectCreated));
    gst_tracing_register_hook(tracer, "object-destroyed", G_CALLBACK(objectDestroyed));
    gst_tracing_register_hook(tracer, "mini-object-created", G_CALLBACK(miniObjectCreated));
    gst_tracing_register_hook(tracer, "mini-object-destroyed", G_CALLBACK(miniObjectDestroyed));
    // The tracer lives as long as the process.
}

// --- the process's own figures -----------------------------------------------

int countEntries(const char* folder)
{
    DIR* dir = opendir(folder);
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            ++count;
        }
    }
    closedir(dir);
    return count;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

struct cFigures {
    int threads = 0;
    int fds = 0;
    long rssKiB = 0;
    size_t heapBytes = 0;
    long pipelines = 0;
    long elements = 0;
    long pads = 0;
    long buffers = 0;
    int destroyers = 0;
    uint64_t frames = 0;
};

// Main thread only (the player manager has no lock).
cFigures takeFigures()
{
    cFigures figures;
    figures.threads = countEntries("/proc/self/task");
    figures.fds = countEntries("/proc/self/fd") - 1; // the listing's own descriptor
    figures.rssKiB = residentKiB();
    const struct mallinfo2 heap = mallinfo2();
    figures.heapBytes = heap.uordblks + heap.hblkhd;
    figures.pipelines = gPipelines;
    figures.elements = gElements;
    figures.pads = gPads;
    figures.buffers = gBuffers;
    figures.destroyers = cPlayerManager::instance()->runningDestroyers();
    figures.frames = frameStats().uploaded;
    return figures;
}

void printHeading()
{
    std::printf("%-16s %7s %7s %5s %8s %9s %9s %8s %5s %7s %10s %7s %9s\n", "when", "changes", "threads", "fds",
                "rss(MiB)", "heap(MiB)", "pipelines", "elements", "pads", "buffers", "destroyers", "frames", "stall(ms)");
}

void printFigures(const char* when, int changes, const cFigures& f, double stallMs)
{
    std::printf("%-16s %7d %7d %5d %8.1f %9.1f %9ld %8ld %5ld %7ld %10d %7llu %9.1f\n", when, changes, f.threads,
                f.fds, f.rssKiB / 1024.0, f.heapBytes / 1048576.0, f.pipelines, f.elements, f.pads, f.buffers, f.destroyers,
                static_cast<unsigned long long>(f.frames), stallMs);
    std::fflush(stdout);
}

// --- the session --------------------------------------------------------------

struct cChannel {
    std::string name;
    std::string url;
    int weight = 1;
    int chosen = 0;
};

int64_t nowUs() { return g_get_monotonic_time(); }

class cHomeScene : public cScene {
public:
    explicit cHomeScene(ClutterActor* root) : cScene(root) {}
    void show() override {}
    void hide() override { delete this; }
};

// The first pipelines load the plugins and probe the audio devices.
constexpr int WarmUpChanges = 10;

struct cSession {
    int changes = 60;
    unsigned seed = 1;
    std::mt19937 random;
    std::vector<cChannel> channels;
    int done = 0;
    int homeScenes = 0;

    // The stall probe, main loop only.
    int64_t lastTickUs = 0;
    double longestStallMs = 0;      // since the last checkpoint
    double longestOverallMs = 0;
    int longestAtChange = 0;
    int stallsOver100 = 0;
    double longestAfterWarmUpMs = 0; // from change WarmUpChanges on

    // The first changes visit every channel once, in a shuffled order.
    std::vector<size_t> firstRound;

    cFigures afterWarmUp;
    bool haveWarmUp = false;
};

cSession* gSession = nullptr;
std::atomic<int64_t> gWatchdogTickUs{0};
std::atomic<int64_t> gWatchdogDeadlineUs{0}; // 0: the main loop's ticks are watched
std::atomic<bool> gFinished{false};

gboolean onTick(gpointer)
{
    cSession& s = *gSession;
    const int64_t now = nowUs();
    if (s.lastTickUs != 0) {
        const double lateMs = std::max(0.0, (now - s.lastTickUs) / 1000.0 - 10.0);
        s.longestStallMs = std::max(s.longestStallMs, lateMs);
        if (lateMs > s.longestOverallMs) {
            s.longestOverallMs = lateMs;
            s.longestAtChange = s.done;
        }
        if (lateMs > 100.0) {
            ++s.stallsOver100;
        }
        if (s.done >= WarmUpChanges) {
            s.longestAfterWarmUpMs = std::max(s.longestAfterWarmUpMs, lateMs);
        }
    }
    s.lastTickUs = now;
    gWatchdogTickUs = now;
    return G_SOURCE_CONTINUE;
}

void checkpoint(const char* when)
{
    cSession& s = *gSession;
    const cFigures figures = takeFigures();
    printFigures(when, s.done, figures, s.longestStallMs);
    s.longestStallMs = 0;
    if (!s.haveWarmUp && s.done > 0) {
        s.afterWarmUp = figures;
        s.haveWarmUp = true;
    }
}

gboolean onQuit(gpointer)
{
    clutter_main_quit();
    return G_SOURCE_REMOVE;
}

gboolean onChange(gpointer)
{
    cSession& s = *gSession;
    int total = 0;
    for (const cChannel& channel : s.channels) {
        total += channel.weight;
    }
    cChannel* chosen = &s.channels.front();
    if (static_cast<size_t>(s.done) < s.firstRound.size()) {
        chosen = &s.channels[s.firstRound[static_cast<size_t>(s.done)]];
    } else {
        int pick = std::uniform_int_distribution<int>(0, total - 1)(s.random);
        for (cChannel& channel : s.channels) {
            if (pick < channel.weight) {
                chosen = &channel;
                break;
            }
            pick -= channel.weight;
        }
    }
    ++chosen->chosen;
    // What the channel browser does on a click, then on the play orb.
    cPlayerDatabase::instance()->setCurrentName(kestrel::fromUtf8(chosen->name));
    requestPlayerScene();
    ++s.done;
    if (s.done % 50 == 0) {
        checkpoint(("after " + std::to_string(s.done)).c_str());
    }
    if (s.done >= s.changes) {
        // The last channel plays a little before the end figures.
        g_timeout_add(2000, onQuit, nullptr);
        return G_SOURCE_REMOVE;
    }
    // Half of the changes frantic, half at a human pace.
    const int delay = std::uniform_int_distribution<int>(0, 1)(s.random) == 0
                          ? std::uniform_int_distribution<int>(100, 400)(s.random)
                          : std::uniform_int_distribution<int>(400, 2000)(s.random);
    g_timeout_add(static_cast<guint>(delay), onChange, nullptr);
    return G_SOURCE_REMOVE;
}

void watchdog()
{
    while (!gFinished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int64_t now = nowUs();
        const int64_t deadline = gWatchdogDeadlineUs;
        const int64_t tick = gWatchdogTickUs;
        if (deadline != 0 ? now > deadline : (tick != 0 && now - tick > 30 * 1000000LL)) {
            std::fprintf(stderr, "zapping soak: %s; giving up\n",
                         deadline != 0 ? "the teardown took longer than 60 s" : "the main loop stood still for 30 s");
            std::abort();
        }
    }
}

bool makeCatalogue(const std::string& folder, const std::vector<cChannel>& channels)
{
    std::filesystem::create_directories(folder);
    sqlite3* db = nullptr;
    if (sqlite3_open((folder + "database").c_str(), &db) != SQLITE_OK) {
        return false;
    }
    bool ok = sqlite3_exec(db, "create table channels (country text, type text, name text, description text, url text)",
                           nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "insert into channels values ('Soakland', 'Mixed', ?, 'A channel of the soak', ?)",
                                  -1, &insert, nullptr) == SQLITE_OK;
    for (const cChannel& channel : channels) {
        if (!ok) {
            break;
        }
        const std::string encoded = kestrel::toUtf8(encodeAddress(kestrel::fromUtf8(channel.url)));
        sqlite3_bind_text(insert, 1, channel.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, encoded.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return ok;
}

int fail(const char* what)
{
    std::fprintf(stderr, "zapping soak: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    cSession session;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--changes") == 0) {
            session.changes = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            session.seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        }
    }
    session.random.seed(session.seed);
    gSession = &session;
    // As the application does, before any other thread starts.
    limitMemoryArenas();

    cTempFolder folder;
    struct {
        const char* name;
        cClipRecipe recipe;
    } clips[] = {{"short.mkv", {}}, {"long.mkv", {}}, {"clip.ts", {}}};
    clips[0].recipe.seconds = 2;
    clips[1].recipe.seconds = 8;
    clips[1].recipe.movingBox = true;
    clips[2].recipe.seconds = 4;
    clips[2].recipe.container = "ts";
    for (auto& clip : clips) {
        if (!makeClip(folder.path() + clip.name, clip.recipe)) {
            return fail("cannot make the clips");
        }
    }
    // Forked while this process has no other thread.
    cSoakServer server(folder.path());
    if (server.port() == 0) {
        return fail("cannot start the soak server");
    }
    const std::string nowhere = "http://127.0.0.1:" + std::to_string(closedPort());
    session.channels = {
        {"Short clip", server.url("/short.mkv"), 3},
        {"Long clip", server.url("/long.mkv"), 3},
        {"Transport stream", server.url("/clip.ts"), 2},
        {"ASX playlist", server.url("/list.asx"), 2},
        {"Unreachable stream", nowhere + "/gone.mkv", 1},
        {"Unreachable playlist", nowhere + "/gone.asx", 1},
        {"Stalls mid-stream", server.url("/stall/long.mkv"), 2},
        {"Junk for a clip", server.url("/junk.mkv"), 1},
        {"Not HTTP", server.url("/garbage"), 1},
    };

    for (size_t i = 0; i < session.channels.size(); ++i) {
        session.firstRound.push_back(i);
    }
    std::shuffle(session.firstRound.begin(), session.firstRound.end(), session.random);

    const std::string data = folder.path() + "data/";
    std::filesystem::create_directories(data);
    cSettings::instance()->setDataFolder(kestrel::fromUtf8(data));
    if (!makeCatalogue(data + "channels/", session.channels)) {
        return fail("cannot write the catalogue");
    }
    cPlayerDatabase* database = cPlayerDatabase::instance();
    if (!database->open(kestrel::fromUtf8(data + "channels/"))) {
        return fail("cannot open the catalogue");
    }
    database->setCurrentCountry(u"Soakland");
    database->setCurrentType(u"Mixed");

    if (!initializeUi()) {
        return fail("no display");
    }
    if (!initializeMedia()) {
        return fail("no media framework");
    }
    installCountTracer();
    installPlayback();
    registerSceneFactory(SceneHome, [&session](ClutterActor* root) {
        ++session.homeScenes;
        return new cHomeScene(root);
    });
    requestHomeScene();

    std::printf("zapping soak: %d changes, seed %u, 100 ms to 2 s apart, %zu channels on 127.0.0.1\n",
                session.changes, session.seed, session.channels.size());
    printHeading();
    std::thread guard(watchdog);

    g_timeout_add(10, onTick, nullptr);
    g_timeout_add(500, onChange, nullptr);
    // The first figures once the home scene stands, before the first change.
    // (The toolkit's sources take its lock themselves while pumped by hand.)
    const int64_t homeShown = nowUs() + 300000;
    while (nowUs() < homeShown) {
        g_main_context_iteration(nullptr, FALSE);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    checkpoint("start");
    clutter_threads_enter();
    clutter_main();
    clutter_threads_leave();
    checkpoint("end");
    const cFigures end = takeFigures();

    // Teardown: the last player goes, every destroyer finishes, and what the
    // main loop still holds (uploads, scene exits) runs.
    gWatchdogDeadlineUs = nowUs() + 60 * 1000000LL;
    shutdownPlayback();
    const int64_t settle = nowUs() + 1000000;
    while (nowUs() < settle) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const cFigures after = takeFigures();
    printFigures("after teardown", session.done, after, 0);
    gFinished = true;
    guard.join();

    std::printf("channels chosen:");
    for (const cChannel& channel : session.channels) {
        std::printf(" %s %d;", channel.name.c_str(), channel.chosen);
    }
    std::printf("\nhome scenes (failed channels and their fall-back): %d\n", session.homeScenes);
    std::printf("longest main-loop stall: %.1f ms (near change %d); after the first %d changes: %.1f ms; "
                "stalls over 100 ms: %d\n",
                session.longestOverallMs, session.longestAtChange, WarmUpChanges, session.longestAfterWarmUpMs,
                session.stallsOver100);
    if (session.haveWarmUp) {
        const cFigures& w = session.afterWarmUp;
        std::printf("growth from the first checkpoint to the end: threads %+d, fds %+d, rss %+.1f MiB, "
                    "heap %+.1f MiB, elements %+ld, pads %+ld\n",
                    end.threads - w.threads, end.fds - w.fds, (end.rssKiB - w.rssKiB) / 1024.0,
                    (static_cast<double>(end.heapBytes) - static_cast<double>(w.heapBytes)) / 1048576.0,
                    end.elements - w.elements, end.pads - w.pads);
    }
    database->close();
    return 0;
}
