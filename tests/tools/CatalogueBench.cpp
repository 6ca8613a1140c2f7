// Prints how long the channel browser's queries take on a large catalogue
// (with the builder's indexes and without them), how long filling the
// browser's channel list with their results takes on the real toolkit (in
// the build with the toolkit, under a display), what one typed letter of
// the name search costs (narrowing and refilling the list, with the
// in-memory name index and, for comparison, with an SQL LIKE query on the
// catalogue), and how the start-up
// download and installation of a large catalogue compares with copying the
// same file with curl. Figures only: nothing here passes or fails on time.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "ToolsTestSupport.h"
#include "catalogue/CatalogueCheck.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"
#include "catalogue/CatalogueBuilder.h"
#include "tools/CatalogueServer.h"
#include "catalogue/M3uImport.h"
#include "catalogue/CatalogueConnection.h"
#include "catalogue/NameSearch.h"

#include <atomic>
#include <thread>

#include <sqlite3.h>

#ifdef LUMIVEX_BENCH_LIST_FILL
#include "../app/TestSupport.h"
#include "app/Scene.h"
#include "widgets/ListWidget.h"
#endif

using namespace toolstest;
using tClock = std::chrono::steady_clock;

namespace {

constexpr int Channels = 250000;
constexpr int Countries = 200;
constexpr int Types = 30;
constexpr double FrameMs = 16.0;

double millisecondsSince(tClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(tClock::now() - start).count();
}

std::string country(int i) { return "Country " + std::to_string(i); }
std::string type(int i) { return "Type " + std::to_string(i); }

std::vector<cListingEntry> generate(int channels, size_t descriptionBytes)
{
    std::mt19937 random(7);
    std::vector<cListingEntry> entries;
    entries.reserve(channels);
    for (int i = 0; i < channels; ++i) {
        // A tenth of the names recur under other countries, as networks do.
        const int name = random() % 10 == 0 ? static_cast<int>(random() % 2000) : i;
        std::string description = "Channel number " + std::to_string(i) + " ";
        description.resize(std::max(description.size(), descriptionBytes), 'x');
        entries.push_back({country(static_cast<int>(random() % Countries)), type(static_cast<int>(random() % Types)),
                           "Channel " + std::to_string(name), description,
                           "http://streams.example.net/live/" + std::to_string(i) + ".asx"});
    }
    return entries;
}

struct cFigure {
    double median = 0;
    double worst = 0;
};

cFigure measure(int runs, const std::function<void(int)>& run)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = tClock::now();
        run(i);
        times.push_back(millisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

void print(const char* what, const cFigure& figure)
{
    std::printf("  %-34s median %8.3f ms   worst %8.3f ms %s\n", what, figure.median, figure.worst,
                figure.worst <= FrameMs ? "" : "  (over one frame)");
}

void benchQueries(const std::string& folder, const char* label)
{
    std::printf("%s\n", label);
    const std::u16string wideFolder = kestrel::fromUtf8(folder);
    std::mt19937 random(11);
    // The cached lists are timed on a fresh object each run, as the first
    // call of a run is the one a user waits for.
    print("countries() first call", measure(5, [&](int) {
              cPlayerDatabase database;
              database.open(wideFolder);
              database.countries();
          }));
    print("types() first call", measure(5, [&](int) {
              cPlayerDatabase database;
              database.open(wideFolder);
              database.types();
          }));
    print("names(*, *) first call", measure(5, [&](int) {
              cPlayerDatabase database;
              database.open(wideFolder);
              std::vector<std::u16string> out;
              database.names(u"*", u"*", out);
          }));

    cPlayerDatabase database;
    database.open(wideFolder);
    std::vector<std::u16string> out;
    size_t rows = 0;
    print("names(c, t)", measure(60, [&](int) {
              database.names(kestrel::fromUtf8(country(random() % Countries)),
                             kestrel::fromUtf8(type(random() % Types)), out);
              rows += out.size();
          }));
    print("names(*, t)", measure(30, [&](int i) {
              database.names(u"*", kestrel::fromUtf8(type(i % Types)), out);
              rows += out.size();
          }));
    print("names(c, *)", measure(30, [&](int) {
              database.names(kestrel::fromUtf8(country(random() % Countries)), u"*", out);
              rows += out.size();
          }));
    // Pick real channels so that every lookup finds its row.
    std::vector<std::vector<std::u16string>> picks;
    for (int i = 0; i < 60; ++i) {
        const std::u16string c = kestrel::fromUtf8(country(random() % Countries));
        const std::u16string t = kestrel::fromUtf8(type(random() % Types));
        database.names(c, t, out);
        if (!out.empty()) {
            picks.push_back({c, t, out[random() % out.size()]});
        }
    }
    using tChoice = std::function<void(const std::vector<std::u16string>&)>;
    const std::pair<const char*, tChoice> forms[] = {
        {"currentAddress() country and type",
         [&](const auto& pick) {
             database.setCurrentCountry(pick[0]);
             database.setCurrentType(pick[1]);
         }},
        {"currentAddress() any country",
         [&](const auto& pick) {
             database.setCurrentCountry(u"*");
             database.setCurrentType(pick[1]);
         }},
        {"currentAddress() any type",
         [&](const auto& pick) {
             database.setCurrentCountry(pick[0]);
             database.setCurrentType(u"*");
         }},
        {"currentAddress() any, any",
         [&](const auto&) {
             database.setCurrentCountry(u"*");
             database.setCurrentType(u"*");
         }},
    };
    for (const auto& [what, choose] : forms) {
        print(what, measure(static_cast<int>(picks.size()), [&](int i) {
                  choose(picks[i]);
                  database.setCurrentName(picks[i][2]);
                  if (database.currentAddress().empty()) {
                      std::printf("  (lookup found nothing)\n");
                  }
              }));
    }
    std::printf("  (%zu names listed in all)\n", rows);
}

#ifdef LUMIVEX_BENCH_LIST_FILL
// A scene that only lends its root container to the list.
class cBenchScene : public cScene {
public:
    explicit cBenchScene(ClutterActor* root) : cScene(root) {}
    void show() override {}
    void hide() override {}
};

void countPaint(ClutterStage*, gpointer paints)
{
    ++*static_cast<int*>(paints);
}

// Runs the main loop until the stage has painted once more.
void waitForPaint()
{
    ClutterActor* stage = clutter_stage_get_default();
    int paints = 0;
    const gulong handler = g_signal_connect(stage, "after-paint", G_CALLBACK(countPaint), &paints);
    clutter_actor_queue_redraw(stage);
    runMainLoopUntil([&] { return paints >= 1; }, 10000);
    g_signal_handler_disconnect(stage, handler);
}

// What a click in the browser costs: the names query, then the channel
// list's setItems and show with the result (the browser's own calls, at its
// channel list's geometry), then the frame that paints it.
void benchListFill(const std::string& folder)
{
    std::printf("a browser click: query, then filling the channel list (real toolkit)\n");
    if (!ensureUi()) {
        std::printf("  not measured: %s\n", uiFailure().c_str());
        return;
    }
    cPlayerDatabase database;
    database.open(kestrel::fromUtf8(folder));
    cBenchScene scene(clutter_stage_get_default());
    cListWidget list(&scene, 180, 160, 440, 250);
    std::vector<std::u16string> names;
    // The stage's first frames set up the drawing; they are not a click's.
    for (int i = 0; i < 3; ++i) {
        waitForPaint();
    }
    struct sClick {
        const char* what;
        std::u16string country, type;
    };
    const sClick clicks[] = {
        {"any country, any type", u"*", u"*"},
        {"one country, any type", kestrel::fromUtf8(country(3)), u"*"},
        {"any country, one type", u"*", kestrel::fromUtf8(type(3))},
        {"one country, one type", kestrel::fromUtf8(country(3)), kestrel::fromUtf8(type(3))},
    };
    for (const sClick& click : clicks) {
        std::vector<double> queries, fills, paints;
        for (int run = 0; run < 3; ++run) {
            auto start = tClock::now();
            database.names(click.country, click.type, names);
            queries.push_back(millisecondsSince(start));
            start = tClock::now();
            list.setItems(names);
            list.show(false, true);
            fills.push_back(millisecondsSince(start));
            start = tClock::now();
            waitForPaint();
            paints.push_back(millisecondsSince(start));

        }
        std::sort(queries.begin(), queries.end());
        std::sort(fills.begin(), fills.end());
        std::sort(paints.begin(), paints.end());
        std::printf("  %-22s %7zu rows: query %8.2f ms, fill %8.2f ms, next frame %8.2f ms (medians)\n",
                    click.what, names.size(), queries[1], fills[1], paints[1]);
    }
    list.setItems({});
}
#endif

// The typing search. Each figure is one keystroke: the text so far grows by
// one letter, the search narrows, and the list is refilled with the result.
// The words: one that every name holds (the heaviest refill: the whole
// catalogue stays), one of digits that narrows fast, one found nowhere.
const char16_t* const SearchWords[] = {u"annel", u"12345", u"qzxwv"};
const int SearchLengths[] = {1, 2, 5};

struct sSearchFilter {
    const char* what;
    std::u16string country;
};

std::vector<sSearchFilter> searchFilters()
{
    return {{"any country, any type", u"*"}, {"one country, any type", kestrel::fromUtf8(country(3))}};
}

// The "before": each keystroke asks the catalogue with LIKE (which ignores
// the case of ASCII letters only) on a hardened connection of its own.
void benchSearchLike(const std::string& folder)
{
    std::printf("typing search without an index: one SQL LIKE query per letter\n");
    std::string problem;
    sqlite3* connection = openCatalogueConnection(folder + "/database", problem);
    if (!connection) {
        std::printf("  cannot open: %s\n", problem.c_str());
        return;
    }
    for (const sSearchFilter& filter : searchFilters()) {
        for (const char16_t* word : SearchWords) {
            for (const int length : SearchLengths) {
                const std::u16string text(word, length);
                const std::u16string pattern = u"%" + text + u"%";
                size_t rows = 0;
                const cFigure figure = measure(5, [&](int) {
                    const bool anyCountry = filter.country == u"*";
                    sqlite3_stmt* statement = nullptr;
                    sqlite3_prepare_v2(connection,
                                       anyCountry ? "select name from channels where name like ?1 group by name;"
                                                  : "select name from channels where country = ?2 and name like ?1 "
                                                    "group by name;",
                                       -1, &statement, nullptr);
                    sqlite3_bind_text16(statement, 1, pattern.c_str(), -1, SQLITE_STATIC);
                    if (!anyCountry) {
                        sqlite3_bind_text16(statement, 2, filter.country.c_str(), -1, SQLITE_STATIC);
                    }
                    std::vector<std::u16string> names;
                    while (sqlite3_step(statement) == SQLITE_ROW) {
                        names.push_back(static_cast<const char16_t*>(sqlite3_column_text16(statement, 0)));
                    }
                    sqlite3_finalize(statement);
                    rows = names.size();
                });
                std::printf("  %-22s \"%s\" %7zu rows: query median %8.2f ms, worst %8.2f ms%s\n", filter.what,
                            kestrel::toUtf8(text).c_str(), rows, figure.median, figure.worst,
                            figure.worst <= FrameMs ? "" : "  (over one frame)");
            }
        }
    }
    sqlite3_close(connection);
}

std::shared_ptr<const cNameIndex> waitForNameIndex(cPlayerDatabase& database, double& milliseconds)
{
    std::atomic<bool> ready{false};
    const auto start = tClock::now();
    std::shared_ptr<const cNameIndex> index = database.nameIndex([&] { ready = true; });
    while (!index) {
        if (ready) {
            index = database.nameIndex();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    milliseconds = millisecondsSince(start);
    return index;
}

// The "after": the in-memory index of folded names. fill, when given,
// refills the list with the names and returns how long that took.
using tSearchFill = std::function<double(std::string texts, std::vector<size_t> starts)>;

void benchSearchIndex(const std::string& folder, const tSearchFill& fill)
{
    std::printf("typing search with the in-memory index of folded names%s\n",
                fill ? ", refilling the channel list (real toolkit)" : "");
    cPlayerDatabase database;
    database.open(kestrel::fromUtf8(folder));
    double built = 0;
    const std::shared_ptr<const cNameIndex> all = waitForNameIndex(database, built);
    std::printf("  index of %zu names built off the main loop in %.0f ms\n", all->size(), built);
    for (const sSearchFilter& filter : searchFilters()) {
        std::shared_ptr<const cNameIndex> index = all;
        if (filter.country != u"*") {
            // A country's names are indexed where the filter changes.
            const auto start = tClock::now();
            std::vector<std::u16string> names;
            database.names(filter.country, u"*", names);
            index = std::make_shared<const cNameIndex>(std::move(names));
            std::printf("  %-22s query and index of its %zu names at the filter change: %.2f ms\n", filter.what,
                        index->size(), millisecondsSince(start));
        }
        for (const char16_t* word : SearchWords) {
            std::vector<double> queries[3], fills[3];
            size_t rows[3] = {};
            for (int run = 0; run < 5; ++run) {
                cNameSearch search;
                search.setIndex(index);
                // Letter by letter, as typed: each keystroke narrows the last.
                for (int length = 1, at = 0; length <= 5; ++length) {
                    auto start = tClock::now();
                    search.setText(std::u16string(word, length));
                    std::string texts;
                    std::vector<size_t> starts;
                    search.matchingUtf8(texts, starts);
                    const double query = millisecondsSince(start);
                    const size_t found = starts.size() - 1;
                    const double filled = fill ? fill(std::move(texts), std::move(starts)) : 0.0;
                    if (length == SearchLengths[at]) {
                        queries[at].push_back(query);
                        fills[at].push_back(filled);
                        rows[at] = found;
                        ++at;
                    }
                }
            }
            for (int at = 0; at < 3; ++at) {
                std::sort(queries[at].begin(), queries[at].end());
                std::sort(fills[at].begin(), fills[at].end());
                const double worst = queries[at].back() + fills[at].back();
                std::printf("  %-22s \"%s\" %7zu rows: query %6.2f ms, fill %6.2f ms (medians), worst sum %6.2f "
                            "ms%s\n",
                            filter.what, kestrel::toUtf8(std::u16string(word, SearchLengths[at])).c_str(), rows[at],
                            queries[at][2], fills[at][2], worst, worst <= FrameMs ? "" : "  (over one frame)");
            }
        }
    }
}

#ifdef LUMIVEX_BENCH_LIST_FILL
void benchSearchFill(const std::string& folder)
{
    if (!ensureUi()) {
        std::printf("typing search with the list: not measured: %s\n", uiFailure().c_str());
        return;
    }
    cBenchScene scene(clutter_stage_get_default());
    cListWidget list(&scene, 180, 160, 440, 250);
    for (int i = 0; i < 3; ++i) {
        waitForPaint();
    }
    benchSearchIndex(folder, [&](std::string texts, std::vector<size_t> starts) {
        const auto start = tClock::now();
        list.setItemsUtf8(std::move(texts), std::move(starts));
        list.show(false, true);
        return millisecondsSince(start);
    });
    list.setItems({});
}
#endif

void benchDownload(const cTempFolder& scratch)
{
    const std::string served = scratch.file("served");
    std::filesystem::create_directories(served);
    std::string error;
    // About 135,000 indexed channels make a catalogue of about 50 MB.
    if (!buildCatalogue(generate(135000, 0), served + "/database", {}, error)) {
        std::printf("build failed: %s\n", error.c_str());
        return;
    }
    writeFile(served + "/dbversion", "1");
    const double megabytes = std::filesystem::file_size(served + "/database") / 1e6;
    cCatalogueServer server(served);
    server.start();
    const std::string address = "127.0.0.1:" + std::to_string(server.port());
    std::printf("download and install of a %.1f MB catalogue over loopback\n", megabytes);

    cSettings* settings = cSettings::instance();
    settings->setString(u"server", kestrel::fromUtf8(address));
    cUpdateLimits limits;
    limits.idlePauseMs = 0;
    limits.installedPauseMs = 0;
    const std::string channels = scratch.file("channels");
    std::filesystem::create_directories(channels);

    const int runs = 3;
    std::vector<double> updates;
    std::vector<double> curls;
    std::vector<double> checks;
    for (int run = 0; run < runs; ++run) {
        settings->setInteger(u"dbversion", 0);
        cPlayerDatabase database;
        database.setUpdateLimits(limits);
        auto start = tClock::now();
        database.runUpdate(kestrel::fromUtf8(channels));
        updates.push_back(millisecondsSince(start));
        if (database.lastUpdateOutcome() != eUpdateOutcome::Installed) {
            std::printf("  update failed: %s\n", database.lastUpdateError().c_str());
            return;
        }
        start = tClock::now();
        std::string problem;
        checkCatalogueFile(kestrel::fromUtf8(channels + "/database"), problem);
        checks.push_back(millisecondsSince(start));

        start = tClock::now();
        const int status =
            runCommand("curl -s -f -o " + scratch.file("curl-copy") + " http://" + address + "/database 2>/dev/null");
        curls.push_back(millisecondsSince(start));
        if (status == 127) {
            std::printf("  curl is not installed: no comparison\n");
            return;
        }
        if (status != 0) {
            std::printf("  curl failed (status %d)\n", status);
            return;
        }
    }
    std::sort(updates.begin(), updates.end());
    std::sort(curls.begin(), curls.end());
    std::sort(checks.begin(), checks.end());
    const double update = updates[runs / 2];
    const double curl = curls[runs / 2];
    std::printf("  update (version, download, flush, check, rename)  median %8.1f ms\n", update);
    std::printf("    integrity check of that file, timed apart        median %8.1f ms\n", checks[runs / 2]);
    std::printf("  curl copy of the same file                        median %8.1f ms\n", curl);
    std::printf("  ratio update / curl                                      %8.2f\n", update / curl);
}

// An M3U playlist of 100,000 channels as providers write them (attributes,
// player options, a tenth with two countries or two groups) read and built
// into a catalogue.
void timeImport(const char* what, int entries, const std::string& text, const cTempFolder& scratch);

void benchM3uImport(const cTempFolder& scratch)
{
    const char* const codes[] = {"FR", "DE", "IT", "ES", "GB", "US", "PL", "NL", "BE", "PT", "SE", "TR"};
    const char* const groups[] = {"News", "Sport", "Movies", "Kids", "Music", "Documentary", "Entertainment"};
    std::mt19937 random(5);
    std::string text = "#EXTM3U x-tvg-url=\"http://epg.example.net/guide.xml.gz\"\r\n";
    constexpr int Entries = 100000;
    for (int i = 0; i < Entries; ++i) {
        std::string country = codes[random() % std::size(codes)];
        std::string group = groups[random() % std::size(groups)];
        if (i % 10 == 0) {
            country += std::string(";") + codes[random() % std::size(codes)];
            group += std::string(";") + groups[random() % std::size(groups)];
        }
        text += "#EXTINF:-1 tvg-id=\"ch" + std::to_string(i) + ".example\" tvg-name=\"Channel " + std::to_string(i) +
                " HD\" tvg-logo=\"http://logos.example.net/" + std::to_string(i) + ".png\" tvg-country=\"" +
                country + "\" group-title=\"" + group + "\",Channel " + std::to_string(i) + "\r\n";
        if (i % 20 == 0) {
            text += "#EXTVLCOPT:http-user-agent=Mozilla/5.0\r\n";
        }
        text += "http://streams.example.net/live/" + std::to_string(i) + "/index.m3u8\r\n";
    }
    timeImport("M3U import", Entries, text, scratch);
}

// A list in today's public style: no tvg-country, the country in the id
// ("Name.at@SD") or at the head of the group ("UK | Sports"), logos and
// channel numbers, and the same name twice in one group (two qualities).
void benchPublicStyleImport(const cTempFolder& scratch)
{
    const char* const codes[] = {"fr", "de", "it", "es", "uk", "us", "pl", "nl", "be", "pt", "se", "tr"};
    const char* const groups[] = {"News", "Sport", "Movies", "Kids", "Music", "Documentary", "Entertainment"};
    std::mt19937 random(7);
    std::string text = "#EXTM3U url-tvg=\"http://epg.example.net/guide.xml.gz\"\n";
    constexpr int Entries = 50000;
    for (int i = 0; i < Entries; ++i) {
        const std::string code = codes[random() % std::size(codes)];
        const std::string group = groups[random() % std::size(groups)];
        const std::string name = "Channel " + std::to_string(i / 2);
        const bool inGroup = i % 3 == 0;
        text += "#EXTINF:-1 tvg-id=\"" + (inGroup ? std::string("Ch") + std::to_string(i / 2) : name + "." + code) +
                (i % 2 ? "@HD" : "@SD") + "\" tvg-logo=\"https://logos.example.net/" + std::to_string(i / 2) +
                ".png\" tvg-chno=\"" + std::to_string(i / 2 + 1) + "\" group-title=\"" +
                (inGroup ? code + " | " + group : group) + "\"," + name + (i % 2 ? " HD" : "") + "\n";
        text += "http://streams.example.net/live/" + std::to_string(i) + "/index.m3u8\n";
    }
    timeImport("M3U import in today's public style", Entries, text, scratch);
}

void timeImport(const char* what, int entries, const std::string& text, const cTempFolder& scratch)
{
    std::printf("%s of %d entries (%.1f MB of playlist)\n", what, entries, text.size() / 1e6);
    auto start = tClock::now();
    cM3uImport playlist;
    std::string error;
    if (!parseM3u(text, playlist, error)) {
        std::printf("  import failed: %s\n", error.c_str());
        return;
    }
    const double parsed = millisecondsSince(start);
    start = tClock::now();
    if (!buildCatalogue(playlist.entries, scratch.file("m3u-database"), {}, error)) {
        std::printf("  build failed: %s\n", error.c_str());
        return;
    }
    const double built = millisecondsSince(start);
    std::printf("  read %8.1f ms, build %8.1f ms, total %8.1f ms (%zu channels, %zu rows)\n", parsed, built,
                parsed + built, playlist.channels, playlist.entries.size());
}

} // namespace

// With the argument "m3u", only the list imports are timed; with
// "list-fill", only the browser's click figures are printed; with
// "search", only the typing search's (the catalogue is built
// with the indexes for them).
int main(int argc, char** argv)
{
    const bool searchOnly = argc > 1 && std::string(argv[1]) == "search";
    const bool listFillOnly = searchOnly || (argc > 1 && std::string(argv[1]) == "list-fill");
    // Each figure shows as soon as it is measured.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    cTempFolder scratch;
    cSettings::instance()->setDataFolder(kestrel::fromUtf8(scratch.path()) + u"/");
    if (!listFillOnly) {
        benchM3uImport(scratch);
        benchPublicStyleImport(scratch);
    }
    if (argc > 1 && std::string(argv[1]) == "m3u") {
        cSettings::destroyInstance();
        return 0;
    }
    std::printf("catalogue of %d channels, %d countries, %d types\n", Channels, Countries, Types);
    const std::vector<cListingEntry> entries = generate(Channels, 0);
    std::string error;
    for (const bool indexes : {true, false}) {
        if (listFillOnly && !indexes) {
            continue;
        }
        const std::string folder = scratch.file(indexes ? "indexed" : "plain");
        std::filesystem::create_directories(folder);
        const auto start = tClock::now();
        if (!buildCatalogue(entries, folder + "/database", {indexes}, error)) {
            std::printf("build failed: %s\n", error.c_str());
            return 1;
        }
        std::printf("built %s catalogue in %.0f ms (%.1f MB)\n", indexes ? "indexed" : "plain",
                    millisecondsSince(start), std::filesystem::file_size(folder + "/database") / 1e6);
    }
    if (!listFillOnly) {
        benchQueries(scratch.file("indexed"), "browser queries with the builder's indexes");
        benchQueries(scratch.file("plain"), "browser queries without indexes");
    }
#ifdef LUMIVEX_BENCH_LIST_FILL
    if (!searchOnly) {
        benchListFill(scratch.file("indexed"));
    }
#endif
    benchSearchLike(scratch.file("indexed"));
#ifdef LUMIVEX_BENCH_LIST_FILL
    benchSearchFill(scratch.file("indexed"));
#else
    benchSearchIndex(scratch.file("indexed"), {});
#endif
    if (!listFillOnly) {
        benchDownload(scratch);
    }
    cSettings::destroyInstance();
    return 0;
}
