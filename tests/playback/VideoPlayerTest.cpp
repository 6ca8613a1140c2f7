// The player on real clips served from loopback, and its frame path into a
// real texture, with the toolkit running on the test's display.

#include "PlayerFixture.h"

#include "playback/PlayerManager.h"
#include "playback/SampleGrabberCB.h"
#include "playback/VideoPlayer.h"
#include "playback/Zapping.h"

#include "app/Stage.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "state/Recent.h"
#include "state/Settings.h"

#include <gst/gst.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <iterator>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

cVideoPlayer* playerFor(const std::string& url)
{
    return new cVideoPlayer(new cPlayList(kestrel::fromUtf8(url), u"Channel", u"About it"));
}

// The texture's pixels as red, green, blue rows, first row first.
std::vector<uint8_t> texturePixels(ClutterTexture* texture, int& width, int& height)
{
    clutter_texture_get_base_size(texture, &width, &height);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * 3 * height);
    CoglHandle cogl = clutter_texture_get_cogl_texture(texture);
    cogl_texture_get_data(cogl, COGL_PIXEL_FORMAT_RGB_888, width * 3, pixels.data());
    return pixels;
}

bool rowIs(const std::vector<uint8_t>& pixels, int width, int row, int red, int green, int blue)
{
    const uint8_t* p = pixels.data() + static_cast<size_t>(row) * width * 3;
    for (int x = 0; x < width; ++x, p += 3) {
        if (std::abs(p[0] - red) > 40 || std::abs(p[1] - green) > 40 || std::abs(p[2] - blue) > 40) {
            return false;
        }
    }
    return true;
}

// A frame made in the test in the grabber's layout (32-bit blue, green,
// red, alpha; top row first in memory, rows `stride` bytes apart, 0 for
// width × 4): the top half of one colour, the bottom half of another.
struct cTestFrame {
    cTestFrame(int width, int height, uint32_t topBgr, uint32_t bottomBgr, size_t stride = 0)
    {
        view.width = width;
        view.height = height;
        view.stride = stride != 0 ? stride : static_cast<size_t>(width) * 4;
        bytes.assign(view.stride * height, 0xee);
        for (int y = 0; y < height; ++y) {
            const uint32_t bgr = y < height / 2 ? topBgr : bottomBgr;
            uint8_t* p = bytes.data() + y * view.stride;
            for (int x = 0; x < width; ++x, p += 4) {
                p[0] = bgr >> 16;
                p[1] = (bgr >> 8) & 0xff;
                p[2] = bgr & 0xff;
                p[3] = 255;
            }
        }
        view.data = bytes.data();
        view.length = bytes.size();
    }
    std::vector<uint8_t> bytes;
    cVideoFrame view;
};

// Colours as blue << 16 | green << 8 | red.
constexpr uint32_t Blue = 0xff0000;
constexpr uint32_t Green = 0x00ff00;
constexpr uint32_t Red = 0x0000ff;

unsigned refCount(ClutterTexture* texture) { return G_OBJECT(texture)->ref_count; }

// While alive, no decoder for the given caps is chosen by the framework, as
// on a machine without the plugin. nullptr hides nothing.
class cHiddenDecoders {
public:
    explicit cHiddenDecoders(const char* caps)
    {
        if (caps == nullptr) {
            return;
        }
        GstCaps* wanted = gst_caps_from_string(caps);
        GList* decoders = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_NONE);
        for (GList* item = decoders; item != nullptr; item = item->next) {
            GstElementFactory* factory = GST_ELEMENT_FACTORY(item->data);
            if (gst_element_factory_can_sink_any_caps(factory, wanted)) {
                GstPluginFeature* feature = GST_PLUGIN_FEATURE(gst_object_ref(factory));
                mHidden.emplace_back(feature, gst_plugin_feature_get_rank(feature));
                gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
            }
        }
        gst_plugin_feature_list_free(decoders);
        gst_caps_unref(wanted);
    }
    ~cHiddenDecoders()
    {
        for (auto& [feature, rank] : mHidden) {
            gst_plugin_feature_set_rank(feature, rank);
            gst_object_unref(feature);
        }
    }
    cHiddenDecoders(const cHiddenDecoders&) = delete;
    cHiddenDecoders& operator=(const cHiddenDecoders&) = delete;

private:
    std::vector<std::pair<GstPluginFeature*, guint>> mHidden;
};

} // namespace

using VideoPlayerTest = PlayerTest;

TEST_F(VideoPlayerTest, PlaysVideoAndAudioIntoTheTexture)
{
    ClutterActor* texture = clutter_texture_new();
    g_object_ref_sink(texture);
    cVideoPlayer* player = playerFor(clipUrl("av.mkv"));
    player->setTexture(CLUTTER_TEXTURE(texture));
    ASSERT_TRUE(player->open());
    ASSERT_TRUE(pumpUntil([&] { return player->isLoaded() && frameStats().uploaded >= 5; }));
    EXPECT_EQ(cRecordingScene::busyStarts, 1);
    EXPECT_TRUE(pumpUntil([] { return cRecordingScene::busyEnds == 1; }));
    int width = 0;
    int height = 0;
    player->impl().frameCallback().getFrameSize(width, height);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);

    // The clip is red above and blue below; the texture holds the bottom
    // row first, in the right colours.
    const std::vector<uint8_t> pixels = texturePixels(CLUTTER_TEXTURE(texture), width, height);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_TRUE(rowIs(pixels, width, 0, 0, 0, 255));
    EXPECT_TRUE(rowIs(pixels, width, height - 1, 255, 0, 0));
    EXPECT_EQ(homeRequests(), 0);

    delete player;
    pumpFor(50ms);
    EXPECT_EQ(refCount(CLUTTER_TEXTURE(texture)), 1u);
    g_object_unref(texture);
}

// A stream may lack sound (a webcam) or picture (a radio station): it
// plays with the part it has, and one debug line names its parts.
TEST_F(VideoPlayerTest, AStreamWithOnlyOnePartPlaysIt)
{
    cClipRecipe soundOnly;
    soundOnly.video = false;
    soundOnly.seconds = 20;
    ASSERT_TRUE(makeClip(sFolder->path() + "sound.mkv", soundOnly));
    mServer.addFile("/sound.mkv", sFolder->path() + "sound.mkv", "video/x-matroska");
    cClipRecipe silent;
    silent.audio = false;
    silent.seconds = 20;
    ASSERT_TRUE(makeClip(sFolder->path() + "silent.mkv", silent));
    mServer.addFile("/silent.mkv", sFolder->path() + "silent.mkv", "video/x-matroska");
    setenv("LUMIVEX_DEBUG", "playback", 1);
    struct {
        const char* name;
        std::string url;
        bool video;
        std::string parts;
    } cases[] = {
        {"video without audio plays silently", clipUrl("silent.mkv"), true, "video and no audio"},
        {"sound without video plays its sound", clipUrl("sound.mkv"), false, "audio and no video"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sHomeScenes = 0;
        auto log = std::make_unique<cLogLines>();
        ClutterActor* texture = clutter_texture_new();
        g_object_ref_sink(texture);
        cVideoPlayer* player = playerFor(c.url);
        player->setTexture(CLUTTER_TEXTURE(texture));
        ASSERT_TRUE(player->open());
        EXPECT_TRUE(pumpUntil([&] { return player->isLoaded() && cRecordingScene::busyEnds == 1; }));
        cSampleGrabberCB& frames = player->impl().frameCallback();
        if (c.video) {
            EXPECT_TRUE(pumpUntil([&] { return frames.deliveredFrames() > 5; }));
        } else {
            pumpFor(1s);
            EXPECT_EQ(frames.deliveredFrames(), 0u);
        }
        EXPECT_TRUE(player->isLoaded());
        EXPECT_EQ(homeRequests(), 0);
        EXPECT_EQ(cRecordingScene::busyEnds, 1);
        delete player;
        g_object_unref(texture);
        const std::vector<std::string> lines = log->lines();
        log.reset();
        int said = 0;
        for (const std::string& line : lines) {
            said += line.find("debug: channel \"Channel\" at " + c.url + ": the stream has " + c.parts) !=
                            std::string::npos
                        ? 1
                        : 0;
        }
        EXPECT_EQ(said, 1);
        cRecordingScene::busyEnds = 0;
    }
    unsetenv("LUMIVEX_DEBUG");
}

TEST_F(VideoPlayerTest, FailuresEndTheOpenSequenceRequestTheHomeSceneAndSayWhy)
{
    cMediaGraph::setNetworkTimeout(3);
    mServer.addBody("/forbidden.mkv", "no", 403);
    // Bytes that no type finder claims.
    std::string junk(64 * 1024, '\0');
    uint32_t seed = 12345;
    for (char& byte : junk) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 24);
    }
    mServer.addBody("/junk.mkv", junk, 200, "application/octet-stream");
    mServer.addBody("/empty.mkv", "", 200, "application/octet-stream");
    const std::string secureToPlain = "https://127.0.0.1:" + std::to_string(mServer.port()) + "/short.mkv";
    using F = sPlayFailure;
    struct {
        const char* name;
        std::string url;
        std::string logged; // what the error line says after the channel
        F::eStep step;      // what the viewer is told
        F::eKind kind;
        int status = 0;
        bool withoutVideoDecoders = false;
    } cases[] = {
        {"nothing listens on the port", "http://127.0.0.1:9/nothing.mkv", "connect: ", F::StepConnect, F::KindRefused},
        {"a host under a reserved name", "http://lumivex-test.invalid/clip.mkv", "connect: ", F::StepConnect,
         F::KindHostUnknown},
        {"missing entry fails at the load", clipUrl("missing.mkv"), "connect: Not Found", F::StepConnect,
         F::KindHttpStatus, 404},
        {"a forbidden entry", clipUrl("forbidden.mkv"), "connect: ", F::StepConnect, F::KindHttpStatus, 403},
        {"a silent server fails after the time-out", clipUrl("stall.mkv"), "time-out: connect: no progress within 3 s",
         F::StepConnect, F::KindNoAnswer},
        {"https to a plain http server", secureToPlain, "connect: ", F::StepConnect, F::KindSecureConnection},
        {"a stream nothing installed decodes", clipUrl("av.mkv"), "missing decoder: not installed: H.264",
         F::StepStreams, F::KindUnsupportedFormat, 0, true},
        {"bytes of no known format", clipUrl("junk.mkv"), "connect: ", F::StepConnect, F::KindUnsupportedFormat},
        {"a stream that ends before anything came", clipUrl("empty.mkv"), "connect: ", F::StepConnect,
         F::KindStreamEnded},
        // Only network media, whatever a catalogue or a playlist names.
        {"a local file is refused", "file:///etc/hostname", "address: refused: scheme \"file\" is not a network stream",
         F::StepAddress, F::KindNotAllowed},
        {"a bare path is refused", "/etc/hostname", "address: refused: not a network address", F::StepAddress,
         F::KindNotAllowed},
        {"a device is refused", "v4l2:///dev/video0", "address: refused: scheme \"v4l2\"", F::StepAddress,
         F::KindNotAllowed},
        {"udp on every interface is refused", "udp://0.0.0.0:5000",
         "address: refused: udp is taken only from a multicast group", F::StepAddress, F::KindNotAllowed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        takeFailureToShow();
        sHomeScenes = 0;
        cRecordingScene::busyEnds = 0;
        cHiddenDecoders hidden(c.withoutVideoDecoders ? "video/x-h264" : nullptr);
        auto log = std::make_unique<cLogLines>();
        cVideoPlayer* player = playerFor(c.url);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(player->open());
        EXPECT_TRUE(pumpUntil([] { return homeRequests() == 1; }));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
        EXPECT_FALSE(player->isLoaded());
        // The viewer's reason, kept for the home scene to show.
        const sPlayFailure& cause = player->impl().failureCause();
        EXPECT_STREQ(playFailureKindName(cause.kind), playFailureKindName(c.kind));
        EXPECT_STREQ(playFailureStepName(cause.step), playFailureStepName(c.step));
        EXPECT_EQ(cause.httpStatus, c.status);
        if (c.withoutVideoDecoders) {
            EXPECT_EQ(cause.format.rfind("H.264", 0), 0u) << cause.format;
        }
        const std::optional<sChannelFailure> shown = takeFailureToShow();
        ASSERT_TRUE(shown.has_value());
        EXPECT_EQ(shown->channel, u"Channel");
        EXPECT_TRUE(shown->failure == cause);
        EXPECT_EQ(player->getPlayList()->getCurrentIndex(), 0);
        // The busy indication stays until the scene goes.
        EXPECT_EQ(cRecordingScene::busyEnds, 0);
        delete player;
        const std::vector<std::string> lines = log->lines();
        log.reset();
        // One line: the channel, its address, the step and the framework's
        // own words.
        ASSERT_EQ(lines.size(), 1u) << (lines.empty() ? "" : lines[0]);
        const std::string expected = "lumivex: playback: error: channel \"Channel\" at " + c.url + ": " + c.logged;
        EXPECT_EQ(lines[0].rfind(expected, 0), 0u) << lines[0];
        if (c.logged.back() == ' ') {
            EXPECT_GT(lines[0].size(), expected.size() + 3) << lines[0]; // the framework's message follows
        }
        // The home scene replaced the recording scene; put it back.
        closeCurrentScene();
        presentScene(new cRecordingScene(stageActor()));
    }
    cMediaGraph::setNetworkTimeout(15);
}

// A picture larger than the player textures ends the channel with the
// reason: no frame of it is copied or uploaded.
TEST_F(VideoPlayerTest, AFrameLargerThanTheTextureLimitEndsTheChannel)
{
    cClipRecipe wide;
    wide.width = 4112;
    wide.height = 16;
    wide.audio = false;
    wide.seconds = 1;
    ASSERT_TRUE(makeClip(sFolder->path() + "wide.mkv", wide));
    mServer.addFile("/wide.mkv", sFolder->path() + "wide.mkv", "video/x-matroska");
    sHomeScenes = 0;
    auto log = std::make_unique<cLogLines>();
    const uint64_t uploadedBefore = frameStats().uploaded;
    cVideoPlayer* player = playerFor(clipUrl("wide.mkv"));
    ASSERT_TRUE(player->open());
    EXPECT_TRUE(pumpUntil([] { return homeRequests() == 1; }));
    delete player;
    const std::vector<std::string> lines = log->lines();
    log.reset();
    EXPECT_EQ(frameStats().uploaded, uploadedBefore);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("4112x16 is larger than 4096x4096"), std::string::npos) << lines.back();
    closeCurrentScene();
    presentScene(new cRecordingScene(stageActor()));
}

TEST_F(VideoPlayerTest, OneEntryPlaylistReopensTheSameAddressAfterCompletion)
{
    // A clip that ends, and one whose transfer breaks off half-way (a
    // failure after the graph runs counts as the end of the stream).
    std::ifstream file(sFolder->path() + "long.mkv", std::ios::binary);
    const std::string clip((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    mServer.addBody("/cut.mkv", clip.substr(0, clip.size() / 6), 200, "video/x-matroska");
    for (const char* name : {"short.mkv", "cut.mkv"}) {
        const std::string path = std::string("/") + name;
        cVideoPlayer* player = playerFor(clipUrl(name));
        ASSERT_TRUE(player->open()) << name;
        ASSERT_TRUE(pumpUntil([&] { return mServer.hits(path) >= 2; })) << name;
        EXPECT_TRUE(pumpUntil([&] { return player->isLoaded(); })) << name;
        EXPECT_EQ(player->getPlayList()->getCurrentIndex(), 0) << name;
        EXPECT_EQ(homeRequests(), 0) << name;
        delete player;
    }
}

TEST_F(VideoPlayerTest, TwoEntryPlaylistMovesToTheSecond)
{
    mServer.addBody("/two.asx", "<asx><entry><ref href=\"" + clipUrl("short.mkv") + "\"/><ref href=\"" +
                                    clipUrl("av.mkv") + "\"/></entry></asx>");
    cVideoPlayer* player = playerFor(clipUrl("two.asx"));
    ASSERT_EQ(player->getPlayList()->getEntryCount(), 3);
    ASSERT_TRUE(player->open());
    ASSERT_TRUE(pumpUntil([&] { return mServer.hits("/av.mkv") >= 1; }));
    EXPECT_EQ(player->getPlayList()->getCurrentIndex(), 1);
    EXPECT_TRUE(pumpUntil([&] { return player->isLoaded(); }));
    EXPECT_EQ(homeRequests(), 0);
    delete player;
}

TEST_F(VideoPlayerTest, AttenuationTable)
{
    struct {
        int volume;
        long attenuation;
    } table[] = {{100, 0},     {99, -10},    {95, -51},    {90, -105},   {75, -287},   {50, -693},
                 {25, -1386},  {10, -2302},  {5, -2995},   {1, -4605},   {0, -10000}};
    for (const auto& row : table) {
        EXPECT_EQ(cVideoPlayerImpl::attenuationForVolume(row.volume), row.attenuation) << row.volume;
    }
}

TEST_F(VideoPlayerTest, VolumeAndMuteAreStoredAndApplied)
{
    cSettings* settings = cSettings::instance();
    settings->setInteger(u"volume", 50);
    settings->setString(u"muted", u"");
    cVideoPlayer* player = playerFor(clipUrl("av.mkv"));
    // Read without being written back.
    EXPECT_EQ(player->getVolume(), 50);
    EXPECT_FALSE(player->isMuted());
    EXPECT_EQ(settings->getString(u"muted", u"absent"), u"");

    player->setVolume(150);
    EXPECT_EQ(player->getVolume(), 100);
    EXPECT_EQ(settings->getInteger(u"volume", -1), 100);
    player->setVolume(-3);
    EXPECT_EQ(player->getVolume(), 0);
    EXPECT_EQ(settings->getInteger(u"volume", -1), 0);
    // Not loaded: only stored.
    player->setVolume(50);
    EXPECT_EQ(player->impl().appliedAttenuation(), cVideoPlayerImpl::NoAttenuation);

    ASSERT_TRUE(player->open());
    ASSERT_TRUE(pumpUntil([&] { return player->isLoaded(); }));
    EXPECT_TRUE(pumpUntil([&] { return player->impl().appliedAttenuation() == -693; }));

    player->setMuted(true);
    EXPECT_EQ(settings->getBoolean(u"muted", false), true);
    EXPECT_EQ(player->impl().appliedAttenuation(), -10000);
    player->setVolume(75); // stored, not applied while muted
    EXPECT_EQ(player->getVolume(), 75);
    EXPECT_EQ(player->impl().appliedAttenuation(), -10000);
    player->setMuted(false);
    EXPECT_EQ(settings->getBoolean(u"muted", true), false);
    EXPECT_EQ(player->impl().appliedAttenuation(), -287);

    // The trivial operations.
    player->setKeepAspect(false);
    EXPECT_TRUE(player->getKeepAspect());
    player->setFullscreen(true);
    EXPECT_FALSE(player->isFullscreen());
    delete player;
    settings->setInteger(u"volume", 100);
    settings->setBoolean(u"muted", false);
}

TEST_F(VideoPlayerTest, AbortWhileTheLoadBlocksEndsWithoutHomeScene)
{
    cVideoPlayer* player = playerFor(clipUrl("stall.mkv"));
    ASSERT_TRUE(player->open());
    ASSERT_TRUE(pumpUntil([&] { return mServer.hits("/stall.mkv") >= 1; }));
    pumpFor(100ms);
    const auto start = std::chrono::steady_clock::now();
    player->abort();
    EXPECT_TRUE(player->isAborted());
    delete player;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    pumpFor(200ms);
    EXPECT_EQ(homeRequests(), 0);
}

TEST_F(VideoPlayerTest, DestroyingInEveryPhaseFinishes)
{
    // While loading, while the graph runs, right at a completion, and at
    // once after open.
    struct {
        const char* name;
        std::string url;
        std::function<bool(cVideoPlayer*)> until;
    } phases[] = {
        {"at once", clipUrl("av.mkv"), [](cVideoPlayer*) { return true; }},
        {"loading", clipUrl("stall.mkv"), [this](cVideoPlayer*) { return mServer.hits("/stall.mkv") >= 1; }},
        {"running", clipUrl("av.mkv"), [](cVideoPlayer* p) { return p->isLoaded(); }},
        {"completion", clipUrl("short.mkv"), [this](cVideoPlayer*) { return mServer.hits("/short.mkv") >= 2; }},
    };
    for (const auto& phase : phases) {
        cVideoPlayer* player = playerFor(phase.url);
        ASSERT_TRUE(player->open()) << phase.name;
        ASSERT_TRUE(pumpUntil([&] { return phase.until(player); })) << phase.name;
        const auto start = std::chrono::steady_clock::now();
        delete player;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << phase.name;
    }
    pumpFor(100ms);
    EXPECT_EQ(homeRequests(), 0);
}

TEST_F(VideoPlayerTest, FramePathUploadsDropsAndStoresPictures)
{
    cRecent::instance()->add(u"Country", u"Frames", u"Type");
    ClutterActor* texture = clutter_texture_new();
    g_object_ref_sink(texture);
    auto callback = std::make_unique<cSampleGrabberCB>();
    callback->setTexture(CLUTTER_TEXTURE(texture));
    EXPECT_EQ(refCount(CLUTTER_TEXTURE(texture)), 2u);

    // Before the size is known, frames are neither queued nor counted.
    const cTestFrame blue(320, 240, Blue, Blue);
    callback->sampleCB(0, blue.view);
    EXPECT_EQ(frameStats().delivered, 0u);
    EXPECT_EQ(callback->frameCounter(), 0);

    // A sample shorter than its size says is never read.
    callback->setFrameSize(320, 240);
    cVideoFrame shortFrame = blue.view;
    --shortFrame.length;
    callback->sampleCB(0, shortFrame);
    EXPECT_EQ(frameStats().delivered, 0u);

    callback->sampleCB(0, blue.view);
    ASSERT_TRUE(pumpUntil([] { return frameStats().uploaded == 1; }));
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels = texturePixels(CLUTTER_TEXTURE(texture), width, height);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_TRUE(rowIs(pixels, width, 0, 0, 0, 255));

    // A frame of another size (a new stream) is taken with its own shape;
    // its rows are read by their stride and reach the texture bottom row
    // first, in their colours.
    const cTestFrame small(160, 120, Red, Green, 160 * 4 + 64);
    callback->sampleCB(0, small.view);
    ASSERT_TRUE(pumpUntil([] { return frameStats().uploaded == 2; }));
    pixels = texturePixels(CLUTTER_TEXTURE(texture), width, height);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);
    EXPECT_TRUE(rowIs(pixels, width, 0, 0, 255, 0));
    EXPECT_TRUE(rowIs(pixels, width, height - 1, 255, 0, 0));
    callback->getFrameSize(width, height);
    EXPECT_EQ(width, 160);

    // The next frame of the same size is written into the same storage.
    CoglHandle storage = clutter_texture_get_cogl_texture(CLUTTER_TEXTURE(texture));
    const cTestFrame swapped(160, 120, Green, Red);
    callback->sampleCB(0, swapped.view);
    ASSERT_TRUE(pumpUntil([] { return frameStats().uploaded == 3; }));
    EXPECT_EQ(clutter_texture_get_cogl_texture(CLUTTER_TEXTURE(texture)), storage);
    pixels = texturePixels(CLUTTER_TEXTURE(texture), width, height);
    EXPECT_TRUE(rowIs(pixels, width, 0, 255, 0, 0));
    EXPECT_TRUE(rowIs(pixels, width, height - 1, 0, 255, 0));

    // The 125th queued frame becomes the recent picture, in its file
    // layout: 24-bit blue, green, red, bottom row first, no gaps.
    for (int i = 4; i < cSampleGrabberCB::PictureInterval; ++i) {
        callback->sampleCB(0, swapped.view);
        if (i % 10 == 0) {
            pumpFor(1ms);
        }
    }
    EXPECT_EQ(cRecent::instance()->entry(0).pictureCount, 0);
    callback->sampleCB(0, small.view);
    EXPECT_EQ(callback->frameCounter(), 0);
    // The picture writer's thread stores it.
    cRecent::instance()->flushPictures();
    EXPECT_EQ(cRecent::instance()->entry(0).pictureCount, 1);
    uint8_t* picture = nullptr;
    ASSERT_TRUE(cRecent::instance()->loadPicture(0, picture, width, height));
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);
    const uint8_t* bottomRow = picture;
    const uint8_t* topRow = picture + static_cast<size_t>(height - 1) * width * 3;
    for (int x = 0; x < width; x += 53) {
        EXPECT_EQ(bottomRow[x * 3], 0);
        EXPECT_EQ(bottomRow[x * 3 + 1], 255);
        EXPECT_EQ(bottomRow[x * 3 + 2], 0);
        EXPECT_EQ(topRow[x * 3], 0);
        EXPECT_EQ(topRow[x * 3 + 1], 0);
        EXPECT_EQ(topRow[x * 3 + 2], 255);
    }
    cRecent::freePicture(picture);

    // A main loop slower than the stream: only the newest frame waits, the
    // others are replaced and never queued.
    pumpFor(5ms);
    const cFrameStats before = frameStats();
    const cTestFrame red(160, 120, Red, Red);
    for (int i = 0; i < 40; ++i) {
        callback->sampleCB(0, i + 1 < 40 ? small.view : red.view);
    }
    EXPECT_EQ(frameStats().waiting, 1u);
    EXPECT_LE(frameStats().maxWaiting, 1u);
    EXPECT_EQ(frameStats().replaced - before.replaced, 39u);
    ASSERT_TRUE(pumpUntil([&] { return frameStats().uploaded == before.uploaded + 1; }));
    pumpFor(5ms);
    EXPECT_EQ(frameStats().uploaded, before.uploaded + 1);
    pixels = texturePixels(CLUTTER_TEXTURE(texture), width, height);
    EXPECT_TRUE(rowIs(pixels, width, 0, 255, 0, 0));

    // Once every frame is uploaded, the texture holds only our reference
    // and the callback's; the callback's goes with it.
    ASSERT_TRUE(pumpUntil([] { return frameStats().waiting == 0; }));
    EXPECT_EQ(refCount(CLUTTER_TEXTURE(texture)), 2u);

    // A frame that reaches the main loop after the scene destroyed the
    // texture's actor is dropped there.
    clutter_actor_destroy(texture);
    const uint64_t uploadsBefore = frameStats().uploaded;
    callback->sampleCB(0, red.view);
    ASSERT_TRUE(pumpUntil([] { return frameStats().waiting == 0; }));
    EXPECT_EQ(frameStats().uploaded, uploadsBefore + 1);

    callback.reset();
    pumpFor(20ms);
    EXPECT_EQ(refCount(CLUTTER_TEXTURE(texture)), 1u);
    g_object_unref(texture);
}

// After its entries an ASX channel comes to the playlist's own address,
// which is fetched again and played from its first entry; a fetch that
// yields no stream ends the channel.
TEST_F(VideoPlayerTest, AnAsxChannelFetchesItsPlaylistAgainAfterItsEntries)
{
    const auto asx = [this](const char* clip) {
        return "<asx><entry><ref href=\"" + clipUrl(clip) + "\"/></entry></asx>";
    };
    struct sCase {
        const char* what;
        std::string second;   // the playlist as the second fetch finds it
        int secondStatus;
        const char* next;     // the clip that plays after the first, if any
        int homes;
    } const cases[] = {
        {"unchanged", asx("short.mkv"), 200, "/short.mkv", 0},
        {"changed meanwhile", asx("av.mkv"), 200, "/av.mkv", 0},
        {"gone", "<html>not found</html>", 404, nullptr, 1},
    };
    int run = 0;
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = "/live" + std::to_string(++run) + ".asx";
        mServer.addBody(path, asx("short.mkv"));
        const int homesBefore = homeRequests();
        const int shortBefore = mServer.hits("/short.mkv");
        const int otherBefore = mServer.hits("/av.mkv");
        cVideoPlayer* player = playerFor(clipUrl(path.substr(1)));
        ASSERT_EQ(player->getPlayList()->getEntryCount(), 2);
        ASSERT_EQ(mServer.hits(path), 1);
        mServer.addBody(path, c.second, c.secondStatus);
        ASSERT_TRUE(player->open());
        ASSERT_TRUE(pumpUntil([&] { return mServer.hits(path) >= 2; }, 20s));
        if (c.next != nullptr) {
            const int before = std::string(c.next) == "/short.mkv" ? shortBefore + 1 : otherBefore;
            EXPECT_TRUE(pumpUntil([&] { return mServer.hits(c.next) > before && player->isLoaded(); }, 20s));
            EXPECT_EQ(player->getPlayList()->getCurrentIndex(), 0);
            pumpFor(300ms);
        } else {
            EXPECT_TRUE(pumpUntil([&] { return homeRequests() > homesBefore; }, 20s));
        }
        EXPECT_EQ(homeRequests() - homesBefore, c.homes);
        delete player;
    }
}

// A busy notification belongs to its player: one that a player posted and
// the main loop had not delivered before the player was aborted (the next
// channel is being started) must not start the busy icon over the next
// player's video.
TEST_F(VideoPlayerTest, ABusyNotificationOfAnAbortedPlayerIsDropped)
{
    cVideoPlayer* player = playerFor(clipUrl("stall.mkv"));
    ASSERT_TRUE(player->open());
    // The request reaching the server means the busy start is posted; the
    // main loop does not run meanwhile, so it waits undelivered.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (mServer.hits("/stall.mkv") < 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_GE(mServer.hits("/stall.mkv"), 1);
    player->abort();
    pumpFor(300ms);
    EXPECT_EQ(cRecordingScene::busyStarts, 0);
    delete player;

    // A player that goes on delivers its own.
    cVideoPlayer* next = playerFor(clipUrl("stall.mkv"));
    ASSERT_TRUE(next->open());
    EXPECT_TRUE(pumpUntil([] { return cRecordingScene::busyStarts == 1; }));
    delete next;
}
