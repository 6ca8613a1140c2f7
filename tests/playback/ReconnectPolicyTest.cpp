// The reconnection rules of a live stream, on a clock of the test's: the
// attempts of one drop, their pauses and window, and the bound over many
// drops of a channel that plays and drops again and again.

#include "playback/ReconnectPolicy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tTime = cReconnectPolicy::tTime;

// One step of a story: at `at` seconds, the stream drops ('d') or an
// attempt is asked for ('a'); for an attempt, whether it is made and the
// second it may start at.
struct cStep {
    double at;
    char what;
    bool allowed = true;
    double startsAt = 0;
};

} // namespace

TEST(ReconnectPolicy, AttemptsOfADropAndDropsOfAChannelAreBounded)
{
    const struct {
        const char* story;
        std::vector<cStep> steps;
    } cases[] = {
        {"one drop: three attempts, a second more apart each, then none",
         {{0, 'd'}, {0, 'a', true, 0}, {2, 'a', true, 3}, {5, 'a', true, 7}, {9, 'a', false}}},
        {"the attempts of a drop end with its window",
         {{0, 'd'}, {0, 'a', true, 0}, {14.5, 'a', true, 15}, {15, 'a', false}}},
        {"a stream that plays again starts its attempts anew",
         {{0, 'd'}, {0, 'a', true, 0}, {1, 'a', true, 2}, {30, 'd'}, {30, 'a', true, 30}}},
        {"dropping every 8 s after playing: the sixth drop in five minutes is not reopened",
         {{0, 'd'}, {0, 'a', true, 0}, {8, 'd'}, {8, 'a', true, 8}, {16, 'd'}, {16, 'a', true, 16},
          {24, 'd'}, {24, 'a', true, 24}, {32, 'd'}, {32, 'a', true, 32}, {40, 'd'}, {40, 'a', false}}},
        {"drops far apart are each reopened",
         {{0, 'd'}, {0, 'a', true, 0}, {100, 'd'}, {100, 'a', true, 100}, {200, 'd'}, {200, 'a', true, 200},
          {301, 'd'}, {301, 'a', true, 301}, {402, 'd'}, {402, 'a', true, 402}, {503, 'd'}, {503, 'a', true, 503},
          {604, 'd'}, {604, 'a', true, 604}}},
    };
    const tTime origin = tTime() + 1000s;
    const auto clock = [origin](double seconds) {
        return origin + std::chrono::duration_cast<tTime::duration>(std::chrono::duration<double>(seconds));
    };
    for (const auto& c : cases) {
        cReconnectPolicy policy;
        for (const cStep& step : c.steps) {
            SCOPED_TRACE(std::string(c.story) + ", at " + std::to_string(step.at) + " s");
            if (step.what == 'd') {
                policy.dropped(clock(step.at));
                continue;
            }
            tTime startAt;
            const bool allowed = policy.nextAttempt(clock(step.at), startAt);
            ASSERT_EQ(allowed, step.allowed);
            if (allowed) {
                EXPECT_EQ(startAt, clock(step.startsAt));
                policy.attempting(startAt);
            }
        }
    }
}
