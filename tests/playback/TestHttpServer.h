#pragma once
// A real HTTP server on 127.0.0.1 with a port the system picks, running in
// threads of the test. Paths answer with a fixed body, the contents of a
// file, a stall (the request is accepted and never answered until the
// server stops), or a body without end that a generator writes in chunks.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace Poco {
class ThreadPool;
namespace Net {
class HTTPServer;
}
} // namespace Poco

class cTestHttpServer {
public:
    cTestHttpServer();
    ~cTestHttpServer();

    void addBody(const std::string& path, const std::string& body, int status = 200,
                 const std::string& contentType = "text/plain");
    void addFile(const std::string& path, const std::string& filePath, const std::string& contentType);
    void addStall(const std::string& path);
    // Writes the body with chunked transfer encoding, for as long as the
    // generator keeps writing; it is told to end (the function returns
    // true) when the server stops. Runs on the server's request thread.
    using tGenerator = std::function<void(std::ostream& body, const std::function<bool()>& stopping)>;
    void addGenerator(const std::string& path, const std::string& contentType, tGenerator generator);
    // Answers with a redirection (302) to the location.
    void addRedirect(const std::string& path, const std::string& location);
    // From now on every request must carry these headers with exactly these
    // values (names without regard to case), or it is answered 403.
    void requireHeaders(const std::map<std::string, std::string>& headers);
    // Requests answered 403 for a missing or wrong header.
    int refusals();
    // The headers of the last request that reached the path (names as
    // sent); empty before any.
    std::map<std::string, std::string> lastHeaders(const std::string& path);

    int port() const { return mPort; }
    // http://127.0.0.1:<port><path>
    std::string url(const std::string& path) const;
    // How many requests reached the given path.
    int hits(const std::string& path);

    struct cRoute {
        enum eKind { Body, File, Stall, Generator, Redirect } kind = Body;
        std::string body;
        std::string filePath;
        std::string contentType;
        int status = 200;
        tGenerator generator;
    };
    // Used by the request handler: false when the request lacks a
    // required header (the handler answers 403).
    bool admit(const std::string& path, const std::map<std::string, std::string>& headers);
    bool findRoute(const std::string& path, cRoute& route);
    void waitForStop();
    bool stopping();

private:
    std::mutex mLock;
    std::condition_variable mStopped;
    bool mStopping = false;                // guarded by mLock
    std::map<std::string, cRoute> mRoutes; // guarded by mLock
    std::map<std::string, int> mHits;      // guarded by mLock
    // The request threads are the server's own, so that the destructor can
    // wait for every handler (a generator still writing) before the routes
    // and the lock they use go away. Declared before the server: it is
    // destroyed after it.
    std::unique_ptr<Poco::ThreadPool> mThreads;
    std::map<std::string, std::string> mRequired; // guarded by mLock; names lower-case
    std::map<std::string, std::map<std::string, std::string>> mLastHeaders; // guarded by mLock
    int mRefusals = 0;                     // guarded by mLock
    std::unique_ptr<Poco::Net::HTTPServer> mServer;
    int mPort = 0;
};

// A loopback port that nothing listens on: a connection to it is refused.
int closedPort();
