#include "kestrel/Log.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "kestrel/Unicode.h"

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

bool reordersOrBreaksLines(char32_t cp)
{
    return cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
           cp == 0x200E || cp == 0x200F || cp == 0x061C;
}

// Cuts a valid UTF-8 text to at most size bytes without splitting a
// character.
void cutUtf8(std::string& text, size_t size)
{
    if (text.size() <= size) {
        return;
    }
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
        --size;
    }
    text.resize(size);
}

} // namespace

std::string printableText(const std::string& text, bool blanks)
{
    std::string out;
    out.reserve(text.size());
    char escape[16];
    // The conversion ends at U+0000, which is shown like any other control
    // character: each piece between two is converted on its own.
    for (size_t start = 0; start <= text.size();) {
        const size_t zero = std::min(text.find('\0', start), text.size());
        const std::u16string wide = fromUtf8Lenient(text.substr(start, zero - start));
        for (size_t i = 0; i < wide.size(); ++i) {
            char32_t cp = wide[i];
            // fromUtf8Lenient leaves only whole pairs.
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
                ++i;
            }
            if (blanks && (cp == '\n' || cp == '\r' || cp == '\t')) {
                out += ' ';
            } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
                std::snprintf(escape, sizeof(escape), "\\x%02X", static_cast<unsigned>(cp));
                out += escape;
            } else if (reordersOrBreaksLines(cp)) {
                std::snprintf(escape, sizeof(escape), "\\u%04X", static_cast<unsigned>(cp));
                out += escape;
            } else {
                appendUtf8(out, cp);
            }
        }
        if (zero < text.size()) {
            out += "\\x00";
        }
        start = zero + 1;
    }
    return out;
}

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
    // Escaping can make a text four times longer: only what can be written
    // is looked at.
    std::string text = printableText(message.substr(0, MaxLogMessageBytes + 4), true);
    if (message.size() > MaxLogMessageBytes || text.size() > MaxLogMessageBytes) {
        cutUtf8(text, MaxLogMessageBytes);
        text += " [cut; " + std::to_string(message.size()) + " bytes in all]";
    }
    line += text;
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
