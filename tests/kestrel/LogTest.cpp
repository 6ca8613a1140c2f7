#include "kestrel/Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace kestrel;

namespace {

// Records the log lines while alive, with LUMIVEX_DEBUG set as given
// (nullptr: unset).
class cLogCapture {
public:
    explicit cLogCapture(const char* debug)
    {
        if (debug) {
            setenv("LUMIVEX_DEBUG", debug, 1);
        } else {
            unsetenv("LUMIVEX_DEBUG");
        }
        kestrel::testing::setLogRecorder([this](const std::string& line) { lines.push_back(line); });
    }
    ~cLogCapture()
    {
        kestrel::testing::setLogRecorder({});
        unsetenv("LUMIVEX_DEBUG");
    }
    std::vector<std::string> lines; // written under the log's own lock
};

void logEveryLevel(const char* subsystem)
{
    logDebug(subsystem, "d");
    logInfo(subsystem, "i");
    logWarning(subsystem, "w");
    logError(subsystem, "e");
}

} // namespace

TEST(Log, WarningsAndErrorsAlwaysDebugOnlyForNamedSubsystems)
{
    struct Case {
        const char* variable;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {nullptr, {"lumivex: playback: warning: w", "lumivex: playback: error: e"}},
        {"", {"lumivex: playback: warning: w", "lumivex: playback: error: e"}},
        {"catalogue", {"lumivex: playback: warning: w", "lumivex: playback: error: e"}},
        {"catalogue, playback",
         {"lumivex: playback: debug: d", "lumivex: playback: info: i", "lumivex: playback: warning: w",
          "lumivex: playback: error: e"}},
        {"all",
         {"lumivex: playback: debug: d", "lumivex: playback: info: i", "lumivex: playback: warning: w",
          "lumivex: playback: error: e"}},
        {"play", {"lumivex: playback: warning: w", "lumivex: playback: error: e"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable ? c.variable : "(unset)");
        cLogCapture capture(c.variable);
        logEveryLevel("playback");
        EXPECT_EQ(capture.lines, c.expected);
        EXPECT_EQ(logEnabled(eLogLevel::Debug, "playback"), c.expected.size() == 4);
    }
}

TEST(Log, EveryMessageIsOneLine)
{
    cLogCapture capture(nullptr);
    logError("catalogue", "first\nsecond\r\nthird");
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0], "lumivex: catalogue: error: first second  third");

    // Lines of several threads arrive whole.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                logWarning("state", std::string(50, static_cast<char>('a' + t)));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_EQ(capture.lines.size(), 401u);
    for (size_t i = 1; i < capture.lines.size(); ++i) {
        const std::string& line = capture.lines[i];
        ASSERT_EQ(line.size(), std::string("lumivex: state: warning: ").size() + 50);
        EXPECT_EQ(line.find_first_not_of(line.back(), line.size() - 50), std::string::npos) << line;
    }
}

TEST(Log, TextFromOutsideIsPrintable)
{
    struct Case {
        std::string text;
        std::string printed;
    };
    const Case cases[] = {
        {"plain \xC3\xA9t\xC3\xA9 \xE2\x82\xAC", "plain \xC3\xA9t\xC3\xA9 \xE2\x82\xAC"},
        {"bell\a esc\x1B[31mred", "bell\\x07 esc\\x1B[31mred"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"del\x7F c1\xC2\x9B", "del\\x7F c1\\x9B"},                  // DEL and U+009B (CSI)
        {"bad\xFF\xC0 cut\xE2\x82", "bad\xEF\xBF\xBD\xEF\xBF\xBD cut\xEF\xBF\xBD"},
        {"rtl\xE2\x80\xAEtxt.exe", "rtl\\u202Etxt.exe"},                // right-to-left override
        {"ls\xE2\x80\xA8ps\xE2\x80\xA9", "ls\\u2028ps\\u2029"},
        {"tab\tlf\ncr\r", "tab\\x09lf\\x0Acr\\x0D"},
        {"back\\slash", "back\\slash"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(printableText(c.text), c.printed);
    }
    EXPECT_EQ(printableText("tab\tlf\ncr\r", true), "tab lf cr ");

    cLogCapture capture(nullptr);
    logWarning("playback", "channel \x1B]0;owned\x07 at http://x/\xE2\x80\xAE");
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0], "lumivex: playback: warning: channel \\x1B]0;owned\\x07 at http://x/\\u202E");
}

TEST(Log, LongMessagesAreCutAtACharacter)
{
    const std::string prefix = "lumivex: catalogue: warning: ";
    cLogCapture capture(nullptr);
    logWarning("catalogue", std::string(MaxLogMessageBytes, 'a'));           // fits
    logWarning("catalogue", std::string(MaxLogMessageBytes + 1, 'a'));
    logWarning("catalogue", "x" + std::string(3000, '\x01'));                // grows when escaped
    std::string accents;
    for (int i = 0; i < 2000; ++i) {
        accents += "\xC3\xA9";
    }
    logWarning("catalogue", accents);
    ASSERT_EQ(capture.lines.size(), 4u);
    EXPECT_EQ(capture.lines[0], prefix + std::string(MaxLogMessageBytes, 'a'));
    EXPECT_EQ(capture.lines[1], prefix + std::string(MaxLogMessageBytes, 'a') + " [cut; 2049 bytes in all]");
    const std::string& escaped = capture.lines[2];
    EXPECT_EQ(escaped.rfind(prefix + "x\\x01\\x01", 0), 0u);
    EXPECT_LE(escaped.size(), prefix.size() + MaxLogMessageBytes + 40);
    EXPECT_NE(escaped.find(" [cut; 3001 bytes in all]"), std::string::npos);
    const std::string& cut = capture.lines[3];
    const std::string body = cut.substr(prefix.size(), cut.find(" [cut") - prefix.size());
    EXPECT_EQ(body.size(), MaxLogMessageBytes); // 1024 whole characters
    EXPECT_EQ(body.substr(body.size() - 2), "\xC3\xA9");
}
