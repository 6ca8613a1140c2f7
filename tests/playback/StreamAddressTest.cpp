// Only network media: the addresses the player takes, and a media framework
// whose file and device sources are gone, so that neither an address nor
// an HLS playlist can make it open a local file (watched with inotify).

#include "TestHttpServer.h"
#include "TestMedia.h"
#include "playback/MediaGraph.h"
#include "playback/StreamAddress.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <gst/gst.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

class cNoFrames : public cMediaGraph::cFrameCallback {
public:
    void sampleCB(double, const cVideoFrame&) override {}
};

// Counts every open of one file from the moment it is made.
class cOpenWatch {
public:
    explicit cOpenWatch(const std::string& path)
    {
        mDescriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        inotify_add_watch(mDescriptor, path.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~cOpenWatch() { close(mDescriptor); }
    bool opened() const
    {
        alignas(inotify_event) char buffer[4096];
        return read(mDescriptor, buffer, sizeof(buffer)) > 0;
    }

private:
    int mDescriptor = -1;
};

} // namespace

TEST(StreamAddress, OnlyNetworkStreamsAreTaken)
{
    const struct {
        const char* address;
        bool taken;
        const char* reason;
    } cases[] = {
        {"http://tv.example/live.m3u8", true, ""},
        {"HTTPS://tv.example:8443/a.ts?x=1", true, ""},
        {"rtsp://cam.example/stream", true, ""},
        {"rtsps://cam.example/stream", true, ""},
        {"rtspt://cam.example/stream", true, ""},
        {"rtmp://live.example/app/key", true, ""},
        {"rtmps://live.example/app/key", true, ""},
        {"udp://239.1.2.3:5000", true, ""},
        {"udp://@239.1.2.3:5000", true, ""},
        {"rtp://[ff02::1]:5004", true, ""},
        {"file:///etc/passwd", false, "scheme \"file\" is not a network stream"},
        {"/home/me/video.ts", false, "no scheme"},
        {"fd://0", false, "scheme \"fd\""},
        {"multifile:///tmp/%05d.ts", false, "scheme \"multifile\""},
        {"v4l2:///dev/video0", false, "scheme \"v4l2\""},
        {"dvb://channel", false, "scheme \"dvb\""},
        {"cdda://1", false, "scheme \"cdda\""},
        {"dvd://", false, "scheme \"dvd\""},
        {"srt://0.0.0.0:9000?mode=listener", false, "scheme \"srt\""},
        {"udp://0.0.0.0:5000", false, "only from a multicast group"},
        {"udp://:5000", false, "names no host"},
        {"rtp://192.168.1.10:5004", false, "only from a multicast group"},
        {"http://", false, "names no host"},
        {"http://tv.example/a b.ts", false, "spaces or control characters"},
        {"rtp://239.1.1.1:5000?address=0.0.0.0", false, "the rtp option \"address\" is not taken"},
        {"udp://239.1.1.1:5000?multicast-iface=lo&ADDRESS=10.0.0.1", false, "option \"address\""},
        {"rtp://239.1.1.1:5000?uri=udp://0.0.0.0:5000", false, "option \"uri\""},
        {"udp://239.1.1.1:5000?multicast-iface=eth0&ttl-mc=4", true, ""},
        {"rtp://239.1.1.1:5000?encoding-name=MP2T", true, ""},
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_EQ(checkStreamAddress(c.address, reason), c.taken) << c.address;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.address << ": " << reason;
    }
}

// Plays the address in a fresh graph for a moment, whatever comes of it.
void playBriefly(const std::string& address)
{
    cNoFrames frames;
    cMediaGraph graph;
    ASSERT_TRUE(graph.isValid());
    if (graph.addSampleGrabber(&frames) && graph.addNullRenderer() && graph.addSource() && graph.load(address)) {
        graph.renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSource, cMediaGraph::FilterSampleGrabber);
        graph.run();
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
}

// How many bytes wait unread in a pipe.
int unread(int descriptor)
{
    int count = 0;
    return ioctl(descriptor, FIONREAD, &count) == 0 ? count : -1;
}

// The whole process, set up as the program sets it up (sources restricted,
// then the warm-up that loads the core plugins again): from then on nothing
// reads a local file or descriptor, whatever an address or an HLS playlist
// names: a segment, a variant of a master playlist, a media playlist, a key.
TEST(StreamAddress, NoGraphReadsALocalFileWhateverThePlaylistSays)
{
    restrictMediaSources();
    warmUpMedia();
    waitForMediaWarmUp();
    for (const char* address : {"file:///etc/hostname", "fd://0", "multifile:///tmp/x%d", "v4l2:///dev/video0",
                                "cdda://1", "dvb://x"}) {
        GstElement* source = gst_element_make_from_uri(GST_URI_SRC, address, nullptr, nullptr);
        EXPECT_EQ(source, nullptr) << address << " is still read by " << (source ? GST_OBJECT_NAME(source) : "");
        if (source != nullptr) {
            gst_object_unref(source);
        }
    }
    GstElement* network = gst_element_make_from_uri(GST_URI_SRC, "http://127.0.0.1/x", nullptr, nullptr);
    EXPECT_NE(network, nullptr);
    if (network != nullptr) {
        gst_object_unref(network);
    }

    testsupport::cTempFolder folder;
    const std::string watched = folder.file("secret.ts");
    std::ofstream(watched) << std::string(188 * 100, 'G');
    const std::string key = folder.file("secret.key");
    std::ofstream(key) << std::string(16, 'K');
    cOpenWatch watchSegment(watched);
    cOpenWatch watchKey(key);
    // A descriptor with something to read: a variant "fd://N" must leave it
    // unread.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    ASSERT_EQ(write(pipeEnds[1], "#EXTM3U\n", 8), 8);
    const std::string descriptor = "fd://" + std::to_string(pipeEnds[0]);

    cClipRecipe recipe;
    recipe.container = "ts";
    recipe.seconds = 2.0;
    const std::string clip = folder.file("clip.ts");
    ASSERT_TRUE(makeClip(clip, recipe));

    const std::string head = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n";
    cTestHttpServer server;
    server.addFile("/clip.ts", clip, "video/mp2t");
    server.addBody("/segments.m3u8",
                   head + "#EXTINF:2.0,\nfile://" + watched + "\n#EXTINF:2.0,\n" + watched + "\n#EXT-X-ENDLIST\n",
                   200, "application/vnd.apple.mpegurl");
    server.addBody("/keyed.m3u8",
                   head + "#EXT-X-KEY:METHOD=AES-128,URI=\"file://" + key + "\"\n#EXTINF:2.0,\n" +
                       server.url("/clip.ts") + "\n#EXT-X-ENDLIST\n",
                   200, "application/vnd.apple.mpegurl");
    const std::string variant = "#EXT-X-STREAM-INF:BANDWIDTH=100000,RESOLUTION=320x240\n";
    server.addBody("/master-file.m3u8", "#EXTM3U\n" + variant + "file://" + watched + "\n", 200,
                   "application/vnd.apple.mpegurl");
    server.addBody("/master-fd.m3u8", "#EXTM3U\n" + variant + descriptor + "\n", 200,
                   "application/vnd.apple.mpegurl");
    server.addBody("/master-media.m3u8", "#EXTM3U\n" + variant + server.url("/segments.m3u8") + "\n", 200,
                   "application/vnd.apple.mpegurl");
    cMediaGraph::setNetworkTimeout(5);
    for (const std::string& address :
         {"file://" + watched, server.url("/segments.m3u8"), server.url("/keyed.m3u8"),
          server.url("/master-file.m3u8"), server.url("/master-fd.m3u8"), server.url("/master-media.m3u8")}) {
        SCOPED_TRACE(address);
        playBriefly(address);
    }
    cMediaGraph::setNetworkTimeout(15);
    EXPECT_FALSE(watchSegment.opened());
    EXPECT_FALSE(watchKey.opened());
    EXPECT_EQ(unread(pipeEnds[0]), 8) << "a variant read the descriptor";
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}
