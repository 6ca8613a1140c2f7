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
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
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

// A live stream whose connection fails after it has shown pictures is
// reopened quietly with the busy indication, at most three times within
// 15 s of the failure; one that fails before its first picture ends at
// home as any failed open does. Each attempt is one info line.
TEST_F(StreamKindsTest, ALiveStreamThatDropsIsReopenedWithinItsBound)
{
    setenv("LUMIVEX_DEBUG", "playback", 1);
    enum eAfterDrop { ComesBack, GoneForGood, NeverPlayed };
    struct {
        const char* name;
        eAfterDrop after;
    } cases[] = {
        {"drops once after a few seconds and comes back", ComesBack},
        {"drops and stays away", GoneForGood},
        {"fails before its first picture", NeverPlayed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sHomeScenes = 0;
        cTestHttpServer server;
        // The first connection carries three seconds of the live stream and
        // then ends; later ones carry it without end, or find nothing.
        std::atomic<int> connections{0};
        if (c.after == NeverPlayed) {
            server.addBody("/live.ts", "not a stream", 200, "video/mp2t");
        } else {
            server.addGenerator("/live.ts", "video/mp2t",
                                [&](std::ostream& body, const std::function<bool()>& stopping) {
                                    const int connection = ++connections;
                                    if (connection > 1 && c.after == GoneForGood) {
                                        return; // an empty body: nothing to play
                                    }
                                    const auto start = std::chrono::steady_clock::now();
                                    writeLiveTransportStream(body, [&] {
                                        return stopping() ||
                                               (connection == 1 && std::chrono::steady_clock::now() - start > 3s);
                                    });
                                });
        }
        cLogLines log;
        const auto count = [&log](const std::string& part) { return log.count(part); };
        cVideoPlayer* player = startPlayer(server.url("/live.ts"));
        auto start = std::chrono::steady_clock::now();
        std::string outcome;
        if (c.after == NeverPlayed) {
            EXPECT_TRUE(pumpUntil([] { return homeRequests() == 1; }, FailureLimit));
            outcome = "home scene";
        } else {
            ASSERT_TRUE(framesArrive(player, 10));
            const int busyStarts = cRecordingScene::busyStarts;
            // The drop: the end of the first connection's body.
            ASSERT_TRUE(pumpUntil([&] { return count(": reconnecting, attempt 1 of 3") == 1; }, 10s));
            start = std::chrono::steady_clock::now();
            EXPECT_TRUE(pumpUntil([&] { return cRecordingScene::busyStarts > busyStarts; }, 2s))
                << "the busy icon shows while the stream is reopened";
            if (c.after == ComesBack) {
                EXPECT_TRUE(framesArrive(player, 25));
                outcome = "playing again";
                EXPECT_EQ(connections, 2);
                EXPECT_EQ(homeRequests(), 0);
            } else {
                const auto bound = std::chrono::seconds(cVideoPlayerImpl::ReconnectWindowSeconds) + 3s;
                EXPECT_TRUE(pumpUntil([] { return homeRequests() == 1; }, bound));
                outcome = "home scene";
                EXPECT_EQ(connections, 1 + cVideoPlayerImpl::MaxReconnects);
                EXPECT_EQ(count(": reconnecting, attempt 3 of 3"), 1);
                EXPECT_EQ(count("gave up after 3 reconnection attempt(s)"), 1);
            }
        }
        const auto took = std::chrono::steady_clock::now() - start;
        delete player;
        // Quietly: one info line per attempt, and an error only when the
        // player gives up.
        EXPECT_EQ(count(": reconnecting, attempt "),
                  c.after == ComesBack ? 1 : c.after == GoneForGood ? cVideoPlayerImpl::MaxReconnects : 0);
        EXPECT_EQ(count("playback: error:"), c.after == ComesBack ? 0 : 1);
        std::cout << "[ outcome  ] live stream that " << c.name << ": " << outcome << " after "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
        closeCurrentScene();
        presentScene(new cRecordingScene(stageActor()));
    }
    unsetenv("LUMIVEX_DEBUG");
}

// Two encodes of different picture sizes, one after the other in one
// MPEG-TS stream, as an encoder restart or a rendition switch gives: the
// texture takes the new size and the old storage goes.
TEST_F(StreamKindsTest, APictureSizeChangeMidStreamReplacesTheTexturesStorage)
{
    cClipRecipe first;
    first.container = "ts";
    first.seconds = 3;
    first.audio = false;
    cClipRecipe second = first;
    second.width = 400;
    second.height = 200;
    second.seconds = 20;
    second.timeOffset = first.seconds;
    second.topColour = "green";
    second.bottomColour = "yellow";
    ASSERT_TRUE(makeClip(sStreams->path() + "first.ts", first));
    ASSERT_TRUE(makeClip(sStreams->path() + "second.ts", second));
    {
        std::ofstream joined(sStreams->path() + "switch.ts", std::ios::binary);
        joined << readText(sStreams->path() + "first.ts") << readText(sStreams->path() + "second.ts");
    }
    mServer.addFile("/switch.ts", sStreams->path() + "switch.ts", "video/mp2t");

    const int64_t storagesBefore = frameStats().storages;
    cVideoPlayer* player = startPlayer(mServer.url("/switch.ts"));
    ASSERT_TRUE(framesArrive(player, 5));
    expectTextureSize(320, 240);
    EXPECT_EQ(frameStats().storages, storagesBefore + 1);
    ASSERT_TRUE(pumpUntil(
        [&] {
            int width = 0, height = 0;
            clutter_texture_get_base_size(CLUTTER_TEXTURE(mTexture), &width, &height);
            return width == 400;
        },
        10s));
    expectTextureSize(400, 200);
    EXPECT_TRUE(framesArrive(player, 10));
    // The old storage went with the switch: one per texture, as before.
    EXPECT_EQ(frameStats().storages, storagesBefore + 1);
    EXPECT_EQ(homeRequests(), 0);
    delete player;
}

// A channel whose servers answer 403 unless the request carries the list's
// user agent and referrer: with its headers it plays, progressive, as HLS
// whose playlist and segments are checked too, through a redirection and
// through an ASX playlist; without them it ends at home with the 403
// named, and its requests carry nothing but what they always carried.
TEST_F(StreamKindsTest, AChannelsRequestHeadersReachEveryRequestOfIt)
{
    const cPlayList::tRequestHeaders headers = {
        {"User-Agent", "ListPlayer/2.1 (compatible; test)"},
        {"Referer", "http://portal.example/tv/"},
        {"Origin", "http://portal.example"},
    };
    cTestHttpServer guarded;
    guarded.addFile("/long.mkv", sFolder->path() + "long.mkv", "video/x-matroska");
    serveHls(guarded, "vod");
    guarded.addRedirect("/moved.mkv", guarded.url("/long.mkv"));
    guarded.addBody("/list.asx", "<asx><entry><ref href=\"" + guarded.url("/long.mkv") + "\"/></entry></asx>", 200,
                    "video/x-ms-asf");
    guarded.requireHeaders({{"User-Agent", headers[0].second}, {"Referer", headers[1].second}});

    struct {
        const char* name;
        std::string path;
        std::vector<std::string> checked; // paths whose last request must carry the headers
    } cases[] = {
        {"progressive", "/long.mkv", {"/long.mkv"}},
        {"HLS, playlist and segments", "/vod.m3u8", {"/vod.m3u8", "/" + segment("vod", 0)}},
        {"progressive through a redirection", "/moved.mkv", {"/moved.mkv", "/long.mkv"}},
        {"ASX playlist of a progressive stream", "/list.asx", {"/list.asx", "/long.mkv"}},
    };
    for (const auto& c : cases) {
        for (const bool withHeaders : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (withHeaders ? ", with its headers" : ", without them"));
            sHomeScenes = 0;
            cLogLines log;
            const int refusals = guarded.refusals();
            const auto start = std::chrono::steady_clock::now();
            auto* player = new cVideoPlayer(new cPlayList(kestrel::fromUtf8(guarded.url(c.path)), u"Guarded",
                                                          u"", withHeaders ? headers : cPlayList::tRequestHeaders()));
            player->setTexture(CLUTTER_TEXTURE(mTexture));
            ASSERT_TRUE(player->open());
            std::string outcome;
            if (withHeaders) {
                EXPECT_TRUE(framesArrive(player, 10));
                EXPECT_EQ(guarded.refusals(), refusals);
                EXPECT_EQ(homeRequests(), 0);
                outcome = "plays";
                for (const std::string& path : c.checked) {
                    const auto sent = guarded.lastHeaders(path);
                    EXPECT_EQ(sent.count("User-Agent") ? sent.at("User-Agent") : "", headers[0].second) << path;
                    EXPECT_EQ(sent.count("Referer") ? sent.at("Referer") : "", headers[1].second) << path;
                }
                // The stream's own first request carries the origin too.
                const auto first = guarded.lastHeaders(c.checked.front());
                EXPECT_EQ(first.count("Origin") ? first.at("Origin") : "", headers[2].second);
            } else {
                EXPECT_TRUE(pumpUntil([] { return homeRequests() == 1; }, FailureLimit));
                EXPECT_GT(guarded.refusals(), refusals);
                outcome = "home scene";
                // Exactly what a channel without headers always sent.
                const auto sent = guarded.lastHeaders(c.checked.front());
                EXPECT_EQ(sent.count("Referer") + sent.count("Origin"), 0u);
            }
            const auto took = std::chrono::steady_clock::now() - start;
            delete player;
            if (!withHeaders) {
                const std::vector<std::string> lines = log.lines();
                ASSERT_FALSE(lines.empty());
                EXPECT_NE(lines.back().find("error: channel \"Guarded\""), std::string::npos) << lines.back();
                EXPECT_NE(lines.back().find("Forbidden (HTTP 403)"), std::string::npos) << lines.back();
                std::cout << "[ outcome  ] " << c.name << " without headers: " << outcome << " after "
                          << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                          << " ms; " << lines.back() << "\n";
            } else {
                std::cout << "[ outcome  ] " << c.name << " with headers: " << outcome << " after "
                          << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
            }
            closeCurrentScene();
            presentScene(new cRecordingScene(stageActor()));
        }
    }
}

// HLS channels behind servers that refuse (403) every request without the
// channel's exact user agent, referrer and origin, as the servers in front
// of such channels do: a master playlist over a live media playlist, a
// live playlist of AES-128 encrypted segments, a redirection to another
// host name that checks too, and an ASX entry leading to the master. Each
// plays on through two or more refreshes of its live playlist with no
// request refused; the same streams from a server that checks nothing play
// for a channel without headers.
TEST_F(StreamKindsTest, HlsChannelsWithHeadersPlayEveryShapeThroughLiveRefreshes)
{
    const cPlayList::tRequestHeaders headers = {
        {"User-Agent", "ListPlayer/2.1 (compatible; test)"},
        {"Referer", "http://portal.example/tv/"},
        {"Origin", "http://portal.example"},
    };
    // The live segments encrypted with one key, as a keyed live channel
    // serves them.
    const std::string key(16, '\x5A');
    std::ofstream(sStreams->path() + "key.bin", std::ios::binary) << key;
    for (int i = 0; i < 10; ++i) {
        const std::string command = "openssl aes-128-cbc -K 5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a -iv "
                                    "00000000000000000000000000000001 -in '" +
                                    sStreams->path() + segment("live", i) + "' -out '" + sStreams->path() +
                                    segment("keyed", i) + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    const auto window = [](const std::string& stem, int first) {
        std::ostringstream text;
        text << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:" << first << "\n";
        if (stem == "keyed") {
            text << "#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\",IV=0x00000000000000000000000000000001\n";
        }
        for (int i = first; i < first + 3; ++i) {
            text << "#EXTINF:1.000000,\n" << segment(stem, i) << "\n";
        }
        return text.str();
    };
    const std::string master = "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=600000,RESOLUTION=320x240\nlive.m3u8\n";

    for (const bool withHeaders : {true, false}) {
        cTestHttpServer server;
        for (int i = 0; i < 10; ++i) {
            for (const char* stem : {"live", "keyed"}) {
                server.addFile("/" + segment(stem, i), sStreams->path() + segment(stem, i), "video/mp2t");
            }
        }
        server.addFile("/key.bin", sStreams->path() + "key.bin", "application/octet-stream");
        server.addBody("/master.m3u8", master, 200, "application/vnd.apple.mpegurl");
        server.addRedirect("/moved.m3u8", "http://localhost:" + std::to_string(server.port()) + "/master.m3u8");
        server.addBody("/list.asx", "<asx><entry><ref href=\"" + server.url("/master.m3u8") + "\"/></entry></asx>",
                       200, "video/x-ms-asf");
        if (withHeaders) {
            server.requireHeaders(
                {{"User-Agent", headers[0].second}, {"Referer", headers[1].second}, {"Origin", headers[2].second}});
        }
        const struct {
            const char* name;
            std::string path;
            std::string live; // the live playlist it ends in
        } cases[] = {
            {"master over a live media playlist", "/master.m3u8", "live"},
            {"live playlist of AES-128 segments", "/keyed.m3u8", "keyed"},
            {"redirection to another host name", "/moved.m3u8", "live"},
            {"ASX entry leading to the master", "/list.asx", "live"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (withHeaders ? ", with its headers" : ", without headers"));
            int first = 0;
            server.addBody("/" + c.live + ".m3u8", window(c.live, first), 200, "application/vnd.apple.mpegurl");
            sHomeScenes = 0;
            const int refusals = server.refusals();
            auto* player = new cVideoPlayer(new cPlayList(kestrel::fromUtf8(server.url(c.path)), u"Guarded", u"",
                                                          withHeaders ? headers : cPlayList::tRequestHeaders()));
            player->setTexture(CLUTTER_TEXTURE(mTexture));
            ASSERT_TRUE(player->open());
            EXPECT_TRUE(framesArrive(player, 10));
            // The window slides a segment a second, as a live server's
            // does; the player refreshes the playlist and follows it.
            const std::string playlist = "/" + c.live + ".m3u8";
            const int refreshedFrom = server.hits(playlist);
            auto slide = std::chrono::steady_clock::now();
            EXPECT_TRUE(pumpUntil(
                [&] {
                    if (std::chrono::steady_clock::now() - slide >= 1s && first < 7) {
                        slide = std::chrono::steady_clock::now();
                        ++first;
                        server.addBody(playlist, window(c.live, first), 200, "application/vnd.apple.mpegurl");
                    }
                    return server.hits(playlist) >= refreshedFrom + 2;
                },
                20s));
            EXPECT_TRUE(framesArrive(player, 10));
            EXPECT_TRUE(player->isLoaded());
            EXPECT_EQ(server.refusals(), refusals);
            EXPECT_EQ(homeRequests(), 0);
            std::cout << "[ outcome  ] " << c.name << (withHeaders ? " with headers" : " without headers") << ": "
                      << server.hits(playlist) - refreshedFrom << " refreshes, " << server.refusals() - refusals
                      << " refused\n";
            delete player;
            closeCurrentScene();
            presentScene(new cRecordingScene(stageActor()));
        }
    }
}
