// lumivex-server: serves a catalogue folder over HTTP until it is
// interrupted. Prints the bound port alone on the first line of standard
// output, so that scripts and tests can start it with --port 0.

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <Poco/Exception.h>

#include "tools/CatalogueServer.h"

namespace {

int usage()
{
    std::cerr << "usage: lumivex-server --root DIR [--port N] [--host ADDRESS]\n"
                 "  serves DIR: /dbversion.php answers the text of DIR/dbversion,\n"
                 "  /database the file DIR/database, other paths the files below DIR.\n"
                 "  --port defaults to 8391 (the player's default server); 0 takes any\n"
                 "  free port. --host defaults to 127.0.0.1.\n"
                 "  The bound port is printed alone on standard output.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string root;
    std::string host = "127.0.0.1";
    long port = 8391;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        const std::string value = argv[++i];
        if (option == "--root") {
            root = value;
        } else if (option == "--host") {
            host = value;
        } else if (option == "--port") {
            char* end = nullptr;
            port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535) {
                return usage();
            }
        } else {
            return usage();
        }
    }
    if (root.empty()) {
        return usage();
    }

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
        cCatalogueServer server(root, host, static_cast<uint16_t>(port));
        server.start();
        std::cout << server.port() << std::endl;
        std::cerr << "lumivex-server: serving " << server.root() << " on http://" << host << ":" << server.port()
                  << "/\n";
        int received = 0;
        sigwait(&signals, &received);
        server.stop();
    } catch (const Poco::Exception& failure) {
        std::cerr << "lumivex-server: " << failure.displayText() << "\n";
        return 1;
    }
    return 0;
}
