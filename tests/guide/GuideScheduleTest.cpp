// The guide's schedule: a refresh at once, again after every interval, and
// a stop that ends a wait or a refresh under way at once.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "guide/GuideSchedule.h"

using namespace std::chrono_literals;

namespace {

// Waits up to `limit` for the condition.
template <typename tCondition>
bool eventually(tCondition condition, std::chrono::milliseconds limit = 5000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

} // namespace

TEST(GuideSchedule, RefreshesAtOnceThenEveryIntervalUntilStopped)
{
    std::atomic<int> calls{0};
    cGuideSchedule schedule;
    schedule.start([&calls](const std::function<bool()>&) { ++calls; }, 50ms);
    EXPECT_TRUE(eventually([&] { return calls.load() >= 3; }));
    schedule.stop();
    const int stopped = calls.load();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(calls.load(), stopped);
    EXPECT_EQ(schedule.refreshes(), stopped);
}

TEST(GuideSchedule, StopEndsTheLongWaitAndARefreshUnderWayAtOnce)
{
    // Waiting for the next round, twelve hours away.
    {
        cGuideSchedule schedule;
        std::atomic<int> calls{0};
        schedule.start([&calls](const std::function<bool()>&) { ++calls; });
        ASSERT_TRUE(eventually([&] { return schedule.refreshes() == 1; }));
        const auto before = std::chrono::steady_clock::now();
        schedule.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        EXPECT_EQ(calls.load(), 1);
    }
    // In a refresh that looks at the stop request as it goes; a failing
    // refresh before it does not end the schedule.
    cGuideSchedule schedule;
    std::atomic<int> calls{0};
    std::atomic<bool> sawStop{false};
    schedule.start(
        [&](const std::function<bool()>& stopRequested) {
            if (++calls == 1) {
                throw std::runtime_error("no guide today");
            }
            while (!stopRequested()) {
                std::this_thread::sleep_for(1ms);
            }
            sawStop = true;
        },
        10ms);
    ASSERT_TRUE(eventually([&] { return calls.load() >= 2; }));
    const auto before = std::chrono::steady_clock::now();
    schedule.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_TRUE(sawStop.load());
    // Stopping again, or a destructor after a stop, does nothing.
    schedule.stop();
}
