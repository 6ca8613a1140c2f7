#include "guide/GuideSchedule.h"

#include <exception>

#include <sys/resource.h>
#include <unistd.h>

#include "kestrel/Log.h"

cGuideSchedule::~cGuideSchedule()
{
    stop();
}

void cGuideSchedule::start(tRefresh refresh, std::chrono::milliseconds interval)
{
    std::lock_guard<std::mutex> guard(mLock);
    if (mThread.joinable()) {
        return;
    }
    mStopping = false;
    mThread = std::thread([this, refresh = std::move(refresh), interval] { run(refresh, interval); });
}

void cGuideSchedule::stop()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> guard(mLock);
        mStopping = true;
        thread = std::move(mThread);
    }
    mWake.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

int cGuideSchedule::refreshes() const
{
    std::lock_guard<std::mutex> guard(mLock);
    return mRefreshes;
}

void cGuideSchedule::run(tRefresh refresh, std::chrono::milliseconds interval)
{
    // Nicer than the rest of the program (on Linux the nice value belongs
    // to the thread): the guide can wait, the pictures cannot.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    const std::function<bool()> stopRequested = [this] {
        std::lock_guard<std::mutex> guard(mLock);
        return mStopping;
    };
    for (;;) {
        try {
            refresh(stopRequested);
        } catch (const std::exception& failure) {
            // The old guide stays; the next round tries again.
            kestrel::logWarning("guide", std::string("the guide refresh failed: ") + failure.what());
        } catch (...) {
            kestrel::logWarning("guide", "the guide refresh failed");
        }
        std::unique_lock<std::mutex> guard(mLock);
        ++mRefreshes;
        if (mWake.wait_for(guard, interval, [this] { return mStopping; })) {
            return;
        }
    }
}
