// The application exactly as lumivex runs it, with its start-up and
// shutdown steps written to standard error ("step: ...") and message boxes
// left as their line on standard error instead of a dialog. For the
// start-up tests only.
//
//   lumivex_traced               as lumivex
//   lumivex_traced --fail-init   loading fails after the database has opened
//   lumivex_traced --slow-init   loading takes until the window is closed
//   lumivex_traced --slow-shutdown  shutdown waits 30 s after the main loop
// Any other arguments (after the mode) are lumivex's own.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "application/Application.h"
#include "kestrel/Exception.h"
#include "kestrel/MessageBox.h"

namespace {
cLumivexApplication theApplication;
}

int main(int argc, char** argv)
{
    apptesting::setStepTrace([](const std::string& step) {
        std::fprintf(stderr, "step: %s\n", step.c_str());
        std::fflush(stderr);
    });
    kestrel::setMessageBoxPresenter([](const std::string&, const std::string&) {});
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "--slow-shutdown") == 0) {
        // As if a player took long to tear down.
        apptesting::setStepTrace([](const std::string& step) {
            std::fprintf(stderr, "step: %s\n", step.c_str());
            std::fflush(stderr);
            if (step == "main loop ended") {
                std::this_thread::sleep_for(std::chrono::seconds(30));
            }
        });
    }
    if (std::strcmp(mode, "--fail-init") == 0) {
        apptesting::setInitializationProbe([] {
            throw kestrel::cException(u"probe failure");
        });
    } else if (std::strcmp(mode, "--slow-init") == 0) {
        apptesting::setInitializationProbe([] {
            std::fprintf(stderr, "step: probe waiting\n");
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!isApplicationTerminating() && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::fprintf(stderr, "step: probe ended\n");
        });
    }
    // Its own mode goes; the rest is the program's command line.
    std::vector<const char*> arguments(argv, argv + argc);
    if (std::strncmp(mode, "--slow-", 7) == 0 || std::strcmp(mode, "--fail-init") == 0) {
        arguments.erase(arguments.begin() + 1);
    }
    return lumivexMain(static_cast<int>(arguments.size()), arguments.data());
}
