#pragma once
// The abstract application object: one per process, reachable from every
// thread through instance(), with the terminating flag that long waiting
// loops (the player's task waits, the catalogue download) poll to give up.

#include "kestrel/Tasks.h"

#include <cstdint>

namespace kestrel {

class cApplication {
public:
    // Makes this object the process-wide instance.
    cApplication();
    // Clears the process-wide instance.
    virtual ~cApplication();
    cApplication(const cApplication&) = delete;
    cApplication& operator=(const cApplication&) = delete;

    // The entry point passes 0 for both arguments, which are ignored.
    virtual int run(int32_t first, int32_t second) = 0;
    virtual void setTerminating(bool terminating);
    virtual bool isTerminating();

    // The current application object, or null.
    static cApplication* instance();

private:
    cCriticalSection mLock;
    bool mTerminating = false; // guarded by mLock
};

// True when an application object exists and is terminating. For code that
// may also run without an application (tools, tests).
bool applicationIsTerminating();

} // namespace kestrel
