// The stream kinds that channels use today, each played through the real
// player into a real texture on the test's display: HLS (video on demand, a
// live sliding window, a variant playlist with two renditions), MPEG-TS over
// HTTP without end, and RTSP over TCP and over UDP. Every stream is made in
// the test and served on 127.0.0.1; each kind also fails in the ways a real
// server fails, and the player ends as it does for any failed open or
// stream error.

#include "PlayerFixture.h"
#include "TestStreams.h"

#include "playback/MediaGraph.h"
#include "playback/SampleGrabberCB.h"
#include "playback/VideoPlayer.h"

#include "app/Stage.h"
#include "kestrel/Unicode.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

// The failures give up after this much network silence; the waits for
// their outcome allow for it twice over plus the reopen.
constexpr unsigned NetworkTimeoutSeconds = 3;
constexpr auto FailureLimit = std::chrono::seconds(2 * NetworkTimeoutSeconds + 6);

std::string readText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Collects what the process writes on standard error while it lives.
class cStderrCapture {
public:
    cStderrCapture()
    {
        std::fflush(stderr);
        mFile = std::tmpfile();
        mSaved = dup(2);
        if (mFile != nullptr && mSaved >= 0) {
            dup2(fileno(mFile), 2);
        }
    }
    ~cStderrCapture() { text(); }
    // Restores standard error and returns what was written meanwhile.
    std::string text()
    {
        if (mSaved >= 0) {
            std::fflush(stderr);
            dup2(mSaved, 2);
            close(mSaved);
            mSaved = -1;
            if (mFile != nullptr) {
                std::rewind(mFile);
                char buffer[4096];
                size_t got;
                while ((got = std::fread(buffer, 1, sizeof(buffer), mFile)) > 0) {
                    mText.append(buffer, got);
                }
                std::fclose(mFile);
                mFile = nullptr;
            }
        }
        return mText;
    }

private:
    FILE* mFile = nullptr;
    int mSaved = -1;
    std::string mText;
};

} // namespace

class StreamKindsTest : public PlayerTest {
protected:
    static void SetUpTestSuite()
    {
        PlayerTest::SetUpTestSuite();
        sStreams = new cTempFolder;
        cClipRecipe vod;
        vod.container = "hls";
        vod.seconds = 3;
        vod.movingBox = true;
        cClipRecipe low = vod;
        low.width = 160;
        low.height = 120;
        cClipRecipe live = vod;
        live.seconds = 10;
        ASSERT_TRUE(makeClip(sStreams->path() + "vod.m3u8", vod));
        ASSERT_TRUE(makeClip(sStreams->path() + "low.m3u8", low));
        ASSERT_TRUE(makeClip(sStreams->path() + "live.m3u8", live));
    }
    static void TearDownTestSuite()
    {
        delete sStreams;
        sStreams = nullptr;
        PlayerTest::TearDownTestSuite();
    }

    void SetUp() override
    {
        PlayerTest::SetUp();
        cMediaGraph::setNetworkTimeout(NetworkTimeoutSeconds);
        mTexture = clutter_texture_new();
        g_object_ref_sink(mTexture);
        // The renditions and their segments; the live playlist is served by
        // the tests that slide its window.
        for (const char* name : {"vod", "low"}) {
            serveHls(mServer, name);
        }
        for (int i = 0; i < 10; ++i) {
            mServer.addFile("/" + segment("live", i), sStreams->path() + segment("live", i), "video/mp2t");
        }
    }
    void TearDown() override
    {
        PlayerTest::TearDown();
        g_object_unref(mTexture);
        cMediaGraph::setNetworkTimeout(15);
    }

    static std::string segment(const std::string& stem, int index)
    {
        char name[16];
        std::snprintf(name, sizeof(name), "%03d", index);
        return stem + name + ".ts";
    }
    static void serveHls(cTestHttpServer& server, const std::string& stem)
    {
        server.addBody("/" + stem + ".m3u8", readText(sStreams->path() + stem + ".m3u8"), 200,
                       "application/vnd.apple.mpegurl");
        for (int i = 0; std::ifstream(sStreams->path() + segment(stem, i)).good(); ++i) {
            server.addFile("/" + segment(stem, i), sStreams->path() + segment(stem, i), "video/mp2t");
        }
    }

    // The live playlist as a server would show it at one moment: `count`
    // one-second segments from `first` on, no end mark.
    static std::string liveWindow(int first, int count)
    {
        std::ostringstream text;
        text << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:" << first << "\n";
        for (int i = first; i < first + count; ++i) {
            text << "#EXTINF:1.000000,\n" << segment("live", i) << "\n";
        }
        return text.str();
    }

    cVideoPlayer* startPlayer(const std::string& url)
    {
        auto* player = new cVideoPlayer(new cPlayList(kestrel::fromUtf8(url), u"Channel", u"About it"));
        player->setTexture(CLUTTER_TEXTURE(mTexture));
        EXPECT_TRUE(player->open()) << url;
        return player;
    }

    // Waits until the player runs and `frames` more frames reached the
    // texture; true when they did in time.
    bool framesArrive(cVideoPlayer* player, uint64_t frames, std::chrono::milliseconds limit = 15s)
    {
        const uint64_t before = frameStats().uploaded;
        return pumpUntil([&] { return player->isLoaded() && frameStats().uploaded >= before + frames; }, limit);
    }

    void expectTextureSize(int width, int height)
    {
        int textureWidth = 0;
        int textureHeight = 0;
        clutter_texture_get_base_size(CLUTTER_TEXTURE(mTexture), &textureWidth, &textureHeight);
        EXPECT_EQ(textureWidth, width);
        EXPECT_EQ(textureHeight, height);
    }

    static cTempFolder* sStreams;
    ClutterActor* mTexture = nullptr;
};

cTempFolder* StreamKindsTest::sStreams = nullptr;

TEST_F(StreamKindsTest, HlsVideoOnDemandPlaysToTheEndAndStartsAgain)
{
    cVideoPlayer* player = startPlayer(mServer.url("/vod.m3u8"));
    ASSERT_TRUE(framesArrive(player, 10));
    expectTextureSize(320, 240);
    EXPECT_EQ(cRecordingScene::busyEnds, 1);
    // Every segment is fetched, and at the end the one-entry playlist opens
    // the same address again.
    EXPECT_TRUE(pumpUntil([&] { return mServer.hits("/vod.m3u8") >= 2; }, 15s));
    EXPECT_GE(mServer.hits("/" + segment("vod", 2)), 1);
    EXPECT_TRUE(framesArrive(player, 5));
    EXPECT_EQ(homeRequests(), 0);
    delete player;
}

TEST_F(StreamKindsTest, HlsLivePlaylistFollowsSegmentsAppearingWhilePlaying)
{
    int first = 0;
    mServer.addBody("/live.m3u8", liveWindow(first, 3), 200, "application/vnd.apple.mpegurl");
    cVideoPlayer* player = startPlayer(mServer.url("/live.m3u8"));
    ASSERT_TRUE(framesArrive(player, 10));
    expectTextureSize(320, 240);

    // One segment more each second, the oldest dropped, as a live server
    // does; the player must fetch the segments that were not there when it
    // started.
    auto slide = std::chrono::steady_clock::now();
    const auto windowSlides = [&] {
        if (std::chrono::steady_clock::now() - slide >= 1s && first < 7) {
            slide = std::chrono::steady_clock::now();
            ++first;
            mServer.addBody("/live.m3u8", liveWindow(first, 3), 200, "application/vnd.apple.mpegurl");
        }
    };
    EXPECT_TRUE(pumpUntil(
        [&] {
            windowSlides();
            return mServer.hits("/" + segment("live", 6)) >= 1;
        },
        20s));
    EXPECT_GE(mServer.hits("/live.m3u8"), 3);
    EXPECT_TRUE(player->isLoaded());
    EXPECT_TRUE(framesArrive(player, 5));
    EXPECT_EQ(homeRequests(), 0);
    delete player;
}

TEST_F(StreamKindsTest, HlsVariantPlaylistPlaysOneOfItsRenditions)
{
    mServer.addBody("/master.m3u8",
                    "#EXTM3U\n"
                    "#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=160x120,CODECS=\"avc1.42c00c,mp4a.40.2\"\n"
                    "low.m3u8\n"
                    "#EXT-X-STREAM-INF:BANDWIDTH=600000,RESOLUTION=320x240,CODECS=\"avc1.42c00d,mp4a.40.2\"\n"
                    "vod.m3u8\n",
                    200, "application/vnd.apple.mpegurl");
    cVideoPlayer* player = startPlayer(mServer.url("/master.m3u8"));
    ASSERT_TRUE(framesArrive(player, 10));
    EXPECT_GE(mServer.hits("/low.m3u8") + mServer.hits("/vod.m3u8"), 1);
    int width = 0;
    int height = 0;
    clutter_texture_get_base_size(CLUTTER_TEXTURE(mTexture), &width, &height);
    EXPECT_TRUE((width == 160 && height == 120) || (width == 320 && height == 240)) << width << "x" << height;
    EXPECT_EQ(homeRequests(), 0);
    delete player;
}

TEST_F(StreamKindsTest, MpegTsOverHttpWithoutEndKeepsPlaying)
{
    mServer.addGenerator("/live.ts", "video/mp2t", writeLiveTransportStream);
    cVideoPlayer* player = startPlayer(mServer.url("/live.ts"));
    ASSERT_TRUE(framesArrive(player, 10));
    expectTextureSize(320, 240);
    // Three seconds more on the same connection: no end, no reopen.
    EXPECT_TRUE(framesArrive(player, 50));
    EXPECT_EQ(mServer.hits("/live.ts"), 1);
    EXPECT_EQ(homeRequests(), 0);
    delete player;
}

TEST_F(StreamKindsTest, RtspPlaysOverTcpAndOverUdp)
{
    cTestRtspServer server;
    ASSERT_TRUE(server.isValid());
    server.addStream("/tcp", cTestRtspServer::OverTcp);
    server.addStream("/udp", cTestRtspServer::OverUdp);
    for (const char* path : {"/tcp", "/udp"}) {
        const int sessions = server.sessions();
        cVideoPlayer* player = startPlayer(server.url(path));
        EXPECT_TRUE(framesArrive(player, 25)) << path;
        expectTextureSize(320, 240);
        EXPECT_EQ(server.sessions(), sessions + 1) << path;
        EXPECT_EQ(homeRequests(), 0) << path;
        delete player;
    }
}

// Each failure ends as the player ends any failed open (the home scene) or
// any stream error (the playlist's next entry), within the time-outs.
TEST_F(StreamKindsTest, FailingStreamsEndInTheNextEntryOrTheHomeScene)
{
    // A playlist whose first segment is missing, and one whose third is.
    const std::string vod = readText(sStreams->path() + "vod.m3u8");
    std::string holeFirst = vod;
    holeFirst.replace(holeFirst.find(segment("vod", 0)), segment("vod", 0).size(), "gone000.ts");
    mServer.addBody("/hole-first.m3u8", holeFirst, 200, "application/vnd.apple.mpegurl");
    std::string holeLater = vod;
    holeLater.replace(holeLater.find(segment("vod", 2)), segment("vod", 2).size(), "gone002.ts");
    mServer.addBody("/hole-later.m3u8", holeLater, 200, "application/vnd.apple.mpegurl");
    mServer.addBody("/then-clip.asx", "<asx><entry><ref href=\"" + mServer.url("/hole-later.m3u8") +
                                          "\"/><ref href=\"" + clipUrl("long.mkv") + "\"/></entry></asx>");

    // Servers that go away while their stream plays.
    auto vanishingHttp = std::make_unique<cTestHttpServer>();
    vanishingHttp->addGenerator("/live.ts", "video/mp2t", writeLiveTransportStream);
    cTestRtspServer vanishingRtsp;
    vanishingRtsp.addStream("/tcp", cTestRtspServer::OverTcp);

    enum eOutcome { HomeScene, NextEntry };
    struct {
        const char* name;
        std::string url;
        eOutcome outcome;
        std::function<void()> whilePlaying; // breaks the stream once frames arrive
    } cases[] = {
        {"HLS whose first segment is missing (404)", mServer.url("/hole-first.m3u8"), HomeScene, nullptr},
        {"HLS whose third segment is missing (404)", mServer.url("/then-clip.asx"), NextEntry, nullptr},
        {"HLS playlist missing (404)", mServer.url("/none.m3u8"), HomeScene, nullptr},
        {"MPEG-TS server gone mid-stream", vanishingHttp->url("/live.ts"), HomeScene,
         [&] { vanishingHttp.reset(); }},
        {"RTSP refused", "rtsp://127.0.0.1:" + std::to_string(closedPort()) + "/tcp", HomeScene, nullptr},
        {"RTSP server gone mid-stream", vanishingRtsp.url("/tcp"), HomeScene, [&] { vanishingRtsp.vanish(); }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        sHomeScenes = 0;
        auto capture = std::make_unique<cStderrCapture>();
        auto start = std::chrono::steady_clock::now();
        cVideoPlayer* player = startPlayer(c.url);
        if (c.whilePlaying) {
            if (!framesArrive(player, 10)) {
                ADD_FAILURE() << "no frames before the stream was broken";
                delete player;
                continue;
            }
            capture.reset();
            capture = std::make_unique<cStderrCapture>();
            start = std::chrono::steady_clock::now();
            c.whilePlaying();
        }
        if (c.outcome == HomeScene) {
            EXPECT_TRUE(pumpUntil([] { return homeRequests() == 1; }, FailureLimit));
            EXPECT_FALSE(player->isLoaded());
        } else {
            EXPECT_TRUE(pumpUntil([&] { return player->getPlayList()->getCurrentIndex() == 1; }, FailureLimit));
            EXPECT_TRUE(framesArrive(player, 5));
            EXPECT_GE(mServer.hits("/long.mkv"), 1);
            EXPECT_EQ(homeRequests(), 0);
        }
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, FailureLimit);
        delete player;
        const std::string said = capture->text();
        std::cout << "[ outcome  ] " << c.name << ": "
                  << (c.outcome == HomeScene ? "home scene" : "next entry") << " after "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms; standard error: "
                  << (said.empty() ? "(nothing)" : said) << "\n";
        // The home scene replaced the recording scene; put it back.
        closeCurrentScene();
        presentScene(new cRecordingScene(stageActor()));
    }
}
