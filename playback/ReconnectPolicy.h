#pragma once
// When a live stream that dropped after it had played is reopened, and
// when the channel gives up. Plain rules over the times it is given, so
// that a table of cases can check them without waiting.
//
// After a drop, at most MaxAttempts reconnections are made, the first at
// once and each further one a second later than the one before, all within
// AttemptWindow of the drop. A channel that plays and drops again and again
// (a live playlist refused a few seconds into every window, for one) is
// bounded as a whole: a drop that would be the (MaxDrops + 1)th within
// DropWindow is not reopened, and the channel fails with its reason.

#include <chrono>
#include <deque>

class cReconnectPolicy {
public:
    using tTime = std::chrono::steady_clock::time_point;

    static constexpr int MaxAttempts = 3;
    static constexpr std::chrono::seconds AttemptWindow{15};
    static constexpr int MaxDrops = 5;
    static constexpr std::chrono::seconds DropWindow{300};

    // The stream dropped at `now`: its attempts start again.
    void dropped(tTime now);
    // Before an attempt at `now`: false when the channel gives up (the
    // attempts or the window of this drop are used up, or it has dropped
    // too often lately); otherwise startAt is when the attempt may start.
    bool nextAttempt(tTime now, tTime& startAt) const;
    // The attempt starts at `now`.
    void attempting(tTime now);

    // Every attempt of this drop ends by then.
    tTime giveUpAt() const { return mDropTime + AttemptWindow; }
    int attemptsSinceDrop() const { return mAttemptsSinceDrop; }
    // True when the last nextAttempt() gave up for too many drops.
    bool droppedTooOften(tTime now) const;

private:
    tTime mDropTime;
    int mAttemptsSinceDrop = 0;
    std::deque<tTime> mAttempts; // within AttemptWindow of the last one looked at
    std::deque<tTime> mDrops;    // within DropWindow of the last drop
};
