#include "TestHttpServer.h"

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/ThreadPool.h>

#include <cctype>
#include <fstream>

namespace {

class cHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit cHandler(cTestHttpServer& server) : mServer(server) {}

    void handleRequest(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) override
    {
        std::map<std::string, std::string> headers;
        for (const auto& [name, value] : request) {
            headers[name] = value;
        }
        if (!mServer.admit(request.getURI(), headers)) {
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_FORBIDDEN);
            response.setContentType("text/html");
            response.send() << "<html><body>forbidden</body></html>";
            return;
        }
        cTestHttpServer::cRoute route;
        if (!mServer.findRoute(request.getURI(), route)) {
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_NOT_FOUND);
            response.setContentType("text/html");
            response.send() << "<html><body>not found</body></html>";
            return;
        }
        switch (route.kind) {
        case cTestHttpServer::cRoute::Redirect:
            response.redirect(route.body, Poco::Net::HTTPResponse::HTTP_FOUND);
            return;
        case cTestHttpServer::cRoute::Stall:
            mServer.waitForStop();
            return;
        case cTestHttpServer::cRoute::Body:
            response.setStatus(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(route.status));
            response.setContentType(route.contentType);
            response.setContentLength(static_cast<std::streamsize>(route.body.size()));
            response.send() << route.body;
            return;
        case cTestHttpServer::cRoute::Generator:
            response.setContentType(route.contentType);
            response.setChunkedTransferEncoding(true);
            try {
                route.generator(response.send(), [this] { return mServer.stopping(); });
            } catch (...) {
                // The player closed the connection.
            }
            return;
        case cTestHttpServer::cRoute::File: {
            std::ifstream file(route.filePath, std::ios::binary);
            std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            response.setContentType(route.contentType);
            response.setContentLength(static_cast<std::streamsize>(data.size()));
            try {
                response.send().write(data.data(), static_cast<std::streamsize>(data.size()));
            } catch (...) {
                // The player may close the connection before the end.
            }
            return;
        }
        }
    }

private:
    cTestHttpServer& mServer;
};

class cFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit cFactory(cTestHttpServer& server) : mServer(server) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
    {
        return new cHandler(mServer);
    }

private:
    cTestHttpServer& mServer;
};

} // namespace

cTestHttpServer::cTestHttpServer()
{
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    mPort = socket.address().port();
    auto* params = new Poco::Net::HTTPServerParams;
    params->setMaxThreads(16);
    params->setKeepAlive(false);
    mThreads = std::make_unique<Poco::ThreadPool>(2, 32);
    mServer = std::make_unique<Poco::Net::HTTPServer>(new cFactory(*this), *mThreads, socket, params);
    mServer->start();
}

cTestHttpServer::~cTestHttpServer()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStopping = true;
    }
    mStopped.notify_all();
    mServer->stopAll(true);
    // Stopping shuts the connections down but does not wait for their
    // handlers; one still in a generator would next ask stopping() of a
    // server already gone.
    mThreads->joinAll();
}

void cTestHttpServer::addBody(const std::string& path, const std::string& body, int status,
                              const std::string& contentType)
{
    std::lock_guard<std::mutex> lock(mLock);
    cRoute route;
    route.kind = cRoute::Body;
    route.body = body;
    route.status = status;
    route.contentType = contentType;
    mRoutes[path] = route;
}

void cTestHttpServer::addFile(const std::string& path, const std::string& filePath, const std::string& contentType)
{
    std::lock_guard<std::mutex> lock(mLock);
    cRoute route;
    route.kind = cRoute::File;
    route.filePath = filePath;
    route.contentType = contentType;
    mRoutes[path] = route;
}

void cTestHttpServer::addStall(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mLock);
    cRoute route;
    route.kind = cRoute::Stall;
    mRoutes[path] = route;
}

void cTestHttpServer::addGenerator(const std::string& path, const std::string& contentType, tGenerator generator)
{
    std::lock_guard<std::mutex> lock(mLock);
    cRoute route;
    route.kind = cRoute::Generator;
    route.contentType = contentType;
    route.generator = std::move(generator);
    mRoutes[path] = route;
}

void cTestHttpServer::addRedirect(const std::string& path, const std::string& location)
{
    std::lock_guard<std::mutex> lock(mLock);
    cRoute route;
    route.kind = cRoute::Redirect;
    route.body = location;
    mRoutes[path] = route;
}

namespace {

std::string lowerCase(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

void cTestHttpServer::requireHeaders(const std::map<std::string, std::string>& headers)
{
    std::lock_guard<std::mutex> lock(mLock);
    mRequired.clear();
    for (const auto& [name, value] : headers) {
        mRequired[lowerCase(name)] = value;
    }
}

int cTestHttpServer::refusals()
{
    std::lock_guard<std::mutex> lock(mLock);
    return mRefusals;
}

std::map<std::string, std::string> cTestHttpServer::lastHeaders(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mLock);
    return mLastHeaders[path];
}

bool cTestHttpServer::admit(const std::string& path, const std::map<std::string, std::string>& headers)
{
    std::lock_guard<std::mutex> lock(mLock);
    mLastHeaders[path] = headers;
    for (const auto& [name, value] : mRequired) {
        bool matched = false;
        for (const auto& [sentName, sentValue] : headers) {
            matched = matched || (lowerCase(sentName) == name && sentValue == value);
        }
        if (!matched) {
            ++mHits[path];
            ++mRefusals;
            return false;
        }
    }
    return true;
}

std::string cTestHttpServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(mPort) + path;
}

int cTestHttpServer::hits(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mLock);
    return mHits[path];
}

bool cTestHttpServer::findRoute(const std::string& path, cRoute& route)
{
    std::lock_guard<std::mutex> lock(mLock);
    ++mHits[path];
    auto it = mRoutes.find(path);
    if (it == mRoutes.end()) {
        return false;
    }
    route = it->second;
    return true;
}

void cTestHttpServer::waitForStop()
{
    std::unique_lock<std::mutex> lock(mLock);
    mStopped.wait(lock, [this] { return mStopping; });
}

bool cTestHttpServer::stopping()
{
    std::lock_guard<std::mutex> lock(mLock);
    return mStopping;
}

int closedPort()
{
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    const int port = socket.address().port();
    socket.close();
    return port;
}
