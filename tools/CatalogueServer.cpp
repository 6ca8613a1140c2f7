#include "tools/CatalogueServer.h"
#include "tools/ServedFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include <deque>
#include <map>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerConnectionFactory.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StreamSocketImpl.h>
#include <Poco/Net/TCPServerDispatcher.h>
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

// How an answer's body must move, and where slow readers are counted.
struct cSendRules {
    std::chrono::milliseconds window{};    // set at construction
    size_t minBytes = 0;                   // set at construction
    std::chrono::milliseconds ioTimeout{}; // set at construction
    std::atomic<uint64_t>* slowReaders = nullptr; // the server's counter, which outlives the handlers
};

enum class eSent { Whole, Short, Slow, Gone };

// Writes length bytes of the file to the connection without blocking, so
// that the minimum rate is checked however the client reads: each window
// must carry rules.minBytes (or the rest of the body), and no send may wait
// longer than the i/o time-out. Stopping the server shuts the socket down,
// which ends the wait at once.
eSent sendBody(int fd, std::istream& in, uint64_t length, const cSendRules& rules)
{
    using tClock = std::chrono::steady_clock;
    std::vector<char> buffer(CopyBytes);
    size_t have = 0;
    size_t offset = 0;
    tClock::time_point windowStart = tClock::now();
    tClock::time_point lastProgress = windowStart;
    size_t windowBytes = 0;
    while (offset < have || length > 0) {
        if (offset == have) {
            in.read(buffer.data(), static_cast<std::streamsize>(std::min<uint64_t>(length, buffer.size())));
            const std::streamsize got = in.gcount();
            if (got <= 0) {
                return eSent::Short; // the file shrank under us; the client sees a short body
            }
            have = static_cast<size_t>(got);
            offset = 0;
            length -= static_cast<uint64_t>(got);
        }
        const tClock::time_point now = tClock::now();
        const tClock::time_point deadline = std::min(windowStart + rules.window, lastProgress + rules.ioTimeout);
        if (now >= deadline) {
            return eSent::Slow;
        }
        pollfd watch{fd, POLLOUT, 0};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        const int ready = ::poll(&watch, 1, static_cast<int>(wait));
        if (ready < 0 && errno != EINTR) {
            return eSent::Gone;
        }
        if (ready <= 0) {
            continue; // the deadline is looked at again
        }
        if ((watch.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return eSent::Gone;
        }
        const ssize_t sent = ::send(fd, buffer.data() + offset, have - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                continue;
            }
            return eSent::Gone;
        }
        offset += static_cast<size_t>(sent);
        windowBytes += static_cast<size_t>(sent);
        lastProgress = tClock::now();
        if (windowBytes >= rules.minBytes) {
            windowStart = lastProgress;
            windowBytes = 0;
        }
    }
    return eSent::Whole;
}

// True when a segment of the path (between slashes) starts with '.'.
bool hasDotSegment(const std::string& path)
{
    for (size_t start = 0; start <= path.size();) {
        const size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start && path[start] == '.') {
            return true;
        }
        start = slash + 1;
    }
    return false;
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
    cFolderHandler(const std::string& root, const cSendRules& rules) : mRoot(root), mRules(rules) {}

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
        // Dotfiles (.git, .htpasswd, an editor's .swp) are not served.
        if (hasDotSegment(path)) {
            sendStatus(response, HTTPResponse::HTTP_NOT_FOUND);
            return;
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
        // Or at a dotfile inside it.
        if (hasDotSegment(file->substr(mRoot.size()))) {
            sendStatus(response, HTTPResponse::HTTP_NOT_FOUND);
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
        // The head goes out through the response stream; the body is
        // written to the connection directly, under the send rules.
        out.flush();
        auto* served = dynamic_cast<Poco::Net::HTTPServerRequestImpl*>(&request);
        if (!out || !served) {
            return;
        }
        const int fd = served->socket().impl()->sockfd();
        if (sendBody(fd, in, length, mRules) == eSent::Slow) {
            // Closed with a reset: what still waits in the kernel's buffers
            // is dropped instead of trickling out to the slow client.
            const linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
            ++*mRules.slowReaders;
        }
    }

    const std::string& mRoot; // the server's, which outlives its handlers
    const cSendRules& mRules; // the factory's, which outlives its handlers
};

class cFolderHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    cFolderHandlerFactory(const std::string& root, const cSendRules& rules) : mRoot(root), mRules(rules) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const HTTPServerRequest&) override
    {
        return new cFolderHandler(mRoot, mRules);
    }
    // Breaks off every request in progress (their sockets are shut down).
    void abortRequests() { serverStopped(this, true); }

private:
    const std::string& mRoot;
    const cSendRules mRules;
};

} // namespace

long raiseOpenFileLimit()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        struct rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : static_cast<long>(limit.rlim_cur);
}

namespace {

// A connection whose request header the gate has already read from the
// kernel. Its reads give those bytes first, then read the socket, so the
// request thread's HTTP session finds the whole request as if it had read
// it itself. The gate fills the header while it holds the connection; the
// dispatcher's queue hands it to one request thread, the only user after.
class cGateSocketImpl : public Poco::Net::StreamSocketImpl {
public:
    explicit cGateSocketImpl(poco_socket_t fd) : StreamSocketImpl(fd) {}

    using StreamSocketImpl::receiveBytes;
    int receiveBytes(void* buffer, int length, int flags) override
    {
        const size_t left = mHeader.size() - mTaken;
        if (left == 0 || length <= 0) {
            return StreamSocketImpl::receiveBytes(buffer, length, flags);
        }
        const size_t count = std::min(left, static_cast<size_t>(length));
        std::memcpy(buffer, mHeader.data() + mTaken, count);
        if ((flags & MSG_PEEK) == 0) {
            mTaken += count;
        }
        return static_cast<int>(count);
    }
    int available() override
    {
        return static_cast<int>(mHeader.size() - mTaken) + StreamSocketImpl::available();
    }
    bool poll(const Poco::Timespan& timeout, int mode) override
    {
        if ((mode & Poco::Net::Socket::SELECT_READ) != 0 && mTaken < mHeader.size()) {
            return true;
        }
        return StreamSocketImpl::poll(timeout, mode);
    }

    std::string mHeader; // the bytes the gate read: gate thread, then the request thread
    size_t mTaken = 0;   // how many of them the request thread has read
};

} // namespace

// The parts of a running server. The handler factory and the dispatcher
// (the queue of complete requests and its request threads) are POCO's; the
// gate in front of them is ours: it accepts, and watches every connection
// whose request header has not arrived yet, edge-triggered, so that a
// connection holding half a header wakes it only when more bytes arrive.
struct cCatalogueServer::cParts {
    using tClock = std::chrono::steady_clock;
    struct cWaiting {
        Poco::Net::StreamSocket socket;
        cGateSocketImpl* connection = nullptr; // socket's own implementation
        tClock::time_point accepted;
        uint64_t serial = 0; // tells a reused descriptor from its earlier holder
    };

    Poco::Net::ServerSocket listener;                         // gate thread while running
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers;       // set at construction
    cFolderHandlerFactory* folderHandlers = nullptr;          // the same object
    Poco::Net::HTTPServerParams::Ptr params;                  // set at construction
    std::unique_ptr<Poco::ThreadPool> threads;                // owner's thread only
    Poco::Net::TCPServerDispatcher* dispatcher = nullptr;     // counted reference, ours released by stop()
    int epoll = -1;                                           // set at construction
    int wake = -1;                                            // eventfd; written by stop(), read by the gate
    std::map<int, cWaiting> waiting;                          // gate thread only; by descriptor
    // The waiting connections in order of arrival, which is also the order
    // of their deadlines; entries of connections gone meanwhile are skipped.
    std::deque<std::pair<uint64_t, int>> arrivals;            // gate thread only; serial, descriptor
    uint64_t serials = 0;                                     // gate thread only
    std::vector<char> scratch;                                // gate thread only

    ~cParts()
    {
        if (epoll >= 0) {
            ::close(epoll);
        }
        if (wake >= 0) {
            ::close(wake);
        }
    }
};

namespace {

constexpr int ListenBacklog = 1024;
// Descriptors kept free beyond the waiting connections: the request
// threads' sockets and files, and the process's own.
constexpr long ReservedDescriptors = 64;

// Best effort: a short answer to a connection about to be closed. What the
// client already sent is read first, so that closing does not turn into a
// reset that could swallow the answer.
void answerAndClose(Poco::Net::StreamSocket& socket, const char* statusLine)
{
    const int fd = socket.impl()->sockfd();
    char scratch[4096];
    for (int i = 0; i < 16 && ::recv(fd, scratch, sizeof(scratch), MSG_DONTWAIT) > 0; ++i) {
    }
    const std::string answer = std::string("HTTP/1.1 ") + statusLine +
                               "\r\nContent-Length: 0\r\nConnection: close\r\nRetry-After: 1\r\n\r\n";
    [[maybe_unused]] const ssize_t sent = ::send(fd, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
}

} // namespace

cCatalogueServer::cCatalogueServer(const std::string& root, const std::string& host, uint16_t port,
                                   const cServerLimits& limits)
    : mLimits(limits)
{
    const std::optional<std::string> folder = canonical(root);
    struct stat info;
    if (!folder || ::stat(folder->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        throw Poco::FileNotFoundException("no such folder", root);
    }
    mRoot = *folder == "/" ? "" : *folder;

    mLimits.threads = std::max(1, mLimits.threads);
    mLimits.queue = std::max(1, mLimits.queue);
    mLimits.maxHeaderBytes = std::max<size_t>(1024, mLimits.maxHeaderBytes);
    if (mLimits.headerTimeout.count() <= 0 || mLimits.ioTimeout.count() <= 0 || mLimits.sendWindow.count() <= 0) {
        throw Poco::InvalidArgumentException("time-outs must be positive");
    }
    // Each waiting connection is one descriptor; the rest of the process
    // needs its own.
    long room = 1024;
    struct rlimit files;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        room = static_cast<long>(files.rlim_cur);
    } else {
        room = LONG_MAX;
    }
    room -= ReservedDescriptors + 2L * mLimits.threads;
    mLimits.pendingConnections =
        static_cast<int>(std::max<long>(16, std::min<long>(room, std::max(1, mLimits.pendingConnections))));

    mParts = std::make_unique<cParts>();
    mParts->listener = Poco::Net::ServerSocket(Poco::Net::SocketAddress(host, port), ListenBacklog);
    mPort = mParts->listener.address().port();
    mParts->listener.setBlocking(false);
    mParts->scratch.resize(std::min<size_t>(mLimits.maxHeaderBytes, 16 * 1024));

    mParts->params = new Poco::Net::HTTPServerParams();
    mParts->params->setMaxThreads(mLimits.threads);
    mParts->params->setMaxQueued(mLimits.queue);
    mParts->params->setThreadIdleTime(Poco::Timespan(10, 0));
    // Reads and writes of a request being served: no progress for this long
    // ends the connection. The header has already arrived when a request
    // reaches its thread.
    const auto io = std::chrono::duration_cast<std::chrono::microseconds>(mLimits.ioTimeout).count();
    mParts->params->setTimeout(Poco::Timespan(static_cast<Poco::Timespan::TimeDiff>(io)));
    mParts->params->setKeepAlive(false);
    cSendRules rules;
    rules.window = mLimits.sendWindow;
    rules.minBytes = mLimits.minSendBytes;
    rules.ioTimeout = mLimits.ioTimeout;
    rules.slowReaders = &mSlowReaders;
    mParts->folderHandlers = new cFolderHandlerFactory(mRoot, rules);
    mParts->handlers = mParts->folderHandlers;
    mParts->threads = std::make_unique<Poco::ThreadPool>(std::min(2, mLimits.threads), mLimits.threads);
    mParts->dispatcher = new Poco::Net::TCPServerDispatcher(
        new Poco::Net::HTTPServerConnectionFactory(mParts->params, mParts->handlers), *mParts->threads,
        mParts->params);

    mParts->epoll = ::epoll_create1(EPOLL_CLOEXEC);
    mParts->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (mParts->epoll < 0 || mParts->wake < 0) {
        const int error = errno;
        mParts->dispatcher->release();
        mParts->dispatcher = nullptr;
        throw Poco::SystemException("cannot watch connections", std::strerror(error));
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = mParts->wake;
    ::epoll_ctl(mParts->epoll, EPOLL_CTL_ADD, mParts->wake, &event);
    event.data.fd = mParts->listener.impl()->sockfd();
    ::epoll_ctl(mParts->epoll, EPOLL_CTL_ADD, event.data.fd, &event);
}

cCatalogueServer::~cCatalogueServer() { stop(); }

void cCatalogueServer::start()
{
    if (!mRunning && !mStopped) {
        mGateThread = std::thread([this] { runGate(); });
        mRunning = true;
    }
}

void cCatalogueServer::stop()
{
    if (mStopped) {
        return;
    }
    mStopped = true;
    if (mRunning) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(mParts->wake, &one, sizeof(one));
        mGateThread.join();
        mRunning = false;
    }
    mParts->waiting.clear();
    mParts->listener.close();
    // Requests still queued are dropped; transfers in progress are broken
    // off (their sockets shut down), then the request threads are joined.
    mParts->dispatcher->stop();
    mParts->folderHandlers->abortRequests();
    mParts->threads->joinAll();
    mParts->dispatcher->release();
    mParts->dispatcher = nullptr;
}

cServerCounters cCatalogueServer::counters() const
{
    cServerCounters counters;
    counters.accepted = mAccepted;
    counters.served = mServed;
    counters.headerTimeouts = mHeaderTimeouts;
    counters.evicted = mEvicted;
    counters.hungUp = mHungUp;
    counters.busy = mBusy;
    counters.tooLarge = mTooLarge;
    counters.slowReaders = mSlowReaders;
    counters.headerBytes = mHeaderBytes;
    return counters;
}

void cCatalogueServer::runGate()
{
    using tClock = cParts::tClock;
    cParts& parts = *mParts;
    const int listenFd = parts.listener.impl()->sockfd();
    std::vector<epoll_event> events(256);
    tClock::time_point acceptPausedUntil{};

    const auto forget = [&](int fd) {
        ::epoll_ctl(parts.epoll, EPOLL_CTL_DEL, fd, nullptr);
        parts.waiting.erase(fd); // closes the socket with the last reference
    };
    // The connection that has waited longest, or none.
    const auto oldestWaiting = [&] {
        while (!parts.arrivals.empty()) {
            const auto [serial, fd] = parts.arrivals.front();
            const auto found = parts.waiting.find(fd);
            if (found != parts.waiting.end() && found->second.serial == serial) {
                return found;
            }
            parts.arrivals.pop_front();
        }
        return parts.waiting.end();
    };
    const auto dropOldest = [&] {
        const auto oldest = oldestWaiting();
        if (oldest != parts.waiting.end()) {
            ++mEvicted; // counted first: the closing is what others observe
            forget(oldest->first);
        }
    };
    // Reads what the connection has sent since the gate last looked and
    // keeps it; only the new bytes (and the three before them) are searched
    // for the end of the header. Edge-triggered: reads until the kernel has
    // nothing more.
    const auto examine = [&](int fd, uint32_t events) {
        auto found = parts.waiting.find(fd);
        if (found == parts.waiting.end()) {
            return;
        }
        std::string& header = found->second.connection->mHeader;
        bool whole = false;
        for (;;) {
            if (header.size() >= mLimits.maxHeaderBytes) {
                ++mTooLarge;
                answerAndClose(found->second.socket, "431 Request Header Fields Too Large");
                forget(fd);
                return;
            }
            const size_t room = std::min(parts.scratch.size(), mLimits.maxHeaderBytes - header.size());
            const ssize_t got = ::recv(fd, parts.scratch.data(), room, MSG_DONTWAIT);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                // The client stopped sending before its header was whole.
                ++mHungUp;
                forget(fd);
                return;
            }
            if (got < 0) {
                break; // nothing more for now
            }
            mHeaderBytes += static_cast<uint64_t>(got);
            const size_t from = header.size() >= 3 ? header.size() - 3 : 0;
            header.append(parts.scratch.data(), static_cast<size_t>(got));
            const std::string_view fresh(header.data() + from, header.size() - from);
            if (fresh.find("\r\n\r\n") != std::string_view::npos || fresh.find("\n\n") != std::string_view::npos) {
                whole = true;
                break;
            }
        }
        if (!whole) {
            if ((events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) {
                ++mHungUp;
                forget(fd);
            }
            return;
        }
        Poco::Net::StreamSocket socket = found->second.socket;
        forget(fd);
        if (parts.dispatcher->queuedConnections() >= mLimits.queue) {
            ++mBusy;
            answerAndClose(socket, "503 Service Unavailable");
            return;
        }
        try {
            socket.setBlocking(true);
            socket.setNoDelay(true);
            parts.dispatcher->enqueue(socket);
            ++mServed;
        } catch (const Poco::Exception&) {
            // The client went away meanwhile.
            ++mHungUp;
        }
    };
    // While accepting is paused the listener is not watched: it would wake
    // the gate at once, again and again.
    const auto watchListener = [&](bool watch) {
        epoll_event event{};
        event.events = watch ? uint32_t(EPOLLIN) : 0u;
        event.data.fd = listenFd;
        ::epoll_ctl(parts.epoll, EPOLL_CTL_MOD, listenFd, &event);
    };
    const auto acceptAll = [&] {
        for (;;) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    // Out of descriptors: make room, or wait a moment when
                    // none of ours can go.
                    if (parts.waiting.empty()) {
                        acceptPausedUntil = tClock::now() + std::chrono::milliseconds(50);
                        watchListener(false);
                        return;
                    }
                    dropOldest();
                    continue;
                }
                return; // EAGAIN: all taken; ECONNABORTED and the like: nothing to do
            }
            ++mAccepted;
            if (static_cast<int>(parts.waiting.size()) >= mLimits.pendingConnections) {
                dropOldest();
            }
            const uint64_t serial = ++parts.serials;
            auto* connection = new cGateSocketImpl(fd);
            cParts::cWaiting waiting{Poco::Net::StreamSocket(connection), connection, tClock::now(), serial};
            parts.waiting.emplace(fd, std::move(waiting));
            parts.arrivals.emplace_back(serial, fd);
            epoll_event event{};
            event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
            event.data.fd = fd;
            ::epoll_ctl(parts.epoll, EPOLL_CTL_ADD, fd, &event);
            examine(fd, 0);
        }
    };

    for (;;) {
        // Wake for the next header deadline at the latest.
        const tClock::time_point now = tClock::now();
        tClock::time_point next = now + std::chrono::seconds(1);
        const auto oldest = oldestWaiting();
        if (oldest != parts.waiting.end()) {
            next = std::min(next, oldest->second.accepted + mLimits.headerTimeout);
        }
        if (acceptPausedUntil > now) {
            next = std::min(next, acceptPausedUntil);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
        const int ready = ::epoll_wait(parts.epoll, events.data(), static_cast<int>(events.size()),
                                       static_cast<int>(std::max<long long>(0, wait)));
        for (int i = 0; i < ready; ++i) {
            const int fd = events[static_cast<size_t>(i)].data.fd;
            if (fd == parts.wake) {
                return;
            }
            if (fd == listenFd) {
                acceptAll();
                continue;
            }
            examine(fd, events[static_cast<size_t>(i)].events);
        }
        const tClock::time_point after = tClock::now();
        if (acceptPausedUntil != tClock::time_point{} && after >= acceptPausedUntil) {
            acceptPausedUntil = {};
            watchListener(true);
        }
        for (auto oldest = oldestWaiting();
             oldest != parts.waiting.end() && after - oldest->second.accepted >= mLimits.headerTimeout;
             oldest = oldestWaiting()) {
            ++mHeaderTimeouts;
            forget(oldest->first);
        }
    }
}
