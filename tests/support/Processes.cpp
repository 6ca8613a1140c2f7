#include "tests/support/Processes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testsupport {

namespace {

using tClock = std::chrono::steady_clock;

tClock::time_point deadline(int timeoutMs) { return tClock::now() + std::chrono::milliseconds(timeoutMs); }

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::vector<std::string> environmentWith(const tEnvironment& changes)
{
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : variables) {
        result.push_back(name + "=" + value);
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (std::string& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

} // namespace

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool isDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string makeTempFolder(const std::string& tag)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/lumivex-" + tag + "-XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

std::string utf16File(const std::string& ascii)
{
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

std::string refusedAddress()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

// ---------------------------------------------------------------------------
// cProcess

cProcess::cProcess(const std::vector<std::string>& command, const tEnvironment& changes,
                   const std::string& errorPath, bool readOutput, const std::string& workingFolder)
    : mErrorPath(errorPath)
{
    std::vector<std::string> environmentText = environmentWith(changes);
    std::vector<char*> environmentPointers = pointers(environmentText);
    std::vector<std::string> argumentText = command;
    std::vector<char*> argumentPointers = pointers(argumentText);

    int output[2] = {-1, -1};
    if (pipe2(output, O_CLOEXEC) != 0) {
        return;
    }
    const int errorFile = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int nullFile = open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = getpid();
    mPid = fork();
    if (mPid == 0) {
        // Only async-signal-safe calls from here on. The child dies with the
        // test, so a crashed test leaves no player or server behind.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        setpgid(0, 0);
        dup2(nullFile, STDIN_FILENO);
        dup2(readOutput ? output[1] : nullFile, STDOUT_FILENO);
        dup2(errorFile, STDERR_FILENO);
        if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0) {
            _exit(127);
        }
        execvpe(argumentPointers[0], argumentPointers.data(), environmentPointers.data());
        _exit(127);
    }
    close(output[1]);
    mOutput = output[0];
    if (errorFile >= 0) {
        close(errorFile);
    }
    if (nullFile >= 0) {
        close(nullFile);
    }
}

cProcess::~cProcess()
{
    if (mPid > 0 && !mExited) {
        kill(-mPid, SIGKILL);
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
    }
    if (mOutput >= 0) {
        close(mOutput);
    }
}

bool cProcess::running()
{
    if (mPid <= 0 || mExited) {
        return false;
    }
    int status = 0;
    if (waitpid(mPid, &status, WNOHANG) == mPid) {
        mExited = true;
        mStatus = status;
        return false;
    }
    return true;
}

bool cProcess::waitForExit(int timeoutMs)
{
    const auto end = deadline(timeoutMs);
    while (running()) {
        if (tClock::now() >= end) {
            return false;
        }
        pause(20);
    }
    return mPid > 0;
}

int cProcess::exitStatus() const
{
    if (!mExited) {
        return -1;
    }
    return WIFEXITED(mStatus) ? WEXITSTATUS(mStatus) : -1000 - WTERMSIG(mStatus);
}

std::string cProcess::readLine(int timeoutMs)
{
    std::string line;
    const auto end = deadline(timeoutMs);
    while (mOutput >= 0 && tClock::now() < end) {
        pollfd waiting{mOutput, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        char c = 0;
        if (read(mOutput, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return line;
        }
        line.push_back(c);
    }
    return {};
}

std::string cProcess::readAll(int timeoutMs)
{
    std::string text;
    const auto end = deadline(timeoutMs);
    while (mOutput >= 0 && tClock::now() < end) {
        pollfd waiting{mOutput, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = read(mOutput, buffer, sizeof(buffer));
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

cCommandResult runCommand(const std::vector<std::string>& command, int timeoutMs, const std::string& scratchFolder)
{
    cCommandResult result;
    const std::string errorPath = scratchFolder + "/command.stderr";
    cProcess process(command, {}, errorPath, true);
    result.output = process.readAll(timeoutMs);
    result.finished = process.waitForExit(std::max(timeoutMs / 10, 1000));
    result.status = process.exitStatus();
    result.error = process.errorText();
    return result;
}

} // namespace testsupport
