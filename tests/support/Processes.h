#pragma once
// Programs a test starts and talks to from outside: a child process that
// dies with the test, a command run to its end, the files such a program
// leaves, and a loopback address where nothing listens.
//
// Every child runs in its own process group with PR_SET_PDEATHSIG=SIGKILL
// and is killed (group and all) when its cProcess goes: a test that
// crashes leaves no player or server behind on the display or on a port.
// Every wait has a time-out.

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// Environment changes for a child: a value sets the variable, nullopt
// removes it; the rest of the test's environment is passed on.
using tEnvironment = std::map<std::string, std::optional<std::string>>;

// The whole file as bytes; empty when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
bool isDirectory(const std::string& path);
// A new folder under $TMPDIR (or /tmp) named lumivex-<tag>-XXXXXX; empty
// when it cannot be made.
std::string makeTempFolder(const std::string& tag);
// UTF-16 little-endian with a byte-order mark, as the user files are kept;
// the text is ASCII.
std::string utf16File(const std::string& ascii);
// "127.0.0.1:port" where nothing listens: a port the system handed out and
// that was closed again at once, so a connection is refused.
std::string refusedAddress();

// A child process of the test. The executable (the command's first word)
// is looked up in PATH when it holds no '/'. Standard input reads nothing;
// standard output goes to a pipe (readOutput: readLine, readAll) or
// nowhere; standard error goes to the file given.
class cProcess {
public:
    cProcess(const std::vector<std::string>& command, const tEnvironment& changes, const std::string& errorPath,
             bool readOutput = false, const std::string& workingFolder = {});
    // Kills the process group unless the process has been seen to end.
    ~cProcess();
    cProcess(const cProcess&) = delete;
    cProcess& operator=(const cProcess&) = delete;

    // The child's process id; not positive when it could not be started.
    pid_t pid() const { return mPid; }
    bool running();
    // False when the time ran out first.
    bool waitForExit(int timeoutMs);
    // The exit status; -1000 - the signal's number after a signal; -1 while
    // running.
    int exitStatus() const;
    // One line of standard output; empty when the process ends or the time
    // runs out first.
    std::string readLine(int timeoutMs);
    // Everything written to standard output until it closes or the time
    // runs out.
    std::string readAll(int timeoutMs);
    std::string errorText() const { return readFile(mErrorPath); }

private:
    pid_t mPid = -1;
    int mOutput = -1; // read end of the child's standard output
    bool mExited = false;
    int mStatus = 0;
    std::string mErrorPath;
};

struct cCommandResult {
    bool finished = false; // false: killed at the time-out
    int status = -1;
    std::string output;
    std::string error;
};
// Runs a command to its end (killed at the time-out) and collects its
// output; its standard error passes through a file in the scratch folder.
cCommandResult runCommand(const std::vector<std::string>& command, int timeoutMs, const std::string& scratchFolder);

} // namespace testsupport
