// Plays one address through the real play-channel procedure, player,
// player scene and toolkit for a while and prints what the frame path did,
// as one line of key=value pairs (frames decoded, uploaded, replaced before
// upload, the most waiting at once, peak resident size, drift between the
// wall clock and the stream clock over the uploads, CPU seconds, time to
// the first upload, stage paints):
//   playback_bench <address> <seconds> [<stall ms> <stall every ms>]
// The optional stall keeps the main loop busy for <stall ms> every
// <stall every ms>, as a slow scene or a busy machine would.

#include "playback/MediaGraph.h"
#include "playback/PlayerManager.h"
#include "playback/Playback.h"
#include "playback/SampleGrabberCB.h"
#include "scenes/PlayerScene.h"

#include "app/Stage.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct cStall {
    int milliseconds = 0;
};

gboolean stallMainLoop(gpointer data)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<cStall*>(data)->milliseconds));
    return G_SOURCE_CONTINUE;
}

void countPaint(ClutterStage*, gpointer paints)
{
    ++*static_cast<uint64_t*>(paints);
}

gboolean quitLoop(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

class cEmptyScene : public cScene {
public:
    explicit cEmptyScene(ClutterActor* root) : cScene(root) {}
    void show() override {}
    void hide() override { delete this; }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <address> <seconds> [<stall ms> <stall every ms>]\n", argv[0]);
        return 2;
    }
    // As the player itself runs.
    limitMemoryArenas();
    const std::string address = argv[1];
    const int seconds = std::atoi(argv[2]);
    cStall stall;
    int stallEvery = 0;
    if (argc >= 5) {
        stall.milliseconds = std::atoi(argv[3]);
        stallEvery = std::atoi(argv[4]);
    }

    char folder[] = "/tmp/lumivex-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        return 2;
    }
    cSettings::instance()->setDataFolder(kestrel::fromUtf8(std::string(folder) + "/"));
    if (!initializeUi() || !initializeMedia()) {
        std::fprintf(stderr, "no display or no media framework\n");
        return 2;
    }
    installPlayback();
    registerSceneFactory(SceneHome, [](ClutterActor* root) { return new cEmptyScene(root); });
    // The scene a user sees while a channel plays: the video, its
    // reflection and the background are all painted every frame.
    setPlayerSceneFactory([](ClutterActor* root) { return new cPlayerScene(root); });

    cPlayerDatabase* database = cPlayerDatabase::instance();
    database->setCurrentCountry(u"Bench");
    database->setCurrentType(u"Bench");
    database->addFavourite(u"Bench", u"", kestrel::fromUtf8(address));
    database->selectFavourite(0);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    // As at the player's start: the media framework warms up while the
    // first scene shows, and a channel is chosen a second later at the
    // earliest.
    warmUpMedia();
    g_timeout_add(1000, quitLoop, loop);
    g_main_loop_run(loop);

    // Stage paints, to set beside the frames uploaded: one paint per frame
    // is the least that shows them all.
    uint64_t paints = 0;
    g_signal_connect(stageActor(), "after-paint", G_CALLBACK(countPaint), &paints);
    resetFrameStats();
    struct rusage before;
    getrusage(RUSAGE_SELF, &before);
    const int64_t requested = nowUs();
    requestPlayerScene();
    if (stallEvery > 0) {
        g_timeout_add(static_cast<guint>(stallEvery), stallMainLoop, &stall);
    }
    g_timeout_add(static_cast<guint>(seconds * 1000), quitLoop, loop);
    g_main_loop_run(loop);

    const cFrameStats stats = frameStats();
    struct rusage after;
    getrusage(RUSAGE_SELF, &after);
    const auto cpu = [](const struct rusage& usage) {
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double wallUploads = (stats.lastUploadUs - stats.firstUploadUs) / 1e6;
    const double streamUploads = stats.lastUploadPts - stats.firstUploadPts;
    std::printf("decoded=%llu uploaded=%llu replaced=%llu max_waiting=%llu peak_rss_mb=%.1f drift_s=%.3f cpu_s=%.2f "
                "first_frame_ms=%.0f paints=%llu\n",
                static_cast<unsigned long long>(stats.delivered), static_cast<unsigned long long>(stats.uploaded),
                static_cast<unsigned long long>(stats.replaced),
                static_cast<unsigned long long>(stats.maxWaiting), after.ru_maxrss / 1024.0,
                wallUploads - streamUploads, cpu(after) - cpu(before),
                stats.firstUploadUs > 0 ? (stats.firstUploadUs - requested) / 1000.0 : -1.0,
                static_cast<unsigned long long>(paints));
    std::fflush(stdout);

    shutdownPlayback();
    std::string command = std::string("rm -rf ") + folder;
    if (std::system(command.c_str()) != 0) {
        return 1;
    }
    // The process ends here without tearing the toolkit down: frames still
    // queued for the main loop are of no interest any more.
    _exit(0);
}
