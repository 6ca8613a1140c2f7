#include "playback/Zapping.h"

#include <atomic>
#include <mutex>

#include "app/MainLoop.h"
#include "app/Scene.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Log.h"

namespace {

std::vector<sZapChannel> zapList; // main loop only
size_t zapPosition = 0;           // main loop only
bool switchWaiting = false;       // main loop only: a zap's switch is scheduled and has not run

// Read by the play task when a player fails, written on the main loop.
std::atomic<bool> zapping{false};

std::mutex showerLock;
tZapFailureShower failureShower; // guarded by showerLock
std::optional<sChannelFailure> failureToShow; // guarded by showerLock

void makeCurrent(const sZapChannel& channel)
{
    cPlayerDatabase* database = cPlayerDatabase::instance();
    if (channel.favourite >= 0) {
        database->selectFavourite(channel.favourite);
        return;
    }
    database->setCurrentCountry(channel.country);
    database->setCurrentType(channel.type);
    database->setCurrentName(channel.name);
}

} // namespace

void setZapList(std::vector<sZapChannel> channels, size_t position)
{
    zapList = std::move(channels);
    zapPosition = position < zapList.size() ? position : 0;
    zapping = false;
}

void clearZapList()
{
    setZapList({}, 0);
}

std::u16string zapBy(int step)
{
    const size_t count = zapList.size();
    if (count < 2) {
        return {};
    }
    const long long moved = static_cast<long long>(zapPosition) + step;
    const long long size = static_cast<long long>(count);
    zapPosition = static_cast<size_t>(((moved % size) + size) % size);
    const sZapChannel& channel = zapList[zapPosition];
    makeCurrent(channel);
    zapping = true;
    kestrel::logDebug("playback", "zapping to list place " + std::to_string(zapPosition + 1) + " of " +
                                      std::to_string(count));
    if (!switchWaiting) {
        switchWaiting = true;
        // Ordered with the scene requests: the same priority as theirs.
        postToMainLoop(PrioritySceneSwitch, [] {
            switchWaiting = false;
            runPlayChannelProcedure();
        });
    }
    return channel.name;
}

bool isZapping()
{
    return zapping;
}

void stopZapping()
{
    zapping = false;
}

void setZapFailureShower(tZapFailureShower shower)
{
    std::lock_guard<std::mutex> lock(showerLock);
    failureShower = std::move(shower);
}

std::optional<sChannelFailure> takeFailureToShow()
{
    std::lock_guard<std::mutex> lock(showerLock);
    std::optional<sChannelFailure> failure = std::move(failureToShow);
    failureToShow.reset();
    return failure;
}

void playerOpenFailed(const sChannelFailure& failure, std::function<bool()> wanted)
{
    if (!zapping) {
        {
            std::lock_guard<std::mutex> lock(showerLock);
            failureToShow = failure;
        }
        requestHomeScene();
        return;
    }
    postToMainLoop(PrioritySceneSwitch, [failure, wanted = std::move(wanted)] {
        // A player replaced or stopped meanwhile no longer speaks for the
        // current scene.
        if (wanted && !wanted()) {
            return;
        }
        tZapFailureShower shower;
        {
            std::lock_guard<std::mutex> lock(showerLock);
            shower = failureShower;
        }
        if (!zapping || !shower) {
            // The user stopped zapping meanwhile: as outside zapping.
            {
                std::lock_guard<std::mutex> lock(showerLock);
                failureToShow = failure;
            }
            requestHomeScene();
            return;
        }
        runGuarded([&] { shower(failure); });
    });
}
