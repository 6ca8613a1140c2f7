// The media layer driven alone, as the player drives it, on clips made at
// test time and served from a loopback HTTP server.

#include "TestHttpServer.h"
#include "TestMedia.h"
#include "playback/MediaGraph.h"

#include <gtest/gtest.h>

#include <gst/gst.h>

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

class cFrameRecorder : public cMediaGraph::cFrameCallback {
public:
    void sampleCB(double, const cVideoFrame& frame) override
    {
        std::lock_guard<std::mutex> lock(mLock);
        ++mFrames;
        mWidth = frame.width;
        mHeight = frame.height;
        mWhole = frame.isWhole();
        mStride = frame.stride;
        mFirstRow.assign(frame.row(0), frame.row(0) + frame.rowBytes());
        mLastRow.assign(frame.row(frame.height - 1), frame.row(frame.height - 1) + frame.rowBytes());
    }
    int frames()
    {
        std::lock_guard<std::mutex> lock(mLock);
        return mFrames;
    }

    std::mutex mLock;
    int mFrames = 0;
    int mWidth = 0;
    int mHeight = 0;
    bool mWhole = false;
    size_t mStride = 0;
    std::vector<uint8_t> mFirstRow; // row(0): the bottom row
    std::vector<uint8_t> mLastRow;  // the top row
};

// Waits for a condition with a deadline; true when it became true.
template <typename F>
bool eventually(F condition, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

class MediaGraphTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(initializeMedia());
        sFolder = new cTempFolder;
        cClipRecipe av;
        ASSERT_TRUE(makeClip(sFolder->path() + "av.mkv", av));
        cClipRecipe videoOnly;
        videoOnly.audio = false;
        videoOnly.seconds = 1;
        ASSERT_TRUE(makeClip(sFolder->path() + "video.mkv", videoOnly));
        cClipRecipe odd;
        odd.width = 322; // rows of 966 bytes: the framework pads them to 968
        odd.height = 240;
        odd.seconds = 1;
        odd.container = "mp4";
        ASSERT_TRUE(makeClip(sFolder->path() + "odd.mp4", odd));
    }
    static void TearDownTestSuite()
    {
        delete sFolder;
        sFolder = nullptr;
    }

    void SetUp() override
    {
        mServer.addFile("/av.mkv", sFolder->path() + "av.mkv", "video/x-matroska");
        mServer.addFile("/video.mkv", sFolder->path() + "video.mkv", "video/x-matroska");
        mServer.addFile("/odd.mp4", sFolder->path() + "odd.mp4", "video/mp4");
        mServer.addStall("/stall.mkv");
        mServer.addBody("/text.mkv", "this is not a video", 200, "video/x-matroska");
    }

    // The player's order: grabber, null renderer, source, load.
    bool buildAndLoad(cMediaGraph& graph, const std::string& url)
    {
        return graph.isValid() && graph.addSampleGrabber(&mRecorder) && graph.addNullRenderer() &&
               graph.addSource() && graph.load(url);
    }

    static cTempFolder* sFolder;
    cTestHttpServer mServer;
    cFrameRecorder mRecorder;
};

cTempFolder* MediaGraphTest::sFolder = nullptr;

// A row of 32-bit pixels (blue, green, red, alpha), every one of the colour
// and opaque.
bool isColour(const std::vector<uint8_t>& row, int blue, int green, int red)
{
    if (row.size() < 4) {
        return false;
    }
    for (size_t i = 0; i + 3 < row.size(); i += 4) {
        if (std::abs(row[i] - blue) > 40 || std::abs(row[i + 1] - green) > 40 || std::abs(row[i + 2] - red) > 40 ||
            row[i + 3] != 255) {
            return false;
        }
    }
    return true;
}

} // namespace

// First in this program, before any graph has loaded a plugin: the warm-up
// loads the network source, the demuxer and the decoders on its own thread.
TEST(MediaWarmUpTest, LoadsTheCommonPluginsBeforeTheFirstGraph)
{
    warmUpMedia();
    warmUpMedia(); // a second call starts nothing more
    ASSERT_TRUE(initializeMedia());
    const auto loaded = [](const char* name) {
        GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), name);
        const bool isLoaded = plugin != nullptr && gst_plugin_is_loaded(plugin);
        if (plugin != nullptr) {
            gst_object_unref(plugin);
        }
        return isLoaded;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(loaded("soup") && loaded("matroska") && loaded("libav")) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(loaded("soup"));
    EXPECT_TRUE(loaded("matroska"));
    EXPECT_TRUE(loaded("libav"));
}

TEST_F(MediaGraphTest, PlaysVideoAndAudioWithBottomRowFirstAndCompletes)
{
    cMediaGraph graph;
    ASSERT_TRUE(buildAndLoad(graph, mServer.url("/av.mkv"))) << graph.lastError();
    EXPECT_TRUE(graph.renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSource, cMediaGraph::FilterSampleGrabber));
    EXPECT_TRUE(graph.renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSampleGrabber,
                                   cMediaGraph::FilterNullRenderer));
    EXPECT_TRUE(graph.renderStream(cMediaGraph::MediaAudio, cMediaGraph::FilterSource,
                                   cMediaGraph::FilterDefaultRenderer));
    // Each stream can be rendered once.
    EXPECT_FALSE(graph.renderStream(cMediaGraph::MediaAudio, cMediaGraph::FilterSource,
                                    cMediaGraph::FilterDefaultRenderer));
    graph.setVolume(-693);
    ASSERT_TRUE(graph.run()) << graph.lastError();
    int width = 0;
    int height = 0;
    ASSERT_TRUE(graph.getFrameSize(width, height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);

    ASSERT_TRUE(eventually([&] { return graph.pollEvent() == cMediaGraph::EventComplete; }));
    // The completion is taken once.
    EXPECT_EQ(graph.pollEvent(), cMediaGraph::EventNone);
    std::lock_guard<std::mutex> lock(mRecorder.mLock);
    EXPECT_GE(mRecorder.mFrames, 45);
    EXPECT_LE(mRecorder.mFrames, 50);
    EXPECT_EQ(mRecorder.mWidth, 320);
    EXPECT_EQ(mRecorder.mHeight, 240);
    EXPECT_TRUE(mRecorder.mWhole);
    EXPECT_GE(mRecorder.mStride, 320u * 4);
    // The clip is red above and blue below; counted from the bottom, blue
    // comes first.
    EXPECT_TRUE(isColour(mRecorder.mFirstRow, 255, 0, 0)) << int(mRecorder.mFirstRow[0]);
    EXPECT_TRUE(isColour(mRecorder.mLastRow, 0, 0, 255)) << int(mRecorder.mLastRow[2]);
}

TEST_F(MediaGraphTest, OddWidthsKeepEveryPixelOfTheirRows)
{
    cMediaGraph graph;
    ASSERT_TRUE(buildAndLoad(graph, mServer.url("/odd.mp4"))) << graph.lastError();
    ASSERT_TRUE(graph.renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSource, cMediaGraph::FilterSampleGrabber));
    ASSERT_TRUE(graph.renderStream(cMediaGraph::MediaAudio, cMediaGraph::FilterSource,
                                   cMediaGraph::FilterDefaultRenderer));
    ASSERT_TRUE(graph.run()) << graph.lastError();
    ASSERT_TRUE(eventually([&] { return mRecorder.frames() > 3; }));
    std::lock_guard<std::mutex> lock(mRecorder.mLock);
    EXPECT_EQ(mRecorder.mWidth, 322);
    EXPECT_TRUE(mRecorder.mWhole);
    EXPECT_EQ(mRecorder.mFirstRow.size(), 322u * 4);
    EXPECT_TRUE(isColour(mRecorder.mFirstRow, 255, 0, 0));
    EXPECT_TRUE(isColour(mRecorder.mLastRow, 0, 0, 255));
}

TEST_F(MediaGraphTest, VideoOnlyClipHasNoAudioToRender)
{
    cMediaGraph graph;
    ASSERT_TRUE(buildAndLoad(graph, mServer.url("/video.mkv"))) << graph.lastError();
    EXPECT_TRUE(graph.renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSource, cMediaGraph::FilterSampleGrabber));
    EXPECT_FALSE(graph.renderStream(cMediaGraph::MediaAudio, cMediaGraph::FilterSource,
                                    cMediaGraph::FilterDefaultRenderer));
}

TEST_F(MediaGraphTest, PairsThatMakeNoSenseFail)
{
    cMediaGraph graph;
    ASSERT_TRUE(graph.addSource());
    // Before the grabber is connected there is nothing to pass on.
    EXPECT_FALSE(graph.renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSampleGrabber,
                                    cMediaGraph::FilterNullRenderer));
    EXPECT_FALSE(graph.renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSource,
                                    cMediaGraph::FilterSampleGrabber)); // no grabber
    EXPECT_FALSE(graph.renderStream(cMediaGraph::MediaAudio, cMediaGraph::FilterDefaultRenderer,
                                    cMediaGraph::FilterSource));
    EXPECT_FALSE(graph.addSource()); // one source per graph
    int width = 0;
    int height = 0;
    EXPECT_FALSE(graph.getFrameSize(width, height));
    EXPECT_FALSE(graph.run()); // nothing loaded: no stream ever starts
}

TEST_F(MediaGraphTest, LoadFailsForBadAddresses)
{
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    const int closed = socket.address().port();
    socket.close();
    cMediaGraph::setNetworkTimeout(5);
    struct {
        const char* name;
        std::string url;
    } cases[] = {
        {"refused", "http://127.0.0.1:" + std::to_string(closed) + "/av.mkv"},
        {"not found", mServer.url("/missing.mkv")},
        {"not a video", mServer.url("/text.mkv")},
        {"not an address", "no address at all"},
        {"missing file", "file:///nonexistent/clip.mkv"},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        cMediaGraph graph;
        EXPECT_FALSE(buildAndLoad(graph, c.url)) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << c.name;
    }
    cMediaGraph::setNetworkTimeout(15);
}

TEST_F(MediaGraphTest, StalledServerTimesOutAndInterruptEndsTheWaitAtOnce)
{
    cMediaGraph::setNetworkTimeout(2);
    {
        const auto start = std::chrono::steady_clock::now();
        cMediaGraph graph;
        EXPECT_FALSE(buildAndLoad(graph, mServer.url("/stall.mkv")));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 1500ms);
        EXPECT_LT(took, 6s);
    }
    cMediaGraph::setNetworkTimeout(15);
    {
        cMediaGraph graph;
        std::atomic<bool> done{false};
        std::thread interrupter([&] {
            std::this_thread::sleep_for(300ms);
            graph.interrupt();
            done = true;
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(buildAndLoad(graph, mServer.url("/stall.mkv")));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        interrupter.join();
        EXPECT_TRUE(graph.isInterrupted());
        EXPECT_FALSE(graph.run());
    }
}

TEST_F(MediaGraphTest, ReleaseWhileRunningStopsTheCallbacks)
{
    for (int round = 0; round < 3; ++round) {
        auto graph = std::make_unique<cMediaGraph>();
        ASSERT_TRUE(buildAndLoad(*graph, mServer.url("/av.mkv")));
        ASSERT_TRUE(graph->renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSource,
                                        cMediaGraph::FilterSampleGrabber));
        ASSERT_TRUE(graph->renderStream(cMediaGraph::MediaAudio, cMediaGraph::FilterSource,
                                        cMediaGraph::FilterDefaultRenderer));
        ASSERT_TRUE(graph->run());
        ASSERT_TRUE(eventually([&] { return mRecorder.frames() > 2; }));
        graph.reset();
        const int frames = mRecorder.frames();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(mRecorder.frames(), frames);
        mRecorder.mFrames = 0;
    }
}

TEST(MediaGraphVolumeTest, AttenuationBecomesLinearGain)
{
    struct {
        long attenuation;
        double gain;
    } cases[] = {{0, 1.0}, {-693, 0.45030}, {-2000, 0.1}, {-4605, 0.004966}, {-10000, 0.0}, {-12000, 0.0}, {50, 1.0}};
    for (const auto& c : cases) {
        EXPECT_NEAR(cMediaGraph::volumeForAttenuation(c.attenuation), c.gain, 1e-4) << c.attenuation;
    }
}
