#pragma once
// The program's one diagnostic log: one line per message on standard error,
// "lumivex: <subsystem>: <level>: <message>". Warnings and errors are always
// written; debug and info messages only for the subsystems named in the
// environment variable LUMIVEX_DEBUG, a comma-separated list such as
// "playback,catalogue" ("all" names every subsystem). The variable is read
// once, on the first message. Safe from any thread; lines never interleave.
//
// Messages carry text from outside (addresses, names, servers' answers), so
// each is made printable before it is written: valid UTF-8 (malformed
// bytes become U+FFFD), line breaks and tabs become blanks, every other
// control character is escaped (printableText), and a message longer than
// MaxLogMessageBytes is cut, saying how long it was.

#include <functional>
#include <string>

namespace kestrel {

enum class eLogLevel { Debug, Info, Warning, Error };

// Longest message written, in bytes after escaping.
constexpr size_t MaxLogMessageBytes = 2048;

// The text as valid UTF-8 that a terminal shows as it is: malformed bytes
// become U+FFFD; C0 and C1 control characters and DEL become "\xNN"; the
// characters that reorder or break lines (U+2028, U+2029, the bidirectional
// embeddings, overrides and isolates) become "\uNNNN"; a backslash stays
// as it is. Tabs, line feeds and carriage returns are escaped too unless
// blanks is set, which turns them into blanks.
std::string printableText(const std::string& text, bool blanks = false);

// True when a message of this level for this subsystem is written.
bool logEnabled(eLogLevel level, const char* subsystem);
// Writes one line: the printable message, line breaks as blanks, capped.
void logMessage(eLogLevel level, const char* subsystem, const std::string& message);

inline void logDebug(const char* subsystem, const std::string& message)
{
    logMessage(eLogLevel::Debug, subsystem, message);
}
inline void logInfo(const char* subsystem, const std::string& message)
{
    logMessage(eLogLevel::Info, subsystem, message);
}
inline void logWarning(const char* subsystem, const std::string& message)
{
    logMessage(eLogLevel::Warning, subsystem, message);
}
inline void logError(const char* subsystem, const std::string& message)
{
    logMessage(eLogLevel::Error, subsystem, message);
}

namespace testing {
// Every written line (without its line feed) goes to the recorder instead
// of standard error while one is set; an empty function restores the
// standard error. The subsystem list is read again from the environment.
void setLogRecorder(std::function<void(const std::string& line)> recorder);
} // namespace testing

} // namespace kestrel
