#pragma once
// Real pieces for the catalogue tests: a fresh temporary folder, SQLite
// catalogues written by the test, and an HTTP server on 127.0.0.1 with a
// free port whose answers each test scripts.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

namespace Poco::Net {
class HTTPServer;
}

#include "tests/support/TempFolder.h"

namespace testsupport {

// A folder made with mkdtemp, removed with its contents at the end.
struct cRow {
    std::string country, type, name, description, url; // url as stored (encoded)
};

// Writes an SQLite file with the channels table holding the rows in order.
// With indexes, the same indexes the catalogue builder makes.
void makeCatalogue(const std::string& path, const std::vector<cRow>& rows, bool indexes = false);
// Runs one SQL text against a new SQLite file (for odd catalogues).
void makeDatabase(const std::string& path, const std::string& sql);
// The encoded form of an ASCII address with no hiding (r = 0 each time).
std::string plainEncoded(const std::string& address);

std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

// The text compressed as one gzip member, as servers send .gz files.
std::string gzip(const std::string& text);

// UTF-16 little-endian bytes of ASCII text.
std::string utf16le(const std::u16string& text);

// An HTTP server on 127.0.0.1 with a free port. Each path has a handler the
// test sets; unknown paths answer 404. stop() (or the destructor) releases
// handlers that are waiting in stall().
class cTestServer {
public:
    using tHandler = std::function<void(Poco::Net::HTTPServerRequest&, Poco::Net::HTTPServerResponse&)>;

    cTestServer();
    ~cTestServer();

    void on(const std::string& path, tHandler handler);
    // A 200 answer with the body and its length.
    void serve(const std::string& path, const std::string& body);
    uint16_t port() const { return mPort; }
    std::string address() const { return "127.0.0.1:" + std::to_string(mPort); }
    // How many requests have reached the path.
    int hits(const std::string& path);
    // Waits in a handler until the server stops.
    void stall();
    void stop();

    tHandler handlerFor(const std::string& path);

private:
    std::mutex mLock;
    std::map<std::string, tHandler> mHandlers; // guarded by mLock
    std::map<std::string, int> mHits;          // guarded by mLock
    std::condition_variable mReleased;
    bool mStopping = false;                    // guarded by mLock
    uint16_t mPort = 0;                        // set at construction
    std::unique_ptr<Poco::Net::HTTPServer> mServer; // test thread only
};

// A socket that listens on 127.0.0.1 and never accepts: connections succeed
// (the kernel completes them) but no answer ever comes.
class cSilentListener {
public:
    cSilentListener();
    uint16_t port() const { return mPort; }
    std::string address() const { return "127.0.0.1:" + std::to_string(mPort); }

private:
    Poco::Net::ServerSocket mSocket;
    uint16_t mPort = 0;
};

// A listener whose queue of unaccepted connections is full, so that a new
// connection is never completed (the kernel drops its requests).
class cFullListener {
public:
    cFullListener();
    uint16_t port() const { return mPort; }
    std::string address() const { return "127.0.0.1:" + std::to_string(mPort); }

private:
    Poco::Net::ServerSocket mSocket;
    std::vector<Poco::Net::StreamSocket> mWaiting;
    uint16_t mPort = 0;
};

// A port on 127.0.0.1 where nothing listens.
uint16_t closedPort();

// A raw TCP server for byte-exact misbehaviour (chunked bodies cut off, a
// non-HTTP answer): for every connection it reads the request head and
// writes the script's bytes for the requested path, then closes.
class cRawServer {
public:
    using tScript = std::function<std::string(const std::string& path)>;
    explicit cRawServer(tScript script);
    ~cRawServer();
    uint16_t port() const { return mPort; }
    std::string address() const { return "127.0.0.1:" + std::to_string(mPort); }

private:
    void serve();
    tScript mScript;
    Poco::Net::ServerSocket mSocket;
    uint16_t mPort = 0;
    std::atomic<bool> mStopping{false};
    std::thread mThread;
};

} // namespace testsupport
