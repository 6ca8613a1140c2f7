#include "playback/ReconnectPolicy.h"

#include <algorithm>

void cReconnectPolicy::dropped(tTime now)
{
    mDropTime = now;
    mAttemptsSinceDrop = 0;
    mDrops.push_back(now);
    while (!mDrops.empty() && now - mDrops.front() >= DropWindow) {
        mDrops.pop_front();
    }
}

bool cReconnectPolicy::droppedTooOften(tTime now) const
{
    const auto recent = std::count_if(mDrops.begin(), mDrops.end(), [now](tTime drop) { return now - drop < DropWindow; });
    return recent > MaxDrops;
}

bool cReconnectPolicy::nextAttempt(tTime now, tTime& startAt) const
{
    if (droppedTooOften(now) || now >= giveUpAt()) {
        return false;
    }
    const auto recent = std::count_if(mAttempts.begin(), mAttempts.end(),
                                      [now](tTime attempt) { return now - attempt < AttemptWindow; });
    if (recent >= MaxAttempts) {
        return false;
    }
    // The first attempt follows the drop at once (a dropped connection is
    // often back already); the others leave the server a second more each.
    startAt = std::min(now + std::chrono::seconds(mAttemptsSinceDrop), giveUpAt());
    return true;
}

void cReconnectPolicy::attempting(tTime now)
{
    while (!mAttempts.empty() && now - mAttempts.front() >= AttemptWindow) {
        mAttempts.pop_front();
    }
    mAttempts.push_back(now);
    ++mAttemptsSinceDrop;
}
