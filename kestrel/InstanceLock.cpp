#include "kestrel/InstanceLock.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "kestrel/Log.h"

namespace kestrel {

namespace {

sockaddr_un socketAddress(const std::string& folder, socklen_t& length)
{
    const std::string name = cInstanceLock::socketName(folder);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A leading NUL puts the name in the abstract namespace.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

// Waits until the descriptor is ready for the events or the time is up.
bool waitFor(int descriptor, short events, int timeoutMs)
{
    pollfd entry{descriptor, events, 0};
    for (;;) {
        const int ready = poll(&entry, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0;
    }
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t stop = text.find('\0', start);
        if (stop == std::string::npos) {
            stop = text.size();
        }
        lines.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return lines;
}

} // namespace

cInstanceLock::~cInstanceLock()
{
    stopListening();
    for (int descriptor : {mListener, mWake[0], mWake[1], mDescriptor}) {
        if (descriptor >= 0) {
            close(descriptor);
        }
    }
}

bool cInstanceLock::acquire(const std::string& folder)
{
    const std::string path = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + "lumivex.lock";
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        logWarning("app", "cannot make the lock file " + path + ": " + std::strerror(errno) +
                              "; another player on the same folder is not noticed");
        return true;
    }
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(descriptor);
        return false;
    }
    mDescriptor = descriptor;
    socklen_t length = 0;
    const sockaddr_un address = socketAddress(folder, length);
    mListener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (mListener < 0 || bind(mListener, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(mListener, 8) != 0) {
        logWarning("app", std::string("cannot listen for later starts: ") + std::strerror(errno));
        if (mListener >= 0) {
            close(mListener);
        }
        mListener = -1;
    }
    return true;
}

std::string cInstanceLock::socketName(const std::string& folder)
{
    char* real = realpath(folder.c_str(), nullptr);
    const std::string path = real != nullptr ? real : folder;
    std::free(real);
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : path) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[64];
    std::snprintf(name, sizeof(name), "lumivex-%016llx-%u", static_cast<unsigned long long>(hash),
                  static_cast<unsigned>(getuid()));
    return name;
}

void cInstanceLock::stopListening()
{
    if (mThread.joinable()) {
        const char stop = 1;
        (void)!write(mWake[1], &stop, 1);
        mThread.join();
    }
}

void cInstanceLock::listen(tReceiver receiver)
{
    if (mListener < 0 || mThread.joinable() || pipe2(mWake, O_CLOEXEC) != 0) {
        return;
    }
    mReceiver = std::move(receiver);
    mThread = std::thread([this] { serve(); });
}

void cInstanceLock::serve()
{
    for (;;) {
        pollfd entries[2] = {{mListener, POLLIN, 0}, {mWake[0], POLLIN, 0}};
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (entries[1].revents != 0) {
            return;
        }
        const int connection = accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        // Only a process of the same user may talk to us.
        ucred peer{};
        socklen_t peerLength = sizeof(peer);
        if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0 || peer.uid != getuid()) {
            close(connection);
            continue;
        }
        // The message ends when the sender shuts its side; a slow or silent
        // one is dropped after two seconds.
        std::string message;
        bool whole = false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0 || !waitFor(connection, POLLIN, static_cast<int>(left))) {
                break;
            }
            char buffer[4096];
            const ssize_t got = read(connection, buffer, sizeof(buffer));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                whole = got == 0;
                break;
            }
            message.append(buffer, static_cast<size_t>(got));
            if (message.size() > MaxMessageBytes) {
                break;
            }
        }
        if (whole) {
            mReceiver(splitLines(message));
            (void)!write(connection, "ok\n", 3);
        } else {
            logWarning("app", "a later start's message was cut short or too long; it was ignored");
        }
        close(connection);
    }
}

bool cInstanceLock::send(const std::string& folder, const std::vector<std::string>& lines, int timeoutMs)
{
    std::string message;
    for (const std::string& line : lines) {
        message += line;
        message += '\0';
    }
    if (message.size() > MaxMessageBytes) {
        return false;
    }
    socklen_t length = 0;
    const sockaddr_un address = socketAddress(folder, length);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto left = [&end] {
        return static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count()));
    };
    // The first may still be starting: its socket comes right after its
    // lock, so a refused connection is tried again for a while.
    for (;;) {
        const int connection = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connection < 0) {
            return false;
        }
        if (connect(connection, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
            close(connection);
            if (left() == 0) {
                return false;
            }
            usleep(50 * 1000);
            continue;
        }
        // The socket's name can be worked out by anyone on the machine: a
        // message (which may hold a list's address with a password in it)
        // goes only to a listener of our own user.
        ucred listener{};
        socklen_t listenerLength = sizeof(listener);
        if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &listener, &listenerLength) != 0 ||
            listener.uid != getuid()) {
            close(connection);
            logWarning("app", "the socket of the player for " + folder +
                                  " is held by another user; nothing was handed over");
            return false;
        }
        size_t sent = 0;
        while (sent < message.size()) {
            if (!waitFor(connection, POLLOUT, left())) {
                close(connection);
                return false;
            }
            const ssize_t wrote = ::send(connection, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                close(connection);
                return false;
            }
            sent += static_cast<size_t>(wrote);
        }
        shutdown(connection, SHUT_WR);
        char answer[3] = {};
        const bool answered = waitFor(connection, POLLIN, left()) && read(connection, answer, sizeof(answer)) == 3 &&
                              std::memcmp(answer, "ok\n", 3) == 0;
        close(connection);
        return answered;
    }
}

} // namespace kestrel
