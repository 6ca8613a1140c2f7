#pragma once
// Keeps the programme guide fresh while the player runs: one refresh at
// once, then one every interval, on a thread of its own at a lower
// priority than the rest of the program, so that reading a large guide
// never delays the update scenes or playback.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class cGuideSchedule {
public:
    // The work of one refresh. It is handed the stop request, which it must
    // ask often enough to return promptly once it turns true.
    using tRefresh = std::function<void(const std::function<bool()>& stopRequested)>;

    // The guides are read again this often while the player runs.
    static constexpr std::chrono::hours RefreshInterval{12};

    cGuideSchedule() = default;
    // Stops (see stop()).
    ~cGuideSchedule();
    cGuideSchedule(const cGuideSchedule&) = delete;
    cGuideSchedule& operator=(const cGuideSchedule&) = delete;

    // Starts the thread: refresh now, then after every interval. Nothing
    // when it already runs. Any thread but the schedule's own.
    void start(tRefresh refresh, std::chrono::milliseconds interval = RefreshInterval);
    // Asks the thread to stop, wakes it from its wait and joins it: a
    // refresh under way ends at its next look at the stop request. Any
    // thread but the schedule's own; safe to call more than once.
    void stop();
    // Refreshes done so far (for checks).
    int refreshes() const;

private:
    void run(tRefresh refresh, std::chrono::milliseconds interval);

    mutable std::mutex mLock;
    std::condition_variable mWake;
    bool mStopping = false; // guarded by mLock
    int mRefreshes = 0;     // guarded by mLock
    std::thread mThread;    // started and joined under the caller's order
};
