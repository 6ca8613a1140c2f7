#include "fetch/Fetch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <istream>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <zlib.h>

#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SSLManager.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>

namespace {

using tClock = std::chrono::steady_clock;

bool isRedirection(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// A client context for one https host: peers are checked against the
// system's certificate store, and the certificate must name the host (or
// its address) that was asked for; OpenSSL checks both during the
// handshake, before anything is sent.
Poco::Net::Context::Ptr clientContext(const std::string& host)
{
    static std::once_flag once;
    std::call_once(once, [] { Poco::Net::initializeSSL(); });
    Poco::Net::Context::Ptr context =
        new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, "", "", "", Poco::Net::Context::VERIFY_RELAXED, 9,
                               true, "ALL:!ADH:!aNULL:!LOW:!EXP:!MD5:@STRENGTH");
    X509_VERIFY_PARAM* parameters = SSL_CTX_get0_param(context->sslContext());
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // An address literal is matched as an address, a name as a name.
    if (X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str()) != 1 &&
        X509_VERIFY_PARAM_set1_host(parameters, host.c_str(), host.size()) != 1) {
        throw cFetchFailure("cannot check certificates for the host " + host);
    }
    return context;
}

// Ends a blocking call from the outside. A TLS handshake and the answer's
// head are read by the library in blocking calls whose time-out counts
// from each byte, so a server that trickles them could outlast any
// deadline and any stop; while armed, this shuts the connection's socket
// down once the stop turns true or the time passes, which wakes whatever
// waits on it. The exchange then sees why in fired().
class cWatchdog {
public:
    enum eFired { NotFired, Stopped, TimedOut };

    explicit cWatchdog(const std::function<bool()>& stop) : mStop(stop)
    {
        try {
            mThread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread: the per-byte time-outs still bound every wait.
        }
    }
    ~cWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mLock);
            mEnding = true;
        }
        mWake.notify_all();
        if (mThread.joinable()) {
            mThread.join();
        }
    }
    cWatchdog(const cWatchdog&) = delete;
    cWatchdog& operator=(const cWatchdog&) = delete;

    // Watches the socket until disarm(); it is shut down at once when the
    // watch has already fired.
    void arm(int descriptor, tClock::time_point until)
    {
        std::lock_guard<std::mutex> lock(mLock);
        mDescriptor = descriptor;
        mUntil = until;
        if (mFired != NotFired) {
            ::shutdown(mDescriptor, SHUT_RDWR);
        }
    }
    // Called before the socket closes, so that a descriptor number used
    // again elsewhere is never shut down.
    void disarm()
    {
        std::lock_guard<std::mutex> lock(mLock);
        mDescriptor = -1;
    }
    eFired fired()
    {
        std::lock_guard<std::mutex> lock(mLock);
        return mFired;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mLock);
        while (!mEnding) {
            mWake.wait_for(lock, std::chrono::milliseconds(100));
            if (mEnding || mDescriptor < 0 || mFired != NotFired) {
                continue;
            }
            if (mStop && mStop()) {
                mFired = Stopped;
            } else if (tClock::now() >= mUntil) {
                mFired = TimedOut;
            } else {
                continue;
            }
            ::shutdown(mDescriptor, SHUT_RDWR);
        }
    }

    const std::function<bool()>& mStop;       // called on the watchdog's thread
    std::mutex mLock;
    std::condition_variable mWake;
    int mDescriptor = -1;                     // guarded by mLock
    tClock::time_point mUntil;                // guarded by mLock
    eFired mFired = NotFired;                 // guarded by mLock
    bool mEnding = false;                     // guarded by mLock
    std::thread mThread;
};

// Disarms the watchdog when the socket it watches goes out of scope.
struct cArmed {
    cWatchdog& watchdog;
    ~cArmed() { watchdog.disarm(); }
};

// The addresses of the host, IPv4 first, looked up on a thread of its own
// so that a slow name server cannot hold a stop or the deadline: the wait
// for it is sliced like every other. Throws Poco::TimeoutException when
// `until` passes, cFetchStopped on a stop, cFetchFailure when the name is
// unknown.
std::vector<Poco::Net::SocketAddress> resolveHost(const std::string& host, uint16_t port,
                                                  const std::function<bool()>& stop, tClock::time_point until)
{
    struct cLookup {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;                         // guarded by lock
        std::vector<Poco::Net::SocketAddress> found;   // guarded by lock
        std::string error;                             // guarded by lock
    };
    const auto lookup = std::make_shared<cLookup>();
    const auto work = [lookup, host, port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        addrinfo* list = nullptr;
        const int result = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
        std::vector<Poco::Net::SocketAddress> v4;
        std::vector<Poco::Net::SocketAddress> v6;
        for (addrinfo* item = list; result == 0 && item != nullptr; item = item->ai_next) {
            if (item->ai_family == AF_INET) {
                v4.emplace_back(item->ai_addr, static_cast<poco_socklen_t>(item->ai_addrlen));
            } else if (item->ai_family == AF_INET6) {
                v6.emplace_back(item->ai_addr, static_cast<poco_socklen_t>(item->ai_addrlen));
            }
        }
        if (list != nullptr) {
            freeaddrinfo(list);
        }
        std::lock_guard<std::mutex> lock(lookup->lock);
        lookup->found = std::move(v4);
        lookup->found.insert(lookup->found.end(), v6.begin(), v6.end());
        if (lookup->found.empty()) {
            lookup->error = result == 0 ? "no address" : gai_strerror(result);
        }
        lookup->finished = true;
        lookup->done.notify_all();
    };
    try {
        // Detached: a lookup that outlives its wait finishes on its own and
        // frees what it shares with us.
        std::thread(work).detach();
    } catch (const std::system_error&) {
        work();
    }
    std::unique_lock<std::mutex> lock(lookup->lock);
    while (!lookup->done.wait_for(lock, std::chrono::milliseconds(100), [&] { return lookup->finished; })) {
        if (stop && stop()) {
            throw cFetchStopped();
        }
        if (tClock::now() >= until) {
            throw Poco::TimeoutException("looking up " + host);
        }
    }
    if (lookup->found.empty()) {
        throw cFetchFailure("cannot find the host " + host + ": " + lookup->error, cFetchFailure::ReasonHostUnknown);
    }
    return lookup->found;
}

// Connects to the first of the host's addresses that answers, waiting in
// slices so that a stop or the deadline is seen at once. Throws as
// resolveHost does, or Poco's exception for a refused connection.
Poco::Net::StreamSocket connectTo(const Poco::URI& uri, const std::function<bool()>& stop, tClock::time_point until)
{
    const std::vector<Poco::Net::SocketAddress> addresses = resolveHost(uri.getHost(), uri.getPort(), stop, until);
    std::string refused;
    for (const Poco::Net::SocketAddress& address : addresses) {
        Poco::Net::StreamSocket socket(address.family());
        try {
            socket.connectNB(address);
        } catch (const Poco::Net::NetException& failure) {
            refused = failure.displayText();
            continue;
        }
        while (!socket.poll(Poco::Timespan(100 * 1000),
                            Poco::Net::Socket::SELECT_WRITE | Poco::Net::Socket::SELECT_ERROR)) {
            if (stop && stop()) {
                throw cFetchStopped();
            }
            if (tClock::now() >= until) {
                throw Poco::TimeoutException("connecting to " + address.toString());
            }
        }
        const int error = socket.impl()->socketError();
        if (error != 0) {
            refused = std::system_category().message(error);
            continue;
        }
        socket.setBlocking(true);
        return socket;
    }
    const bool plainRefusal = refused.empty() || refused.find("refused") != std::string::npos;
    throw Poco::Net::ConnectionRefusedException(uri.getHost() + ":" + std::to_string(uri.getPort()) +
                                                (plainRefusal ? "" : " (" + refused + ")"));
}

// How many bytes the session has read from its socket and not yet handed
// on (HTTPSession keeps the count to itself).
struct cSessionPeek : Poco::Net::HTTPClientSession {
    static int pending(Poco::Net::HTTPClientSession& session)
    {
        return (session.*(&cSessionPeek::buffered))();
    }
};

// A line break or another control character would end the request line
// early and start a header of the address's own making. (A space is sent
// encoded.)
bool hasControlCharacters(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// The text with every control character as a question mark, for a message.
std::string printable(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }, '?');
    return text;
}

std::string describe(const Poco::Exception& failure)
{
    std::string text = failure.displayText();
    return text.empty() ? failure.className() : text;
}

} // namespace

cFetchLimits webSourceLimits(unsigned networkTimeoutMs, unsigned deadlineMs, uint64_t maxBytes, int maxRedirects)
{
    cFetchLimits limits;
    limits.networkTimeoutMs = networkTimeoutMs;
    limits.deadlineMs = deadlineMs;
    limits.maxBytes = maxBytes;
    limits.maxRedirects = maxRedirects;
    limits.acceptGzip = true;
    return limits;
}

bool isWebAddress(const std::string& address)
{
    if (hasControlCharacters(address)) {
        return false;
    }
    try {
        const Poco::URI uri(address);
        const std::string scheme = lower(uri.getScheme());
        return (scheme == "http" || scheme == "https") && !uri.getHost().empty();
    } catch (const Poco::Exception&) {
        return false;
    }
}

void fetchAddress(const std::string& address, const cFetchLimits& limits, const tFetchSink& sink,
                  const std::function<bool()>& stop)
{
    std::string finalAddress;
    fetchAddress(address, limits, sink, stop, finalAddress);
}

void fetchAddress(const std::string& address, const cFetchLimits& limits, const tFetchSink& sink,
                  const std::function<bool()>& stop, std::string& finalAddress)
{
    const tClock::time_point start = tClock::now();
    const auto remainingMs = [&]() -> long long {
        if (limits.deadlineMs == 0) {
            return limits.networkTimeoutMs;
        }
        const long long spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(tClock::now() - start).count();
        return static_cast<long long>(limits.deadlineMs) - spent;
    };
    const auto overDeadline = [&](const std::string& where) {
        return cFetchFailure(where + " took longer than " + std::to_string(limits.deadlineMs / 1000) + " s",
                            cFetchFailure::ReasonNoAnswer);
    };
    // A wait is the shorter of the network time-out and what is left of the
    // deadline.
    const auto waitFor = [&](const std::string& where) {
        const long long left = remainingMs();
        if (left <= 0) {
            throw overDeadline(where);
        }
        const long long ms = std::min<long long>(left, limits.networkTimeoutMs);
        return Poco::Timespan(static_cast<Poco::Timespan::TimeDiff>(ms) * 1000);
    };

    if (hasControlCharacters(address)) {
        throw cFetchFailure("the address holds control characters: " + printable(address));
    }
    Poco::URI uri;
    try {
        uri = Poco::URI(address);
    } catch (const Poco::Exception& failure) {
        throw cFetchFailure("not an address: " + address + " (" + describe(failure) + ")");
    }
    const std::string firstHost = lower(uri.getHost());
    // Waits until the session's socket has something to read, in slices of
    // a tenth of a second so that a stop or the deadline is seen at once;
    // after a network time-out of silence, silent() throws what that means
    // at this point of the exchange.
    const auto waitReadable = [&](Poco::Net::HTTPClientSession& session, const std::function<void()>& silent) {
        const tClock::time_point end = tClock::now() + std::chrono::milliseconds(limits.networkTimeoutMs);
        while (!session.socket().poll(Poco::Timespan(100 * 1000),
                                      Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR)) {
            if (stop && stop()) {
                throw cFetchStopped();
            }
            if (remainingMs() <= 0) {
                throw overDeadline(uri.toString());
            }
            if (tClock::now() >= end) {
                silent();
            }
        }
    };
    // Declared before any socket, so that it outlives every one.
    cWatchdog watchdog(stop);
    // A blocking call that the watchdog ended fails in whatever way the
    // library sees a closed connection; this says what really happened.
    const auto throwIfFired = [&] {
        switch (watchdog.fired()) {
        case cWatchdog::Stopped:
            throw cFetchStopped();
        case cWatchdog::TimedOut:
            if (remainingMs() <= 0) {
                throw overDeadline(uri.toString());
            }
            throw cFetchFailure(uri.toString() + " did not answer within " +
                                    std::to_string(limits.networkTimeoutMs / 1000) + " s",
                                cFetchFailure::ReasonNoAnswer);
        case cWatchdog::NotFired:
            break;
        }
    };
    try {
        for (int redirects = 0;; ++redirects) {
            const std::string scheme = lower(uri.getScheme());
            if ((scheme != "http" && scheme != "https") || uri.getHost().empty()) {
                throw cFetchFailure("not an http or https address: " + uri.toString());
            }
            if (limits.sameHostOnly && lower(uri.getHost()) != firstHost) {
                throw cFetchFailure("redirection from " + address + " leaves its host: " + uri.toString());
            }
            // Connecting, the secure handshake, the request and the
            // answer's head: each within the network time-out and what is
            // left of the deadline, as a whole.
            const Poco::Timespan first = waitFor(uri.toString());
            const tClock::time_point headUntil = tClock::now() + std::chrono::microseconds(first.totalMicroseconds());
            Poco::Net::StreamSocket plain = connectTo(uri, stop, headUntil);
            plain.setReceiveTimeout(first);
            plain.setSendTimeout(first);
            // The session closes the socket as it goes: the watchdog lets
            // go of it before that.
            std::unique_ptr<Poco::Net::HTTPClientSession> session;
            watchdog.arm(plain.impl()->sockfd(), headUntil);
            const cArmed armed{watchdog};
            // An https session reads through the secure socket's own
            // implementation; the handshake (with the checks of the
            // certificate) happens here, under the watchdog.
            session = std::make_unique<Poco::Net::HTTPClientSession>(
                scheme == "https" ? Poco::Net::SecureStreamSocket::attach(plain, uri.getHost(),
                                                                          clientContext(uri.getHost()))
                                  : plain);
            session->setTimeout(first, first, first);
            std::string path = uri.getPathAndQuery();
            if (path.empty()) {
                path = "/";
            }
            Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path, Poco::Net::HTTPMessage::HTTP_1_1);
            request.setHost(uri.getHost(), uri.getPort());
            request.set("User-Agent", "Lumivex/1");
            if (limits.acceptGzip) {
                request.set("Accept-Encoding", "gzip");
            }
            for (const auto& [name, value] : limits.requestHeaders) {
                request.set(name, value);
            }
            // The request's head goes out with the first flush.
            session->sendRequest(request).flush();
            // The answer's head is waited for in slices too, so that a stop
            // need not wait for a silent server's time-out.
            waitReadable(*session, [] { throw Poco::TimeoutException(); });
            Poco::Net::HTTPResponse response;
            std::istream& body = session->receiveResponse(response);
            throwIfFired();
            // The body is read in slices that see the stop and the deadline
            // themselves; the watchdog stays as the bound of a read that a
            // trickled secure record would hold.
            watchdog.arm(plain.impl()->sockfd(), limits.deadlineMs == 0 ? tClock::time_point::max()
                                                                        : start + std::chrono::milliseconds(
                                                                                      limits.deadlineMs));
            const int status = response.getStatus();
            if (isRedirection(status) && response.has("Location")) {
                if (redirects >= limits.maxRedirects) {
                    throw cFetchFailure("too many redirections from " + address);
                }
                const Poco::URI from = uri;
                const std::string location = response.get("Location");
                if (hasControlCharacters(location)) {
                    throw cFetchFailure("redirection from " + from.toString() +
                                        " to an address with control characters");
                }
                uri.resolve(location);
                // A secure address never hands over to a plain one.
                if (lower(from.getScheme()) == "https" && lower(uri.getScheme()) != "https") {
                    throw cFetchFailure("redirection from " + from.toString() + " leaves https: " + uri.toString());
                }
                continue;
            }
            if (status != Poco::Net::HTTPResponse::HTTP_OK && !limits.acceptAnyStatus) {
                throw cFetchFailure("status " + std::to_string(status) + " for " + uri.toString(), status);
            }

            const bool announced = response.hasContentLength();
            const uint64_t announcedLength = announced ? static_cast<uint64_t>(response.getContentLength64()) : 0;
            if (announced && announcedLength > limits.maxBytes) {
                throw cFetchFailure(uri.toString() + " announces " + std::to_string(announcedLength) +
                                    " bytes, more than " + std::to_string(limits.maxBytes));
            }
            finalAddress = uri.toString();
            std::vector<char> piece(std::max<size_t>(limits.pieceBytes, 1));
            uint64_t received = 0;
            tClock::time_point windowStart = tClock::now();
            uint64_t receivedAtWindowStart = 0;
            for (;;) {
                // Nothing is waiting anywhere on our side: wait for the
                // socket in short slices, so that a stop is seen at once.
                if (body.rdbuf()->in_avail() <= 0 && cSessionPeek::pending(*session) == 0 &&
                    session->socket().available() == 0) {
                    waitReadable(*session, [&] {
                        throw cFetchFailure("transfer of " + uri.toString() + " stalled after " +
                                            std::to_string(received) + " bytes: nothing came for " +
                                            std::to_string(limits.networkTimeoutMs / 1000) + " s");
                    });
                }
                session->socket().setReceiveTimeout(waitFor(uri.toString()));
                // One byte waits for the next arrival; what else has arrived
                // with it comes at once.
                body.read(piece.data(), 1);
                std::streamsize got = body.gcount();
                if (got <= 0) {
                    break;
                }
                if (piece.size() > 1) {
                    got += body.readsome(piece.data() + 1, static_cast<std::streamsize>(piece.size() - 1));
                }
                if (stop && stop()) {
                    throw cFetchStopped();
                }
                received += static_cast<uint64_t>(got);
                if (received > limits.maxBytes) {
                    throw cFetchFailure(uri.toString() + " sends more than " + std::to_string(limits.maxBytes) +
                                        " bytes");
                }
                sink(piece.data(), static_cast<size_t>(got));
                if (remainingMs() <= 0) {
                    throw overDeadline(uri.toString());
                }
                if (limits.minimumRate > 0 &&
                    tClock::now() - windowStart >= std::chrono::milliseconds(limits.rateWindowMs)) {
                    const uint64_t floor = limits.minimumRate * limits.rateWindowMs / 1000;
                    if (received - receivedAtWindowStart < floor) {
                        throw cFetchFailure(uri.toString() + " sends slower than " +
                                            std::to_string(limits.minimumRate / 1024) + " KiB/s");
                    }
                    windowStart = tClock::now();
                    receivedAtWindowStart = received;
                }
            }
            throwIfFired();
            // The stream turns a broken connection or a time-out into badbit.
            if (body.bad()) {
                if (remainingMs() <= 0) {
                    throw overDeadline(uri.toString());
                }
                throw cFetchFailure("transfer of " + uri.toString() + " broke off after " + std::to_string(received) +
                                    " bytes");
            }
            if (announced && received != announcedLength) {
                throw cFetchFailure("transfer of " + uri.toString() + " ended after " + std::to_string(received) +
                                    " of " + std::to_string(announcedLength) + " bytes");
            }
            return;
        }
    } catch (const Poco::Net::SSLException& failure) {
        throwIfFired();
        throw cFetchFailure("secure connection to " + uri.toString() + " failed: " + describe(failure),
                            cFetchFailure::ReasonSecure);
    } catch (const Poco::TimeoutException&) {
        throwIfFired();
        if (remainingMs() <= 0) {
            throw overDeadline(uri.toString());
        }
        throw cFetchFailure(uri.toString() + " did not answer within " +
                                std::to_string(limits.networkTimeoutMs / 1000) + " s",
                            cFetchFailure::ReasonNoAnswer);
    } catch (const Poco::Exception& failure) {
        throwIfFired();
        const bool refused = dynamic_cast<const Poco::Net::ConnectionRefusedException*>(&failure) != nullptr;
        throw cFetchFailure(uri.toString() + ": " + describe(failure),
                            refused ? cFetchFailure::ReasonRefused : cFetchFailure::ReasonOther);
    }
}

bool looksGzipped(const std::string& bytes)
{
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

bool gunzip(const std::string& compressed, uint64_t maxBytes, std::string& out, std::string& error)
{
    out.clear();
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip wrapper, not a bare zlib one.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        error = "cannot start decompression";
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::vector<char> buffer(256 * 1024);
    int result = Z_OK;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            break;
        }
        out.append(buffer.data(), buffer.size() - stream.avail_out);
        if (out.size() > maxBytes) {
            inflateEnd(&stream);
            out.clear();
            error = "decompresses to more than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        if (result == Z_STREAM_END) {
            if (stream.avail_in == 0) {
                break;
            }
            // Another member follows.
            if (inflateReset(&stream) != Z_OK) {
                result = Z_DATA_ERROR;
                break;
            }
        } else if (stream.avail_in == 0 && stream.avail_out != 0) {
            result = Z_BUF_ERROR; // the input ended inside a member
            break;
        }
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) {
        out.clear();
        error = "the compressed data is damaged or cut short";
        return false;
    }
    return true;
}
