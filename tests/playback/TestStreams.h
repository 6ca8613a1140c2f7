#pragma once
// Live sources for the stream-kind tests, made in the test process with
// GStreamer's test sources and encoders: an endless MPEG-TS body for the
// loopback HTTP server, and an RTSP server on 127.0.0.1 with a port the
// system picks.

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>
#include <thread>

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GstRTSPServer GstRTSPServer;

// Writes a live MPEG-TS stream (H.264 video 320×240 at 25 frames a second
// with a moving ball, AAC audio) into body until stopping() says so or the
// reader goes away. Returns at once if the encoder cannot be built.
void writeLiveTransportStream(std::ostream& body, const std::function<bool()>& stopping);

class cTestRtspServer {
public:
    enum eTransport { OverTcp, OverUdp };

    cTestRtspServer();
    // Closes every session and stops listening, then ends the server's
    // thread.
    ~cTestRtspServer();
    cTestRtspServer(const cTestRtspServer&) = delete;
    cTestRtspServer& operator=(const cTestRtspServer&) = delete;

    bool isValid() const { return mPort != 0; }
    // A live H.264 + AAC stream at rtsp://127.0.0.1:<port><path>, offered
    // over the given transport only.
    void addStream(const std::string& path, eTransport transport);
    std::string url(const std::string& path) const;
    // Sessions set up since the start (each open of the stream makes one).
    int sessions() const { return mSessions; }
    // The server goes away: its sessions are closed and it stops listening,
    // so that a new connection is refused.
    void vanish();

private:
    GMainContext* mContext = nullptr; // set in the constructor, read-only afterwards
    GMainLoop* mLoop = nullptr;       // set in the constructor, read-only afterwards
    GstRTSPServer* mServer = nullptr; // owned; mount points and clients are the library's, thread-safe
    unsigned mSourceId = 0;           // the listening source on mContext
    int mPort = 0;                    // set in the constructor
    std::atomic<int> mSessions{0};    // counted on the server's thread
    std::thread mThread;              // runs mLoop
};
