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
