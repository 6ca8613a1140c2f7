// Prints how long reading and storing a large generated XMLTV guide takes,
// the peak memory of the process that does it, and how long a now/next
// lookup and a channel match take on the installed guide. Figures only:
// nothing here passes or fails on time.
//
//   guide_bench [MEGABYTES]      (default 10)
//
// The guide (a week of programmes, two days back and five ahead) is
// written to disk as it is generated; the refresh runs in a child process
// of its own, so that its peak resident memory is the reader's and the
// builder's alone.

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "guide/Guide.h"
#include "guide/GuideText.h"
#include "kestrel/Unicode.h"
#include "tests/support/TempFolder.h"

namespace {

using tClock = std::chrono::steady_clock;

const char* const Words[] = {"news", "evening", "world", "journal", "film", "sport", "weather", "live",
                             "magazine", "documentary", "series", "the", "of", "and", "report", "morning"};

std::string words(std::mt19937& random, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += (i ? " " : "") + std::string(Words[random() % 16]);
    }
    return text;
}

// One channel's week of programmes, an hour or so each.
std::string channelWeek(std::mt19937& random, int channel, int64_t from)
{
    std::string text;
    const std::string id = "ch" + std::to_string(channel) + ".example";
    int64_t start = from;
    const int64_t end = from + 7 * 24 * 3600;
    while (start < end) {
        const int64_t stop = start + 1800 * (1 + static_cast<int64_t>(random() % 3));
        text += "<programme start=\"" + formatXmltvTime(start) + "\" stop=\"" + formatXmltvTime(stop) + "\" channel=\"" + id +
                "\">\n  <title lang=\"en\">" + words(random, 3) + "</title>\n  <sub-title lang=\"en\">" +
                words(random, 2) + "</sub-title>\n  <desc lang=\"en\">" + words(random, 25) +
                "</desc>\n  <category lang=\"en\">" + words(random, 1) + "</category>\n</programme>\n";
        start = stop;
    }
    return text;
}

// Writes about megabytes of guide; returns the channel count.
int generate(const std::string& path, double megabytes, int64_t now)
{
    std::mt19937 random(29);
    const int64_t from = now - 2 * 24 * 3600;
    const size_t perChannel = channelWeek(random, 0, from).size();
    const int channels = std::max(1, static_cast<int>(megabytes * 1e6 / static_cast<double>(perChannel)));
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n<tv>\n", file);
    for (int i = 0; i < channels; ++i) {
        const std::string text = "<channel id=\"ch" + std::to_string(i) + ".example\">\n  <display-name>Chaîne " +
                                 std::to_string(i) + "</display-name>\n</channel>\n";
        std::fputs(text.c_str(), file);
    }
    for (int i = 0; i < channels; ++i) {
        std::fputs(channelWeek(random, i, from).c_str(), file);
    }
    std::fputs("</tv>\n", file);
    std::fclose(file);
    return channels;
}

// The child: refreshes the folder's guide from the file and prints the
// seconds it took and its peak resident memory in KiB.
int parseChild(const std::string& source, const std::string& folder, int64_t now)
{
    const auto started = tClock::now();
    const cGuideRefreshOutcome outcome = refreshGuide({source}, kestrel::fromUtf8(folder), cGuideLimits(), now, {});
    const double seconds = std::chrono::duration<double>(tClock::now() - started).count();
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d %.3f %ld %zu %zu\n", outcome.result == eGuideRefresh::Installed ? 1 : 0, seconds,
                usage.ru_maxrss, outcome.channels, outcome.programmes);
    return outcome.result == eGuideRefresh::Installed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--parse") {
        return parseChild(argv[2], argv[3], std::strtoll(argv[4], nullptr, 10));
    }
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (megabytes <= 0) {
        std::fprintf(stderr, "usage: guide_bench [MEGABYTES]\n");
        return 2;
    }
    testsupport::cTempFolder folder("guide-bench");
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    const std::string source = folder.file("guide.xml");

    auto started = tClock::now();
    const int channels = generate(source, megabytes, now);
    const double generateSeconds = std::chrono::duration<double>(tClock::now() - started).count();
    const uintmax_t bytes = std::filesystem::file_size(source);
    std::printf("guide_bench: generated %.1f MB, %d channels, a week of programmes, in %.2f s\n", bytes / 1e6,
                channels, generateSeconds);

    const std::string command = "'" + std::filesystem::read_symlink("/proc/self/exe").string() + "' --parse '" + source + "' '" +
                                folder.path() + "' " + std::to_string(now);
    FILE* child = popen(command.c_str(), "r");
    int installed = 0;
    double parseSeconds = 0;
    long peakKiB = 0;
    size_t guideChannels = 0, guideProgrammes = 0;
    if (child == nullptr || std::fscanf(child, "%d %lf %ld %zu %zu", &installed, &parseSeconds, &peakKiB,
                                        &guideChannels, &guideProgrammes) != 5) {
        std::fprintf(stderr, "guide_bench: the parsing child gave no figures\n");
        return 1;
    }
    pclose(child);
    if (!installed) {
        std::fprintf(stderr, "guide_bench: the guide was not installed\n");
        return 1;
    }
    const uintmax_t guideBytes = std::filesystem::file_size(folder.file("guide"));
    std::printf("guide_bench: parse and store: %.2f s (%.1f MB/s), peak resident memory %.1f MB; "
                "%zu channels, %zu programmes in the window, guide file %.1f MB\n",
                parseSeconds, bytes / 1e6 / parseSeconds, peakKiB / 1024.0, guideChannels, guideProgrammes,
                guideBytes / 1e6);

    const std::unique_ptr<cGuide> guide = cGuide::open(folder.wideFile("guide"));
    if (!guide) {
        std::fprintf(stderr, "guide_bench: the guide cannot be opened\n");
        return 1;
    }
    std::mt19937 random(7);
    const int lookups = 100000;
    size_t found = 0;
    started = tClock::now();
    for (int i = 0; i < lookups; ++i) {
        const std::string id = "ch" + std::to_string(random() % static_cast<unsigned>(channels)) + ".example";
        const cNowNext result = guide->nowNext(id, now + static_cast<int64_t>(random() % (40 * 3600)));
        found += result.now ? 1 : 0;
    }
    const double lookupMicroseconds =
        std::chrono::duration<double, std::micro>(tClock::now() - started).count() / lookups;
    const int matches = 10000;
    size_t matched = 0;
    started = tClock::now();
    for (int i = 0; i < matches; ++i) {
        const int channel = static_cast<int>(random() % static_cast<unsigned>(channels));
        matched += guide->matchChannel("", "CHAINE-" + std::to_string(channel)).empty() ? 0 : 1;
    }
    const double matchMicroseconds =
        std::chrono::duration<double, std::micro>(tClock::now() - started).count() / matches;
    std::printf("guide_bench: now/next lookup: %.1f us on average over %d (%zu with a current programme); "
                "match by name: %.1f us (%zu of %d matched)\n",
                lookupMicroseconds, lookups, found, matchMicroseconds, matched, matches);
    return 0;
}
