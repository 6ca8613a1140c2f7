// lumivex-server: serves a catalogue folder over HTTP until it is
// interrupted. Prints the bound port alone on the first line of standard
// output, so that scripts and tests can start it with --port 0.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <ostream>
#include <string>

#include <Poco/Exception.h>

#include "tools/CatalogueServer.h"

namespace {

void printHelp(std::ostream& out)
{
    const cServerLimits defaults;
    out << "usage: lumivex-server --root DIR [--port N] [--host ADDRESS] [limits]\n"
           "  serves DIR: /dbversion.php answers the text of DIR/dbversion,\n"
           "  /database the file DIR/database, other paths the files below DIR.\n"
           "  --port defaults to 8391 (the player's default server); 0 takes any\n"
           "  free port. --host defaults to 127.0.0.1.\n"
           "  The bound port is printed alone on standard output.\n"
           "\n"
           "limits (a connection waits without a thread until its request header\n"
           "is whole; every connection carries one request):\n"
           "  --header-timeout SECONDS  the request header must arrive within this\n"
           "                            time of connecting (default "
        << defaults.headerTimeout.count() / 1000.0
        << ")\n"
           "  --io-timeout SECONDS      a read or write that makes no progress for\n"
           "                            this long ends the connection (default "
        << defaults.ioTimeout.count() / 1000.0
        << ")\n"
           "  --threads N               requests served at the same time (default "
        << defaults.threads
        << ")\n"
           "  --queue N                 whole requests waiting for a thread; more are\n"
           "                            answered 503 (default "
        << defaults.queue
        << ")\n"
           "  --max-waiting N           connections still sending their header; when\n"
           "                            full, the longest waiting is dropped (default "
        << defaults.pendingConnections
        << ",\n"
           "                            kept below the open-file limit, whose soft\n"
           "                            value is raised to the hard one)\n"
           "\n"
           "The player needs nothing but GET /dbversion.php and GET /database. For\n"
           "public serving at scale, a static web server or a CDN serves those two\n"
           "files just as well (the version as a plain text file at that path).\n";
}

int usage()
{
    printHelp(std::cerr);
    return 2;
}

bool parseCount(const std::string& text, int& value)
{
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < 1 || number > 1000000) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool parseSeconds(const std::string& text, std::chrono::milliseconds& value)
{
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(seconds >= 0.001 && seconds <= 86400)) {
        return false;
    }
    value = std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string root;
    std::string host = "127.0.0.1";
    long port = 8391;
    cServerLimits limits;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            printHelp(std::cout);
            return 0;
        }
        if (i + 1 >= argc) {
            return usage();
        }
        const std::string value = argv[++i];
        bool valid = true;
        if (option == "--root") {
            root = value;
        } else if (option == "--host") {
            host = value;
        } else if (option == "--port") {
            char* end = nullptr;
            port = std::strtol(value.c_str(), &end, 10);
            valid = !value.empty() && *end == '\0' && port >= 0 && port <= 65535;
        } else if (option == "--header-timeout") {
            valid = parseSeconds(value, limits.headerTimeout);
        } else if (option == "--io-timeout") {
            valid = parseSeconds(value, limits.ioTimeout);
        } else if (option == "--threads") {
            valid = parseCount(value, limits.threads);
        } else if (option == "--queue") {
            valid = parseCount(value, limits.queue);
        } else if (option == "--max-waiting") {
            valid = parseCount(value, limits.pendingConnections);
        } else {
            valid = false;
        }
        if (!valid) {
            std::cerr << "lumivex-server: bad " << option << " \"" << value << "\"\n";
            return usage();
        }
    }
    if (root.empty()) {
        return usage();
    }
    raiseOpenFileLimit();

    // The server's threads inherit this mask, so only sigwait below sees the
    // signals that end the program.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A client that hangs up mid-transfer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    try {
        cCatalogueServer server(root, host, static_cast<uint16_t>(port), limits);
        server.start();
        std::cout << server.port() << std::endl;
        const cServerLimits& used = server.limits();
        std::cerr << "lumivex-server: serving " << server.root() << " on http://" << host << ":" << server.port()
                  << "/ (" << used.threads << " threads, queue " << used.queue << ", up to "
                  << used.pendingConnections << " waiting connections, header time-out "
                  << used.headerTimeout.count() / 1000.0 << " s, i/o time-out " << used.ioTimeout.count() / 1000.0
                  << " s)\n";
        int received = 0;
        sigwait(&signals, &received);
        server.stop();
    } catch (const Poco::Exception& failure) {
        std::cerr << "lumivex-server: " << failure.displayText() << "\n";
        return 1;
    }
    return 0;
}
