// The relay's playlist rewriting, as a table: what goes back through the
// relay (playlists, keys), what stays at its absolute upstream address
// (segments, initialisation sections), and what is left alone.

#include "playback/HlsRelay.h"

#include <gtest/gtest.h>

#include <string>

TEST(HlsRelay, PlaylistsAndKeysComeBackThroughTheRelaySegmentsGoStraightUpstream)
{
    const auto relay = [](const std::string& address, cHlsRelay::eKind kind) {
        return std::string(kind == cHlsRelay::Key ? "KEY<" : "LIST<") + address + ">";
    };
    const struct {
        const char* what;
        const char* playlist;
        const char* rewritten;
    } cases[] = {
        {"variants of a master, relative and absolute",
         "#EXTM3U\r\n#EXT-X-STREAM-INF:BANDWIDTH=1\r\nlow/index.m3u8\r\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=2\r\nhttps://cdn.example/high.m3u8?t=1\r\n",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nLIST<http://tv.example/live/low/index.m3u8>\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=2\nLIST<https://cdn.example/high.m3u8?t=1>\n"},
        {"renditions and I-frame playlists",
         "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",URI=\"audio/en.m3u8\"\n"
         "#EXT-X-I-FRAME-STREAM-INF:BANDWIDTH=1,URI=\"/iframes.m3u8\"\n",
         "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",URI=\"LIST<http://tv.example/live/audio/en.m3u8>\"\n"
         "#EXT-X-I-FRAME-STREAM-INF:BANDWIDTH=1,URI=\"LIST<http://tv.example/iframes.m3u8>\"\n"},
        {"keys through the relay, segments and sections straight",
         "#EXT-X-KEY:METHOD=AES-128,URI=\"../keys/k1\",IV=0x01\n#EXT-X-MAP:URI=\"init.mp4\"\n"
         "#EXTINF:1.0,\nseg1.ts\n#EXTINF:1.0,\nhttp://other.example/seg2.ts\n",
         "#EXT-X-KEY:METHOD=AES-128,URI=\"KEY<http://tv.example/keys/k1>\",IV=0x01\n"
         "#EXT-X-MAP:URI=\"http://tv.example/live/init.mp4\"\n"
         "#EXTINF:1.0,\nhttp://tv.example/live/seg1.ts\n#EXTINF:1.0,\nhttp://other.example/seg2.ts\n"},
        {"keys that are no web address, a key without one, other tags",
         "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://key\"\n#EXT-X-KEY:METHOD=NONE\n#EXT-X-ENDLIST\n\n",
         "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://key\"\n#EXT-X-KEY:METHOD=NONE\n#EXT-X-ENDLIST\n\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cHlsRelay::rewritePlaylist(c.playlist, "http://tv.example/live/master.m3u8", relay), c.rewritten)
            << c.what;
    }
    EXPECT_TRUE(cHlsRelay::isHlsAddress("http://tv.example/live/Index.M3U8?token=1"));
    EXPECT_FALSE(cHlsRelay::isHlsAddress("http://tv.example/live.ts?x=.m3u8"));
    EXPECT_FALSE(cHlsRelay::isHlsAddress("file:///tmp/list.m3u8"));
}
