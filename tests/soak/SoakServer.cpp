#include "SoakServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace {

std::string readWhole(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool sendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool sendAll(int fd, const std::string& text) { return sendAll(fd, text.data(), text.size()); }

std::string header(const char* status, const char* type, size_t length)
{
    return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
}

// The request target of the first line, or empty when no whole header came
// within 10 s.
std::string readTarget(int fd)
{
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        pollfd watch{fd, POLLIN, 0};
        if (::poll(&watch, 1, 10000) <= 0) {
            return {};
        }
        const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            return {};
        }
        request.append(buffer, static_cast<size_t>(got));
    }
    const size_t space = request.find(' ');
    const size_t end = request.find(' ', space + 1);
    if (space == std::string::npos || end == std::string::npos) {
        return {};
    }
    return request.substr(space + 1, end - space - 1);
}

// Waits until the player closes the connection.
void waitForHangUp(int fd)
{
    char buffer[2048];
    for (;;) {
        pollfd watch{fd, POLLIN | POLLRDHUP, 0};
        if (::poll(&watch, 1, 1000) < 0) {
            return;
        }
        if (watch.revents != 0 && ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT) <= 0) {
            return;
        }
    }
}

std::string randomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

void serve(int fd, const std::string& folder, int port, unsigned seed)
{
    const std::string target = readTarget(fd);
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    if (target == "/list.asx") {
        const std::string body = "<asx version=\"3.0\"><entry><ref href=\"" + base + "short.mkv\"/></entry>"
                                 "<entry><ref href=\"" + base + "clip.ts\"/></entry></asx>\n";
        sendAll(fd, header("200 OK", "video/x-ms-asf", body.size()) + body);
    } else if (target == "/junk.mkv") {
        const std::string body = randomBytes(256 * 1024, seed);
        sendAll(fd, header("200 OK", "video/x-matroska", body.size()));
        sendAll(fd, body);
    } else if (target == "/garbage") {
        sendAll(fd, randomBytes(64 * 1024, seed));
    } else if (target.compare(0, 7, "/stall/") == 0 && target.find("..") == std::string::npos) {
        const std::string body = readWhole(folder + target.substr(7));
        if (sendAll(fd, header("200 OK", "video/x-matroska", body.size())) &&
            sendAll(fd, body.data(), body.size() / 2)) {
            waitForHangUp(fd);
        }
    } else if (target.size() > 1 && target.find("..") == std::string::npos && target.find('/', 1) == std::string::npos) {
        const std::string body = readWhole(folder + target.substr(1));
        const char* type = target.find(".ts") != std::string::npos ? "video/mp2t" : "video/x-matroska";
        if (body.empty()) {
            sendAll(fd, header("404 Not Found", "text/plain", 0));
        } else if (sendAll(fd, header("200 OK", type, body.size()))) {
            sendAll(fd, body);
        }
    } else {
        sendAll(fd, header("404 Not Found", "text/plain", 0));
    }
    ::close(fd);
}

[[noreturn]] void runChild(int listener, const std::string& folder, int port)
{
    unsigned seed = 1;
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        std::thread(serve, fd, folder, port, seed++).detach();
    }
}

} // namespace

cSoakServer::cSoakServer(const std::string& clipFolder)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 128) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("soak server");
        if (listener >= 0) {
            ::close(listener);
        }
        return;
    }
    const int port = ntohs(address.sin_port);
    const pid_t parent = ::getpid();
    mChild = ::fork();
    if (mChild == 0) {
        // The server never outlives the soak, whatever ends it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(1);
        }
        ::signal(SIGPIPE, SIG_IGN);
        runChild(listener, clipFolder, port);
    }
    ::close(listener);
    if (mChild > 0) {
        mPort = port;
    } else {
        std::perror("soak server: fork");
    }
}

cSoakServer::~cSoakServer()
{
    if (mChild > 0) {
        ::kill(mChild, SIGKILL);
        int status = 0;
        ::waitpid(mChild, &status, 0);
    }
}

std::string cSoakServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(mPort) + path;
}
