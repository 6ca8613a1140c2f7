#include "PlayerFixture.h"

#include <algorithm>

#include "kestrel/Log.h"

#include "playback/MediaGraph.h"
#include "playback/PlayerManager.h"
#include "playback/Playback.h"

#include "app/Stage.h"
#include "kestrel/Unicode.h"
#include "state/Recent.h"
#include "state/Settings.h"

#include <thread>

std::atomic<int> cRecordingScene::busyStarts{0};
std::atomic<int> cRecordingScene::busyEnds{0};
cTempFolder* PlayerTest::sFolder = nullptr;
std::atomic<int> PlayerTest::sHomeScenes{0};

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

void pumpFor(std::chrono::milliseconds duration)
{
    pumpUntil([] { return false; }, duration);
}

namespace {

class cHomeScene : public cScene {
public:
    explicit cHomeScene(ClutterActor* root) : cScene(root) {}
    void show() override {}
    void hide() override { delete this; }
};

} // namespace

void PlayerTest::SetUpTestSuite()
{
    sFolder = new cTempFolder;
    cSettings::instance()->setDataFolder(kestrel::fromUtf8(sFolder->path()));
    ASSERT_TRUE(initializeUi()) << "needs a display";
    ASSERT_TRUE(initializeMedia());
    installPlayback();
    registerSceneFactory(SceneHome, [](ClutterActor* root) {
        ++sHomeScenes;
        return new cHomeScene(root);
    });

    struct {
        const char* name;
        cClipRecipe recipe;
    } clips[] = {
        {"av.mkv", {}},
        {"long.mkv", {}},
        {"short.mkv", {}},
        {"video.mkv", {}},
    };
    clips[1].recipe.seconds = 6;
    clips[2].recipe.seconds = 1;
    clips[3].recipe.audio = false;
    clips[3].recipe.seconds = 1;
    for (auto& clip : clips) {
        ASSERT_TRUE(makeClip(sFolder->path() + clip.name, clip.recipe)) << clip.name;
    }
}

void PlayerTest::TearDownTestSuite()
{
    shutdownPlayback();
    pumpFor(std::chrono::milliseconds(100));
    delete sFolder;
    sFolder = nullptr;
}

void PlayerTest::SetUp()
{
    for (const char* name : {"av.mkv", "long.mkv", "short.mkv", "video.mkv"}) {
        mServer.addFile(std::string("/") + name, sFolder->path() + name, "video/x-matroska");
    }
    mServer.addStall("/stall.mkv");
    closeCurrentScene();
    presentScene(new cRecordingScene(stageActor()));
    cRecordingScene::busyStarts = 0;
    cRecordingScene::busyEnds = 0;
    pumpFor(std::chrono::milliseconds(10));
    sHomeScenes = 0;
    resetFrameStats();
}

void PlayerTest::TearDown()
{
    cPlayerManager::instance()->destroyCurrentPlayer();
    cPlayerManager::instance()->waitForDestroyers();
    // Let uploads and notifications still queued for the main loop run.
    pumpFor(std::chrono::milliseconds(50));
    closeCurrentScene();
}

int PlayerTest::homeRequests() { return sHomeScenes; }

cLogLines::cLogLines()
{
    kestrel::testing::setLogRecorder([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(mLock);
        mLines.push_back(line);
    });
}

cLogLines::~cLogLines()
{
    kestrel::testing::setLogRecorder({});
}

std::vector<std::string> cLogLines::lines() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mLines;
}

long cLogLines::count(const std::string& part) const
{
    std::lock_guard<std::mutex> lock(mLock);
    return std::count_if(mLines.begin(), mLines.end(),
                         [&part](const std::string& line) { return line.find(part) != std::string::npos; });
}
