#include "tools/CatalogueServer.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

#include <sys/stat.h>

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/ThreadPool.h>
#include <Poco/URI.h>

namespace {

using Poco::Net::HTTPResponse;
using Poco::Net::HTTPServerRequest;
using Poco::Net::HTTPServerResponse;

// A version file is a number; more than this is not one.
constexpr std::streamsize MaxVersionFileBytes = 4096;
constexpr size_t CopyBytes = 64 * 1024;

// The canonical path, or nothing when it does not exist.
std::optional<std::string> canonical(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        return std::nullopt;
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

struct cByteRange {
    uint64_t first = 0;
    uint64_t last = 0; // inclusive
};

enum class eRangeKind { Whole, Part, Unsatisfiable };

// One "bytes=first-last", "bytes=first-" or "bytes=-suffix" range. Anything
// else (several ranges, other units, malformed text) is ignored and the
// whole file is sent, as HTTP allows.
eRangeKind parseRange(const std::string& header, uint64_t size, cByteRange& range)
{
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0) {
        return eRangeKind::Whole;
    }
    const std::string rangeText = header.substr(prefix.size());
    const size_t dash = rangeText.find('-');
    if (dash == std::string::npos || rangeText.find(',') != std::string::npos) {
        return eRangeKind::Whole;
    }
    const std::string firstText = rangeText.substr(0, dash);
    const std::string lastText = rangeText.substr(dash + 1);
    const auto number = [](const std::string& text, uint64_t& value) {
        if (text.empty() || text.size() > 18 ||
            !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
            return false;
        }
        value = std::stoull(text);
        return true;
    };
    uint64_t first = 0;
    uint64_t last = 0;
    if (firstText.empty()) {
        uint64_t suffix = 0;
        if (!number(lastText, suffix)) {
            return eRangeKind::Whole;
        }
        if (suffix == 0 || size == 0) {
            return eRangeKind::Unsatisfiable;
        }
        range.first = suffix >= size ? 0 : size - suffix;
        range.last = size - 1;
        return eRangeKind::Part;
    }
    if (!number(firstText, first)) {
        return eRangeKind::Whole;
    }
    if (lastText.empty()) {
        last = size == 0 ? 0 : size - 1;
    } else if (!number(lastText, last) || last < first) {
        return eRangeKind::Whole;
    }
    if (first >= size) {
        return eRangeKind::Unsatisfiable;
    }
    range.first = first;
    range.last = std::min(last, size - 1);
    return eRangeKind::Part;
}

void sendStatus(HTTPServerResponse& response, HTTPResponse::HTTPStatus status)
{
    response.setStatusAndReason(status);
    response.setContentType("text/plain; charset=utf-8");
    const std::string body = response.getReason() + "\n";
    response.setContentLength64(static_cast<Poco::Int64>(body.size()));
    response.send() << body;
}

class cFolderHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit cFolderHandler(const std::string& root) : mRoot(root) {}

    void handleRequest(HTTPServerRequest& request, HTTPServerResponse& response) override
    {
        const bool head = request.getMethod() == Poco::Net::HTTPRequest::HTTP_HEAD;
        if (!head && request.getMethod() != Poco::Net::HTTPRequest::HTTP_GET) {
            response.set("Allow", "GET, HEAD");
            sendStatus(response, HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
            return;
        }
        std::string path;
        try {
            path = Poco::URI(request.getURI()).getPath();
        } catch (const Poco::Exception&) {
            sendStatus(response, HTTPResponse::HTTP_BAD_REQUEST);
            return;
        }
        if (path == "/dbversion.php") {
            sendVersion(response, head);
            return;
        }
        if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) {
            sendStatus(response, HTTPResponse::HTTP_BAD_REQUEST);
            return;
        }
        // No segment may climb out of the folder, whatever lies there.
        for (size_t start = 1; start <= path.size();) {
            const size_t slash = std::min(path.find('/', start), path.size());
            if (path.compare(start, slash - start, "..") == 0 && slash - start == 2) {
                sendStatus(response, HTTPResponse::HTTP_FORBIDDEN);
                return;
            }
            start = slash + 1;
        }
        const std::optional<std::string> file = canonical(mRoot + path);
        if (!file) {
            sendStatus(response, HTTPResponse::HTTP_NOT_FOUND);
            return;
        }
        // A symbolic link below the folder may still point elsewhere.
        if (*file != mRoot && file->compare(0, mRoot.size() + 1, mRoot + "/") != 0) {
            sendStatus(response, HTTPResponse::HTTP_FORBIDDEN);
            return;
        }
        const std::string type = path == "/database" ? "application/vnd.sqlite3" : contentTypeFor(*file);
        sendFile(request, response, *file, type, head);
    }

private:
    void sendVersion(HTTPServerResponse& response, bool head)
    {
        std::ifstream in(mRoot + "/dbversion", std::ios::binary);
        if (!in) {
            sendStatus(response, HTTPResponse::HTTP_NOT_FOUND);
            return;
        }
        std::string text(MaxVersionFileBytes, '\0');
        in.read(text.data(), MaxVersionFileBytes);
        text.resize(static_cast<size_t>(in.gcount()));
        response.setContentType("text/plain; charset=utf-8");
        response.setContentLength64(static_cast<Poco::Int64>(text.size()));
        std::ostream& out = response.send();
        if (!head) {
            out << text;
        }
    }

    void sendFile(HTTPServerRequest& request, HTTPServerResponse& response, const std::string& path,
                  const std::string& type, bool head)
    {
        struct stat info;
        std::ifstream in;
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            (in.open(path, std::ios::binary), !in)) {
            sendStatus(response, HTTPResponse::HTTP_NOT_FOUND);
            return;
        }
        const uint64_t size = static_cast<uint64_t>(info.st_size);
        cByteRange range{0, size == 0 ? 0 : size - 1};
        eRangeKind kind = eRangeKind::Whole;
        if (request.has("Range")) {
            kind = parseRange(request.get("Range"), size, range);
        }
        response.set("Accept-Ranges", "bytes");
        if (kind == eRangeKind::Unsatisfiable) {
            response.set("Content-Range", "bytes */" + std::to_string(size));
            sendStatus(response, HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE);
            return;
        }
        uint64_t length = size;
        if (kind == eRangeKind::Part) {
            length = range.last - range.first + 1;
            response.setStatusAndReason(HTTPResponse::HTTP_PARTIAL_CONTENT);
            response.set("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                              std::to_string(range.last) + "/" + std::to_string(size));
            in.seekg(static_cast<std::streamoff>(range.first));
        }
        response.setContentType(type);
        response.setContentLength64(static_cast<Poco::Int64>(length));
        std::ostream& out = response.send();
        if (head) {
            return;
        }
        std::vector<char> buffer(CopyBytes);
        while (length > 0 && out) {
            const std::streamsize want = static_cast<std::streamsize>(std::min<uint64_t>(length, buffer.size()));
            in.read(buffer.data(), want);
            const std::streamsize got = in.gcount();
            if (got <= 0) {
                // The file shrank under us; the client sees a short body.
                break;
            }
            out.write(buffer.data(), got);
            length -= static_cast<uint64_t>(got);
        }
    }

    const std::string& mRoot; // the server's, which outlives its handlers
};

class cFolderHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit cFolderHandlerFactory(const std::string& root) : mRoot(root) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const HTTPServerRequest&) override
    {
        return new cFolderHandler(mRoot);
    }

private:
    const std::string& mRoot;
};

} // namespace

std::string contentTypeFor(const std::string& fileName)
{
    static const std::pair<const char*, const char*> types[] = {
        {"asx", "video/x-ms-asf"},    {"asf", "video/x-ms-asf"},     {"wmv", "video/x-ms-wmv"},
        {"wma", "audio/x-ms-wma"},    {"mp4", "video/mp4"},          {"m4v", "video/mp4"},
        {"mkv", "video/x-matroska"},  {"webm", "video/webm"},        {"ts", "video/mp2t"},
        {"m3u8", "application/vnd.apple.mpegurl"},                   {"ogg", "video/ogg"},
        {"ogv", "video/ogg"},         {"mp3", "audio/mpeg"},         {"txt", "text/plain; charset=utf-8"},
        {"html", "text/html; charset=utf-8"},                        {"xml", "application/xml"},
        {"png", "image/png"},         {"jpg", "image/jpeg"},         {"jpeg", "image/jpeg"},
    };
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "application/octet-stream";
    }
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, type] : types) {
        if (extension == known) {
            return type;
        }
    }
    return "application/octet-stream";
}

cCatalogueServer::cCatalogueServer(const std::string& root, const std::string& host, uint16_t port)
{
    const std::optional<std::string> folder = canonical(root);
    struct stat info;
    if (!folder || ::stat(folder->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        throw Poco::FileNotFoundException("no such folder", root);
    }
    mRoot = *folder == "/" ? "" : *folder;

    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress(host, port));
    mPort = socket.address().port();

    auto* params = new Poco::Net::HTTPServerParams();
    params->setMaxThreads(16);
    params->setMaxQueued(64);
    // A client that stops reading or never sends its request is dropped.
    params->setTimeout(Poco::Timespan(10, 0));
    params->setKeepAlive(true);
    mThreads = std::make_unique<Poco::ThreadPool>(2, 16);
    mServer = std::make_unique<Poco::Net::HTTPServer>(new cFolderHandlerFactory(mRoot), *mThreads, socket, params);
}

cCatalogueServer::~cCatalogueServer() { stop(); }

void cCatalogueServer::start()
{
    if (!mRunning) {
        mServer->start();
        mRunning = true;
    }
}

void cCatalogueServer::stop()
{
    if (mRunning) {
        mServer->stopAll(true);
        mRunning = false;
    }
    if (mThreads) {
        mThreads->joinAll();
    }
}
