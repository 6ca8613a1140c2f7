#pragma once
// The catalogue server: serves one folder over HTTP for the players.
//   GET /dbversion.php  the catalogue version: the text of the file
//                       "dbversion" in the folder
//   GET /database       the catalogue file "database" of the folder
//   GET /<path>         any other file below the folder (streams, ASX
//                       playlists), with a content type from its extension
//                       and single byte ranges
// HEAD is answered like GET without the body. Paths that lead outside the
// folder (".." segments, symbolic links pointing elsewhere) are refused with
// 403; folders, missing files and dotfiles (any segment of the path, or of
// the file's real path below the folder, that starts with '.') are 404.
// Every connection carries one request and is closed after the answer, so
// no idle connection holds a thread between requests.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

// How much the server takes from its clients. The defaults suit a server
// on the open internet that hands a few thousand players a catalogue of a
// few megabytes; tests shorten the time-outs.
//
// A connection first waits in the header gate, which holds no thread: one
// thread watches every such connection and hands it to a request thread
// only once its whole request header has arrived. So clients that connect
// and send nothing, or half a header, cost a socket each until the header
// time-out, never a thread, and cannot keep others out. The gate reads each
// byte of a header once, keeping what it read for the request thread.
//
// Once a request has its thread, the answer must keep moving: a client that
// takes the body slower than the minimum send rate is cut off, so that
// clients reading at a trickle cannot hold every thread either.
struct cServerLimits {
    // The whole request header must arrive within this time of connecting.
    std::chrono::milliseconds headerTimeout{5000};
    // A read or write for a request being served that makes no progress for
    // this long ends the connection.
    std::chrono::milliseconds ioTimeout{10000};
    // Requests served at the same time (one thread each).
    int threads = 32;
    // Complete requests waiting for a thread; beyond that a request is
    // answered 503 at once.
    int queue = 256;
    // Connections still sending their header. When it is full, the one that
    // has waited longest is dropped for a new one. Also kept below the
    // process's file-descriptor limit.
    int pendingConnections = 1024;
    // A larger request header is answered 431.
    size_t maxHeaderBytes = 16 * 1024;
    // The minimum send rate: every window of this length must carry at
    // least minSendBytes of the body (or its end), or the connection is
    // closed. The default, 16 KiB/s over 10 s, is the rate below which a
    // player gives up a catalogue download itself.
    std::chrono::milliseconds sendWindow{10000};
    size_t minSendBytes = 160 * 1024;
};

// What the header gate has done since the start; for tests and logs.
struct cServerCounters {
    uint64_t accepted = 0;       // connections taken from the listening socket
    uint64_t served = 0;         // handed to a request thread with a whole header
    uint64_t headerTimeouts = 0; // closed because their header did not arrive in time
    uint64_t evicted = 0;        // dropped to make room for a newer connection
    uint64_t hungUp = 0;         // closed by the client before their header was whole
    uint64_t busy = 0;           // answered 503: every thread busy and the queue full
    uint64_t tooLarge = 0;       // answered 431
    uint64_t slowReaders = 0;    // cut off for taking an answer below the minimum send rate
    uint64_t headerBytes = 0;    // request bytes the gate has read (each byte once)
};

class cCatalogueServer {
public:
    // Serves root (which must be an existing folder) on host:port; port 0
    // takes any free port. Throws Poco::Exception when the folder is not
    // there or the address cannot be bound.
    cCatalogueServer(const std::string& root, const std::string& host = "127.0.0.1", uint16_t port = 0,
                     const cServerLimits& limits = cServerLimits());
    // Stops the server (see stop()).
    ~cCatalogueServer();
    cCatalogueServer(const cCatalogueServer&) = delete;
    cCatalogueServer& operator=(const cCatalogueServer&) = delete;

    // Starts answering requests on the server's own threads.
    void start();
    // Stops accepting, drops waiting connections, breaks off transfers still
    // running and waits for the server's threads. Calling it twice is
    // harmless.
    void stop();

    // The port actually bound (useful with port 0).
    uint16_t port() const { return mPort; }
    // The folder served, with symbolic links resolved.
    const std::string& root() const { return mRoot; }
    // The limits in force: pendingConnections may be lower than asked for,
    // to stay inside the file-descriptor limit.
    const cServerLimits& limits() const { return mLimits; }
    // Any thread.
    cServerCounters counters() const;

private:
    struct cParts;
    void runGate();

    std::string mRoot;             // set at construction
    uint16_t mPort = 0;            // set at construction
    cServerLimits mLimits;         // set at construction
    std::unique_ptr<cParts> mParts; // the sockets, the gate's state and the request threads; see cParts
    std::thread mGateThread;       // owner's thread only
    bool mRunning = false;         // owner's thread only
    bool mStopped = false;         // owner's thread only

    // Written by the gate thread, read by anyone.
    std::atomic<uint64_t> mAccepted{0};
    std::atomic<uint64_t> mServed{0};
    std::atomic<uint64_t> mHeaderTimeouts{0};
    std::atomic<uint64_t> mEvicted{0};
    std::atomic<uint64_t> mHungUp{0};
    std::atomic<uint64_t> mBusy{0};
    std::atomic<uint64_t> mTooLarge{0};
    std::atomic<uint64_t> mHeaderBytes{0};
    // Written by the request threads, read by anyone.
    std::atomic<uint64_t> mSlowReaders{0};
};

// Raises the soft limit of open files to the hard limit (a server holding
// many waiting connections needs one descriptor each). Returns the soft
// limit in force afterwards.
long raiseOpenFileLimit();
