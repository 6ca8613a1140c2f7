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
// 403; folders and missing files are 404.

#include <cstdint>
#include <memory>
#include <string>

namespace Poco {
class ThreadPool;
namespace Net {
class HTTPServer;
}
} // namespace Poco

class cCatalogueServer {
public:
    // Serves root (which must be an existing folder) on host:port; port 0
    // takes any free port. Throws Poco::Exception when the folder is not
    // there or the address cannot be bound.
    cCatalogueServer(const std::string& root, const std::string& host = "127.0.0.1", uint16_t port = 0);
    // Stops the server (see stop()).
    ~cCatalogueServer();
    cCatalogueServer(const cCatalogueServer&) = delete;
    cCatalogueServer& operator=(const cCatalogueServer&) = delete;

    // Starts answering requests on the server's own threads.
    void start();
    // Stops accepting, breaks off transfers still running and waits for the
    // server's threads. Calling it twice is harmless.
    void stop();

    // The port actually bound (useful with port 0).
    uint16_t port() const { return mPort; }
    // The folder served, with symbolic links resolved.
    const std::string& root() const { return mRoot; }

private:
    std::string mRoot;                          // set at construction
    uint16_t mPort = 0;                         // set at construction
    std::unique_ptr<Poco::ThreadPool> mThreads; // owner's thread only
    std::unique_ptr<Poco::Net::HTTPServer> mServer; // owner's thread only
    bool mRunning = false;                      // owner's thread only
};

// The content type the server sends for a file name (by its extension,
// case-insensitive); application/octet-stream when unknown.
std::string contentTypeFor(const std::string& fileName);
