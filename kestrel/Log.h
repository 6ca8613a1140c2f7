#pragma once
// The program's one diagnostic log: one line per message on standard error,
// "lumivex: <subsystem>: <level>: <message>". Warnings and errors are always
// written; debug and info messages only for the subsystems named in the
// environment variable LUMIVEX_DEBUG, a comma-separated list such as
// "playback,catalogue" ("all" names every subsystem). The variable is read
// once, on the first message. Safe from any thread; lines never interleave.

#include <functional>
#include <string>

namespace kestrel {

enum class eLogLevel { Debug, Info, Warning, Error };

// True when a message of this level for this subsystem is written.
bool logEnabled(eLogLevel level, const char* subsystem);
// Writes one line (line breaks inside the message become blanks).
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
