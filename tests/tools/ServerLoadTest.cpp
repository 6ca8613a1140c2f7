// The catalogue server under hostile and heavy load, over real sockets on
// 127.0.0.1: connections that send half a request header and wait, a header
// dripped byte by byte, more waiting connections than the server keeps, an
// oversized header, clients that take the catalogue at a trickle, and a
// hundred players fetching the catalogue at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

#include "ToolsTestSupport.h"
#include "tools/CatalogueServer.h"

using namespace toolstest;
using namespace std::chrono_literals;
using tClock = std::chrono::steady_clock;

namespace {

// What the old server met: the request line and one header, then nothing.
const char HalfHeader[] = "GET /database HTTP/1.1\r\nHost: 127.0.0.1\r\n";

// A raw client socket to the server, closed with the object.
class cRawClient {
public:
    // receiveBuffer > 0 shrinks the socket's receive buffer before
    // connecting, so that the server's writes stall as soon as the client
    // stops reading.
    explicit cRawClient(uint16_t port, int receiveBuffer = 0)
    {
        mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (mFd >= 0 && receiveBuffer > 0) {
            ::setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (mFd >= 0 && ::connect(mFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(mFd);
            mFd = -1;
        }
    }
    ~cRawClient()
    {
        if (mFd >= 0) {
            ::close(mFd);
        }
    }
    cRawClient(const cRawClient&) = delete;
    cRawClient& operator=(const cRawClient&) = delete;

    bool connected() const { return mFd >= 0; }
    bool send(const std::string& bytes)
    {
        return ::send(mFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // True once the server has closed the connection (end of stream or a
    // reset), waiting at most until the deadline.
    bool closedBy(tClock::time_point deadline)
    {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - tClock::now());
            pollfd watch{mFd, POLLIN, 0};
            if (::poll(&watch, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) {
                return false;
            }
            char buffer[4096];
            const ssize_t got = ::recv(mFd, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                return true;
            }
            if (got > 0) {
                mReceived.append(buffer, static_cast<size_t>(got));
            }
        }
    }
    // What the server sent before closing.
    const std::string& received() const { return mReceived; }
    // Reads at most size bytes if any arrive by the deadline. False once
    // the server has closed the connection.
    bool readSome(size_t size, tClock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - tClock::now());
        pollfd watch{mFd, POLLIN, 0};
        if (::poll(&watch, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) {
            return true;
        }
        std::string buffer(size, '\0');
        const ssize_t got = ::recv(mFd, buffer.data(), size, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        if (got > 0) {
            mReceived.append(buffer.data(), static_cast<size_t>(got));
        }
        return true;
    }

private:
    int mFd = -1;
    std::string mReceived;
};

// A player's request: a fresh session, the given time-out for connecting,
// sending and receiving; the status and the body.
std::pair<int, std::string> fetch(uint16_t port, const std::string& path, std::chrono::seconds timeout)
{
    Poco::Net::HTTPClientSession session("127.0.0.1", port);
    session.setTimeout(Poco::Timespan(static_cast<long>(timeout.count()), 0));
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path, Poco::Net::HTTPMessage::HTTP_1_1);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& body = session.receiveResponse(response);
    std::string text;
    Poco::StreamCopier::copyToString(body, text);
    return {response.getStatus(), text};
}

template <typename tCondition> bool waitUntil(tCondition condition, std::chrono::milliseconds limit)
{
    const auto end = tClock::now() + limit;
    while (!condition()) {
        if (tClock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class ServerLoadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { raiseOpenFileLimit(); }

    void SetUp() override
    {
        writeFile(mFolder.file("dbversion"), "7\n");
        // A catalogue of a realistic size, not compressible into one packet.
        std::mt19937 random(17);
        std::string database(1024 * 1024, '\0');
        for (char& c : database) {
            c = static_cast<char>(random());
        }
        writeFile(mFolder.file("database"), database);
        mDatabase = database;
    }

    cTempFolder mFolder;
    std::string mDatabase;
};

} // namespace

TEST_F(ServerLoadTest, HalfOpenConnectionsNeverLockOutANewClient)
{
    cServerLimits limits;
    limits.headerTimeout = 1000ms;
    cCatalogueServer server(mFolder.path(), "127.0.0.1", 0, limits);
    server.start();

    std::vector<std::unique_ptr<cRawClient>> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(std::make_unique<cRawClient>(server.port()));
        ASSERT_TRUE(idle.back()->connected()) << i;
        ASSERT_TRUE(idle.back()->send(HalfHeader)) << i;
    }
    ASSERT_TRUE(waitUntil([&] { return server.counters().accepted >= 200; }, 5s));

    // While all 200 wait, a player is answered (its own time-out: 2 s).
    const auto during = fetch(server.port(), "/dbversion.php", 2s);
    EXPECT_EQ(during.first, 200);
    EXPECT_EQ(during.second, "7\n");

    // Each waiting connection is closed once its header time-out has passed.
    const auto deadline = tClock::now() + limits.headerTimeout + 3s;
    for (size_t i = 0; i < idle.size(); ++i) {
        EXPECT_TRUE(idle[i]->closedBy(deadline)) << "connection " << i << " still open";
        EXPECT_EQ(idle[i]->received(), "") << i; // dropped without an answer
    }
    EXPECT_GE(server.counters().headerTimeouts, 200u);

    // And afterwards the server answers at once, catalogue included.
    const auto after = fetch(server.port(), "/database", 2s);
    EXPECT_EQ(after.first, 200);
    EXPECT_TRUE(after.second == mDatabase);
}

TEST_F(ServerLoadTest, AHeaderDrippedByteByByteIsCutOffAtItsDeadline)
{
    cServerLimits limits;
    limits.headerTimeout = 800ms;
    cCatalogueServer server(mFolder.path(), "127.0.0.1", 0, limits);
    server.start();

    cRawClient client(server.port());
    ASSERT_TRUE(client.connected());
    const std::string header = std::string(HalfHeader) + "X-Padding: " + std::string(200, 'a');
    const auto start = tClock::now();
    bool cut = false;
    // Every byte arrives well inside the i/o time-out; only the deadline of
    // the whole header ends it.
    for (char c : header) {
        if (!client.send(std::string(1, c))) {
            cut = true;
            break;
        }
        if (client.closedBy(tClock::now() + 50ms)) {
            cut = true;
            break;
        }
        ASSERT_LT(tClock::now() - start, 10s) << "never cut off";
    }
    EXPECT_TRUE(cut);
    EXPECT_EQ(server.counters().headerTimeouts, 1u);
    EXPECT_EQ(fetch(server.port(), "/dbversion.php", 2s).first, 200);
}

TEST_F(ServerLoadTest, WhenTheWaitingRoomIsFullTheLongestWaitingIsDropped)
{
    cServerLimits limits;
    limits.headerTimeout = 60s; // only eviction can free a place here
    limits.pendingConnections = 20;
    cCatalogueServer server(mFolder.path(), "127.0.0.1", 0, limits);
    server.start();
    ASSERT_EQ(server.limits().pendingConnections, 20);

    // 25 waiting connections for 20 places: each of the last five pushes
    // out the one that has waited longest.
    std::vector<std::unique_ptr<cRawClient>> idle;
    for (int i = 0; i < 25; ++i) {
        idle.push_back(std::make_unique<cRawClient>(server.port()));
        ASSERT_TRUE(idle.back()->send(HalfHeader));
        // One at a time, so that their order of arrival is known.
        ASSERT_TRUE(waitUntil([&] { return server.counters().accepted >= static_cast<uint64_t>(i + 1); }, 5s));
    }
    EXPECT_EQ(server.counters().evicted, 5u);
    // A player still gets in, and is answered.
    const auto answer = fetch(server.port(), "/dbversion.php", 2s);
    EXPECT_EQ(answer.first, 200);
    EXPECT_EQ(server.counters().evicted, 6u);
    const auto deadline = tClock::now() + 2s;
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_TRUE(idle[i]->closedBy(deadline)) << "the oldest connections go first: " << i;
    }
    for (size_t i = 6; i < idle.size(); ++i) {
        EXPECT_FALSE(idle[i]->closedBy(tClock::now() + 10ms)) << i;
    }
}

TEST_F(ServerLoadTest, OversizedHeaderIsRefusedAndALargeOneServed)
{
    cServerLimits limits;
    limits.maxHeaderBytes = 8 * 1024;
    cCatalogueServer server(mFolder.path(), "127.0.0.1", 0, limits);
    server.start();

    cRawClient large(server.port());
    ASSERT_TRUE(large.send("GET /dbversion.php HTTP/1.1\r\nHost: a\r\nX-Padding: " + std::string(6000, 'a') +
                           "\r\nConnection: close\r\n\r\n"));
    ASSERT_TRUE(large.closedBy(tClock::now() + 5s));
    EXPECT_EQ(large.received().compare(0, 12, "HTTP/1.1 200"), 0) << large.received();
    EXPECT_NE(large.received().find("\r\n\r\n7\n"), std::string::npos);

    cRawClient huge(server.port());
    ASSERT_TRUE(huge.send("GET /dbversion.php HTTP/1.1\r\nHost: a\r\nX-Padding: " + std::string(12000, 'a')));
    ASSERT_TRUE(huge.closedBy(tClock::now() + 5s));
    EXPECT_EQ(huge.received().compare(0, 12, "HTTP/1.1 431"), 0) << huge.received();
    EXPECT_EQ(server.counters().tooLarge, 1u);
}

TEST_F(ServerLoadTest, HundredPlayersFetchTheCatalogueAtOnce)
{
    cCatalogueServer server(mFolder.path()); // the tool's default limits
    server.start();

    constexpr int Players = 100;
    std::mutex lock;
    std::condition_variable go;
    bool started = false;
    std::atomic<int> complete{0};
    std::vector<std::string> failures(Players);
    std::vector<std::thread> players;
    for (int i = 0; i < Players; ++i) {
        players.emplace_back([&, i] {
            {
                std::unique_lock<std::mutex> guard(lock);
                go.wait(guard, [&] { return started; });
            }
            // What a player's start-up update does: the version, then the
            // catalogue.
            try {
                const auto version = fetch(server.port(), "/dbversion.php", 30s);
                const auto database = fetch(server.port(), "/database", 30s);
                if (version.first != 200 || version.second != "7\n") {
                    failures[static_cast<size_t>(i)] = "version: " + std::to_string(version.first);
                } else if (database.first != 200 || database.second != mDatabase) {
                    failures[static_cast<size_t>(i)] = "catalogue: " + std::to_string(database.first) + ", " +
                                                        std::to_string(database.second.size()) + " bytes";
                } else {
                    ++complete;
                }
            } catch (const Poco::Exception& failure) {
                failures[static_cast<size_t>(i)] = failure.displayText();
            }
        });
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        started = true;
    }
    go.notify_all();
    for (std::thread& player : players) {
        player.join();
    }
    EXPECT_EQ(complete, Players);
    for (int i = 0; i < Players; ++i) {
        EXPECT_EQ(failures[static_cast<size_t>(i)], "") << "player " << i;
    }
    EXPECT_EQ(server.counters().busy, 0u);
}

TEST_F(ServerLoadTest, AHeaderInManyPiecesIsReadOnceAndServed)
{
    cServerLimits limits;
    limits.headerTimeout = 5000ms;
    cCatalogueServer server(mFolder.path(), "127.0.0.1", 0, limits);
    server.start();

    // 40 pieces of 100 bytes each, every one arriving on its own: the gate
    // reads each byte once (it used to look at the whole header again on
    // every packet), and the request thread still finds the whole request.
    const std::string request = "GET /dbversion.php HTTP/1.1\r\nHost: a\r\nX-Padding: ";
    const std::string end = "\r\nConnection: close\r\n\r\n";
    const std::string header = request + std::string(4000 - request.size() - end.size(), 'p') + end;
    cRawClient client(server.port());
    for (size_t at = 0; at < header.size(); at += 100) {
        ASSERT_TRUE(client.send(header.substr(at, 100)));
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(client.closedBy(tClock::now() + 5s));
    EXPECT_EQ(client.received().compare(0, 12, "HTTP/1.1 200"), 0) << client.received();
    EXPECT_NE(client.received().find("\r\n\r\n7\n"), std::string::npos) << client.received();
    EXPECT_EQ(server.counters().headerBytes, header.size());
    EXPECT_EQ(server.counters().served, 1u);
}

TEST_F(ServerLoadTest, ClientsReadingAtATrickleAreCutOffAndOthersServed)
{
    // Every thread taken by a client that reads 1 KiB every 100 ms (10 KiB/s)
    // of a catalogue whose rate rule asks 64 KiB in every 400 ms.
    std::mt19937 random(5);
    std::string large(8 * 1024 * 1024, '\0');
    for (char& c : large) {
        c = static_cast<char>(random());
    }
    writeFile(mFolder.file("database"), large);
    cServerLimits limits;
    limits.threads = 4;
    limits.sendWindow = 400ms;
    limits.minSendBytes = 64 * 1024;
    cCatalogueServer server(mFolder.path(), "127.0.0.1", 0, limits);
    server.start();

    const auto start = tClock::now();
    std::vector<std::unique_ptr<cRawClient>> slow;
    for (int i = 0; i < limits.threads; ++i) {
        slow.push_back(std::make_unique<cRawClient>(server.port(), 4096));
        ASSERT_TRUE(slow.back()->send("GET /database HTTP/1.1\r\nHost: a\r\n\r\n"));
    }
    ASSERT_TRUE(waitUntil([&] { return server.counters().served >= 4u; }, 5s))
        << server.counters().accepted << " accepted, " << server.counters().served << " served, "
        << server.counters().busy << " busy";
    // A player arriving while every thread is held waits in the queue and
    // is answered once the slow clients are cut off, not turned away.
    std::pair<int, std::string> player;
    tClock::duration playerTook{};
    std::thread playerThread([&] {
        const auto asked = tClock::now();
        try {
            player = fetch(server.port(), "/database", 10s);
        } catch (const Poco::Exception& failure) {
            player.second = failure.displayText();
        }
        playerTook = tClock::now() - asked;
    });
    std::vector<bool> open(slow.size(), true);
    std::vector<tClock::duration> heldFor(slow.size());
    while (std::find(open.begin(), open.end(), true) != open.end() && tClock::now() - start < 20s) {
        for (size_t i = 0; i < slow.size(); ++i) {
            if (open[i] && !slow[i]->readSome(1024, tClock::now() + 1ms)) {
                open[i] = false;
                heldFor[i] = tClock::now() - start;
            }
        }
        std::this_thread::sleep_for(100ms);
    }
    for (size_t i = 0; i < slow.size(); ++i) {
        EXPECT_FALSE(open[i]) << "slow client " << i << " still holds a thread";
        EXPECT_LT(heldFor[i], 3s) << i;
        EXPECT_LT(slow[i]->received().size(), large.size() / 2) << i;
        std::cout << "    slow client " << i << " cut off after "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(heldFor[i]).count() << " ms, "
                  << slow[i]->received().size() / 1024 << " KiB taken\n";
    }
    playerThread.join();
    EXPECT_EQ(player.first, 200) << player.second;
    EXPECT_TRUE(player.second == large);
    EXPECT_LT(playerTook, 5s);
    std::cout << "    the waiting player had the catalogue after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(playerTook).count() << " ms\n";
    EXPECT_EQ(server.counters().busy, 0u);
    EXPECT_EQ(server.counters().slowReaders, 4u);
}

TEST_F(ServerLoadTest, AClientReadingAboveTheMinimumRateGetsEverything)
{
    cServerLimits limits;
    limits.sendWindow = 400ms;
    limits.minSendBytes = 64 * 1024; // 160 KiB/s
    cCatalogueServer server(mFolder.path(), "127.0.0.1", 0, limits);
    server.start();

    // 32 KiB every 50 ms: about 640 KiB/s, in bursts with pauses.
    cRawClient steady(server.port(), 64 * 1024);
    ASSERT_TRUE(steady.send("GET /database HTTP/1.1\r\nHost: a\r\n\r\n"));
    const auto start = tClock::now();
    while (steady.readSome(32 * 1024, tClock::now() + 1s) && tClock::now() - start < 20s) {
        std::this_thread::sleep_for(50ms);
    }
    const std::string& got = steady.received();
    ASSERT_NE(got.find("\r\n\r\n"), std::string::npos);
    EXPECT_TRUE(got.substr(got.find("\r\n\r\n") + 4) == mDatabase) << got.size();
    EXPECT_EQ(server.counters().slowReaders, 0u);
}
