#pragma once
// What the player tests share: the toolkit up on the test's display, the
// user's state in a temporary folder, clips made once per test binary and
// served from a loopback HTTP server, a scene that records the busy
// notifications, and a home scene whose requests are counted.

#include <mutex>
#include <string>
#include <vector>

#include "TestHttpServer.h"
#include "TestMedia.h"

#include "app/Scene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

// Runs the main loop until the condition holds or the time is up.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10));
// Runs the main loop for a while.
void pumpFor(std::chrono::milliseconds duration);

// A scene that only records what the player tells it.
// Takes the log's lines instead of standard error while it lives; the
// lines are read from any thread.
class cLogLines {
public:
    cLogLines();
    ~cLogLines();
    cLogLines(const cLogLines&) = delete;
    cLogLines& operator=(const cLogLines&) = delete;
    std::vector<std::string> lines() const;
    // The lines recorded so far that contain part.
    long count(const std::string& part) const;

private:
    mutable std::mutex mLock;
    std::vector<std::string> mLines; // guarded by mLock
};

class cRecordingScene : public cScene {
public:
    explicit cRecordingScene(ClutterActor* root) : cScene(root) {}
    void show() override {}
    void hide() override { delete this; }
    void busyStart() override { ++busyStarts; }
    void busyEnd() override { ++busyEnds; }
    static std::atomic<int> busyStarts;
    static std::atomic<int> busyEnds;
};

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Requests of the home scene since SetUp.
    static int homeRequests();
    std::string clipUrl(const std::string& name) { return mServer.url("/" + name); }

    static cTempFolder* sFolder;
    static std::atomic<int> sHomeScenes;
    cTestHttpServer mServer;
};
