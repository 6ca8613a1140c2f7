// Only network media: the addresses the player takes, and a media framework
// whose file and device sources are gone, so that neither an address nor
// an HLS playlist can make it open a local file (watched with inotify).

#include "TestHttpServer.h"
#include "playback/MediaGraph.h"
#include "playback/StreamAddress.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <gst/gst.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

using testsupport::cTempFolder;

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
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_EQ(checkStreamAddress(c.address, reason), c.taken) << c.address;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.address << ": " << reason;
    }
}

// The whole process: once the sources are restricted, nothing here reads
// a file.
TEST(StreamAddress, NoGraphReadsALocalFileWhateverThePlaylistSays)
{
    restrictMediaSources();
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

    cTempFolder folder;
    const std::string watched = folder.file("secret.ts");
    std::ofstream(watched) << std::string(188 * 100, 'G');
    cOpenWatch watch(watched);
    cTestHttpServer server;
    server.addBody("/live.m3u8",
                   "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:2.0,\nfile://" +
                       watched + "\n#EXTINF:2.0,\n" + watched + "\n#EXT-X-ENDLIST\n",
                   200, "application/vnd.apple.mpegurl");
    cMediaGraph::setNetworkTimeout(5);
    for (const std::string& address : {"file://" + watched, server.url("/live.m3u8")}) {
        SCOPED_TRACE(address);
        cNoFrames frames;
        cMediaGraph graph;
        ASSERT_TRUE(graph.isValid());
        if (graph.addSampleGrabber(&frames) && graph.addNullRenderer() && graph.addSource() && graph.load(address)) {
            graph.renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSource, cMediaGraph::FilterSampleGrabber);
            graph.run();
            std::this_thread::sleep_for(std::chrono::seconds(2));
        }
    }
    cMediaGraph::setNetworkTimeout(15);
    EXPECT_FALSE(watch.opened());
}
