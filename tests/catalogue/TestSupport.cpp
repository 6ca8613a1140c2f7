#include "TestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <sqlite3.h>

#include <Poco/DeflatingStream.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include "kestrel/Unicode.h"

namespace testsupport {

namespace {

void check(int result, sqlite3* db, const char* what)
{
    if (result != SQLITE_OK && result != SQLITE_DONE) {
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
    }
}

} // namespace

void makeDatabase(const std::string& path, const std::string& sql)
{
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    check(sqlite3_open(path.c_str(), &db), db, "open");
    char* message = nullptr;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string error = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    if (result != SQLITE_OK) {
        throw std::runtime_error("sql: " + error);
    }
}

void makeCatalogue(const std::string& path, const std::vector<cRow>& rows, bool indexes)
{
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    check(sqlite3_open(path.c_str(), &db), db, "open");
    check(sqlite3_exec(db,
                       "create table channels (country text, type text, name text, description text, url text);"
                       "begin;",
                       nullptr, nullptr, nullptr),
          db, "create");
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db, "insert into channels values (?, ?, ?, ?, ?);", -1, &insert, nullptr), db,
          "prepare");
    for (const cRow& row : rows) {
        const std::string* values[] = {&row.country, &row.type, &row.name, &row.description, &row.url};
        for (int i = 0; i < 5; ++i) {
            sqlite3_bind_text(insert, i + 1, values[i]->c_str(), -1, SQLITE_TRANSIENT);
        }
        check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr), db, "commit");
    if (indexes) {
        check(sqlite3_exec(db,
                           "create index i1 on channels (country, type, name);"
                           "create index i2 on channels (type, name);"
                           "create index i3 on channels (country, name);"
                           "create index i4 on channels (name);",
                           nullptr, nullptr, nullptr),
              db, "index");
    }
    sqlite3_close(db);
}

std::string plainEncoded(const std::string& address)
{
    std::string encoded;
    char group[8];
    for (unsigned char c : address) {
        std::snprintf(group, sizeof(group), "%04x", c);
        encoded += group;
    }
    return encoded;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

std::string gzip(const std::string& text)
{
    std::ostringstream out;
    {
        Poco::DeflatingOutputStream deflating(out, Poco::DeflatingStreamBuf::STREAM_GZIP);
        deflating << text;
        deflating.close();
    }
    return out.str();
}

std::string utf16le(const std::u16string& text)
{
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

namespace {

class cScriptedHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit cScriptedHandler(cTestServer& server) : mServer(server) {}
    void handleRequest(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) override
    {
        cTestServer::tHandler handler = mServer.handlerFor(request.getURI());
        if (handler) {
            handler(request, response);
        } else {
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_NOT_FOUND);
            response.setContentLength(9);
            response.send() << "not found";
        }
    }

private:
    cTestServer& mServer;
};

class cScriptedFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit cScriptedFactory(cTestServer& server) : mServer(server) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
    {
        return new cScriptedHandler(mServer);
    }

private:
    cTestServer& mServer;
};

} // namespace

cTestServer::cTestServer()
{
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    mPort = socket.address().port();
    auto* params = new Poco::Net::HTTPServerParams();
    params->setMaxThreads(4);
    mServer = std::make_unique<Poco::Net::HTTPServer>(new cScriptedFactory(*this), socket, params);
    mServer->start();
}

cTestServer::~cTestServer() { stop(); }

void cTestServer::on(const std::string& path, tHandler handler)
{
    std::lock_guard<std::mutex> lock(mLock);
    mHandlers[path] = std::move(handler);
}

void cTestServer::serve(const std::string& path, const std::string& body)
{
    on(path, [body](Poco::Net::HTTPServerRequest&, Poco::Net::HTTPServerResponse& response) {
        response.setContentLength64(static_cast<Poco::Int64>(body.size()));
        response.send() << body;
    });
}

cTestServer::tHandler cTestServer::handlerFor(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mLock);
    ++mHits[path];
    auto found = mHandlers.find(path);
    return found == mHandlers.end() ? tHandler() : found->second;
}

int cTestServer::hits(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mLock);
    return mHits[path];
}

void cTestServer::stall()
{
    std::unique_lock<std::mutex> lock(mLock);
    mReleased.wait_for(lock, std::chrono::seconds(60), [this] { return mStopping; });
}

void cTestServer::stop()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mStopping) {
            return;
        }
        mStopping = true;
    }
    mReleased.notify_all();
    mServer->stopAll(true);
    // Handlers run on the default thread pool; wait until none is left.
    for (int i = 0; i < 500 && mServer->currentThreads() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

cSilentListener::cSilentListener() : mSocket(Poco::Net::SocketAddress("127.0.0.1", 0), 16)
{
    mPort = mSocket.address().port();
}

cFullListener::cFullListener() : mSocket(Poco::Net::SocketAddress("127.0.0.1", 0), 1)
{
    mPort = mSocket.address().port();
    for (int i = 0; i < 16; ++i) {
        Poco::Net::StreamSocket waiting;
        try {
            waiting.connect(mSocket.address(), Poco::Timespan(0, 300000));
        } catch (const Poco::Exception&) {
            return; // the queue is full
        }
        mWaiting.push_back(waiting);
    }
    throw std::runtime_error("the listener's queue never filled");
}

uint16_t closedPort()
{
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    const uint16_t port = socket.address().port();
    socket.close();
    return port;
}

cRawServer::cRawServer(tScript script)
    : mScript(std::move(script)), mSocket(Poco::Net::SocketAddress("127.0.0.1", 0))
{
    mPort = mSocket.address().port();
    mThread = std::thread([this] { serve(); });
}

cRawServer::~cRawServer()
{
    mStopping = true;
    // Wake the accept with one connection of our own.
    try {
        Poco::Net::StreamSocket wake(Poco::Net::SocketAddress("127.0.0.1", mPort));
    } catch (...) {
    }
    mThread.join();
}

void cRawServer::serve()
{
    while (!mStopping) {
        Poco::Net::StreamSocket connection = mSocket.acceptConnection();
        if (mStopping) {
            return;
        }
        try {
            connection.setReceiveTimeout(Poco::Timespan(5, 0));
            std::string head;
            char c;
            while (head.find("\r\n\r\n") == std::string::npos && connection.receiveBytes(&c, 1) == 1) {
                head.push_back(c);
            }
            const size_t start = head.find(' ') + 1;
            const std::string path = head.substr(start, head.find(' ', start) - start);
            const std::string answer = mScript(path);
            connection.sendBytes(answer.data(), static_cast<int>(answer.size()));
            connection.shutdownSend();
            connection.close();
        } catch (...) {
            // The client went away; the next connection is served anyway.
        }
    }
}

} // namespace testsupport
