// The bounded fetch against servers that keep it waiting one byte at a
// time, in the parts of an exchange that the library reads with blocking
// calls (the secure handshake, the answer's head): the fetch ends at its
// deadline, or within half a second of a stop, whatever the server does.

#include "fetch/Fetch.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using tClock = std::chrono::steady_clock;

// A server on 127.0.0.1 that accepts connections and sends the given bytes
// one every half second, after reading what the client sent first when
// asked to; it never closes first.
class cTrickleServer {
public:
    cTrickleServer(std::string bytes, bool readFirst) : mBytes(std::move(bytes)), mReadFirst(readFirst)
    {
        mListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        socklen_t length = sizeof(address);
        getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
        listen(mListener, 8);
        mThread = std::thread([this] { serve(); });
    }
    ~cTrickleServer()
    {
        mEnding = true;
        mThread.join();
        close(mListener);
    }
    int port() const { return mPort; }

private:
    void serve()
    {
        std::vector<int> clients;
        std::vector<std::thread> tricklers;
        while (!mEnding) {
            pollfd waiting{mListener, POLLIN, 0};
            if (poll(&waiting, 1, 50) == 1) {
                const int client = accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) {
                    clients.push_back(client);
                    tricklers.emplace_back([this, client] { trickle(client); });
                }
            }
        }
        for (int client : clients) {
            shutdown(client, SHUT_RDWR);
        }
        // The tricklers end at their next write once the sockets are down.
        for (std::thread& trickler : tricklers) {
            trickler.join();
        }
        for (int client : clients) {
            close(client);
        }
    }
    void trickle(int client)
    {
        if (mReadFirst) {
            char request[4096];
            pollfd readable{client, POLLIN, 0};
            if (poll(&readable, 1, 2000) == 1) {
                (void)!recv(client, request, sizeof(request), 0);
            }
        }
        for (size_t i = 0; !mEnding; i = (i + 1) % mBytes.size()) {
            if (send(client, &mBytes[i], 1, MSG_NOSIGNAL) != 1) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }

    std::string mBytes;
    bool mReadFirst;
    int mListener = -1;
    int mPort = 0;
    std::atomic<bool> mEnding{false};
    std::thread mThread;
};

struct cOutcome {
    enum { Done, Failed, Stopped } kind = Done;
    std::string reason;
    double seconds = 0;
};

cOutcome fetch(const std::string& address, unsigned deadlineMs, int stopAfterMs)
{
    cFetchLimits limits;
    limits.networkTimeoutMs = 10000;
    limits.deadlineMs = deadlineMs;
    const tClock::time_point start = tClock::now();
    const auto stop = [&] {
        return stopAfterMs >= 0 && tClock::now() - start >= std::chrono::milliseconds(stopAfterMs);
    };
    cOutcome outcome;
    try {
        fetchAddress(address, limits, [](const char*, size_t) {}, stop);
    } catch (const cFetchFailure& failure) {
        outcome.kind = cOutcome::Failed;
        outcome.reason = failure.what();
    } catch (const cFetchStopped&) {
        outcome.kind = cOutcome::Stopped;
    }
    outcome.seconds = std::chrono::duration<double>(tClock::now() - start).count();
    return outcome;
}

} // namespace

TEST(Fetch, ATrickledHeadOrHandshakeEndsAtTheDeadlineOrSoonAfterAStop)
{
    // A head that never ends ("X-Pad: aaaa..." forever), and the start of a
    // TLS record whose rest never comes.
    cTrickleServer head("HTTP/1.1 200 OK\r\nX-Pad: " + std::string(200, 'a'), true);
    cTrickleServer handshake(std::string("\x16\x03\x03\x40\x00", 5) + std::string(200, '\x01'), true);
    const std::string plain = "http://127.0.0.1:" + std::to_string(head.port()) + "/list.m3u";
    const std::string secure = "https://127.0.0.1:" + std::to_string(handshake.port()) + "/list.m3u";
    const struct {
        std::string address;
        unsigned deadlineMs;
        int stopAfterMs;
        int kind;
        double endsBefore; // seconds
    } cases[] = {
        {plain, 3000, -1, cOutcome::Failed, 3.5},
        {plain, 8000, 1000, cOutcome::Stopped, 1.5},
        {plain, 0, 1500, cOutcome::Stopped, 2.0},
        {secure, 3000, -1, cOutcome::Failed, 3.5},
        {secure, 8000, 1000, cOutcome::Stopped, 1.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address + " deadline " + std::to_string(c.deadlineMs) + " ms, stop at " +
                     std::to_string(c.stopAfterMs) + " ms");
        const cOutcome outcome = fetch(c.address, c.deadlineMs, c.stopAfterMs);
        std::printf("[ bound    ] %s, deadline %u ms, stop at %d ms: ended after %.2f s\n", c.address.c_str(),
                    c.deadlineMs, c.stopAfterMs, outcome.seconds);
        EXPECT_EQ(outcome.kind, c.kind) << outcome.reason;
        EXPECT_LT(outcome.seconds, c.endsBefore);
        if (c.kind == cOutcome::Failed) {
            EXPECT_NE(outcome.reason.find("took longer than 3 s"), std::string::npos) << outcome.reason;
        }
    }
}

TEST(Fetch, AnAddressWithALineBreakNeverReachesTheRequestLine)
{
    cTrickleServer server("x", true);
    for (const std::string& address : {"http://127.0.0.1:" + std::to_string(server.port()) + "/a\r\nX-Injected: 1",
                                       "http://127.0.0.1:" + std::to_string(server.port()) + "/a\rb"}) {
        const cOutcome outcome = fetch(address, 3000, -1);
        EXPECT_EQ(outcome.kind, cOutcome::Failed);
        EXPECT_NE(outcome.reason.find("control characters"), std::string::npos) << outcome.reason;
        EXPECT_LT(outcome.seconds, 0.5);
        EXPECT_FALSE(isWebAddress(address));
    }
}
