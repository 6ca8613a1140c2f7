#include "tests/support/PrivateDisplay.h"

#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

void cPrivateDisplay::SetUp()
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        unsetenv("DISPLAY");
        return;
    }
    const pid_t parent = getpid();
    mServer = fork();
    if (mServer == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        close(pipeFds[0]);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        const std::string fd = std::to_string(pipeFds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    // The server writes its display number once it accepts clients.
    std::string number;
    pollfd waiting{pipeFds[0], POLLIN, 0};
    while (poll(&waiting, 1, 30000) > 0) {
        char c = 0;
        if (read(pipeFds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number.push_back(c);
    }
    close(pipeFds[0]);
    if (!number.empty()) {
        setenv("DISPLAY", (":" + number).c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
}

void cPrivateDisplay::TearDown()
{
    if (mServer > 0) {
        kill(mServer, SIGTERM);
        waitpid(mServer, nullptr, 0);
    }
}

} // namespace testsupport
