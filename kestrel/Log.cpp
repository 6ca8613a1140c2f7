#include "kestrel/Log.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <set>

namespace kestrel {

namespace {

std::mutex gLogLock;
bool gConfigured = false;                                 // guarded by gLogLock
bool gAllSubsystems = false;                              // guarded by gLogLock
std::set<std::string> gDebugSubsystems;                   // guarded by gLogLock
std::function<void(const std::string&)> gRecorder;       // guarded by gLogLock

// Reads LUMIVEX_DEBUG. Called with gLogLock held.
void configure()
{
    if (gConfigured) {
        return;
    }
    gConfigured = true;
    gAllSubsystems = false;
    gDebugSubsystems.clear();
    const char* value = std::getenv("LUMIVEX_DEBUG");
    if (value == nullptr) {
        return;
    }
    const std::string list(value);
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) {
            comma = list.size();
        }
        std::string name = list.substr(start, comma - start);
        while (!name.empty() && name.front() == ' ') {
            name.erase(name.begin());
        }
        while (!name.empty() && name.back() == ' ') {
            name.pop_back();
        }
        if (name == "all" || name == "*") {
            gAllSubsystems = true;
        } else if (!name.empty()) {
            gDebugSubsystems.insert(name);
        }
        start = comma + 1;
    }
}

bool enabledLocked(eLogLevel level, const char* subsystem)
{
    if (level == eLogLevel::Warning || level == eLogLevel::Error) {
        return true;
    }
    configure();
    return gAllSubsystems || gDebugSubsystems.count(subsystem) != 0;
}

const char* levelName(eLogLevel level)
{
    switch (level) {
    case eLogLevel::Debug:
        return "debug";
    case eLogLevel::Info:
        return "info";
    case eLogLevel::Warning:
        return "warning";
    case eLogLevel::Error:
        break;
    }
    return "error";
}

} // namespace

bool logEnabled(eLogLevel level, const char* subsystem)
{
    std::lock_guard<std::mutex> lock(gLogLock);
    return enabledLocked(level, subsystem);
}

void logMessage(eLogLevel level, const char* subsystem, const std::string& message)
{
    std::lock_guard<std::mutex> lock(gLogLock);
    if (!enabledLocked(level, subsystem)) {
        return;
    }
    std::string line = std::string("lumivex: ") + subsystem + ": " + levelName(level) + ": ";
    for (const char c : message) {
        line += (c == '\n' || c == '\r') ? ' ' : c;
    }
    if (gRecorder) {
        gRecorder(line);
        return;
    }
    // One write for the whole line, so that lines of several threads (or
    // processes sharing the terminal) never mix.
    line += '\n';
    size_t written = 0;
    while (written < line.size()) {
        const ssize_t result = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (result <= 0) {
            break; // nowhere left to report to
        }
        written += static_cast<size_t>(result);
    }
}

namespace testing {

void setLogRecorder(std::function<void(const std::string& line)> recorder)
{
    std::lock_guard<std::mutex> lock(gLogLock);
    gRecorder = std::move(recorder);
    gConfigured = false;
}

} // namespace testing

} // namespace kestrel
