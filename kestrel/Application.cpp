#include "kestrel/Application.h"

#include <atomic>

namespace kestrel {

namespace {
std::atomic<cApplication*> currentInstance{nullptr};
}

cApplication::cApplication() { currentInstance = this; }

cApplication::~cApplication()
{
    cApplication* self = this;
    currentInstance.compare_exchange_strong(self, nullptr);
}

void cApplication::setTerminating(bool terminating)
{
    cScopedLock lock(mLock);
    mTerminating = terminating;
}

bool cApplication::isTerminating()
{
    cScopedLock lock(mLock);
    return mTerminating;
}

cApplication* cApplication::instance() { return currentInstance; }

bool applicationIsTerminating()
{
    cApplication* application = cApplication::instance();
    return application != nullptr && application->isTerminating();
}

} // namespace kestrel
