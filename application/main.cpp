// The lumivex executable: the one application object and the entry point.

#include "application/Application.h"

namespace {
// Constructed before main() runs and destroyed after it returns.
cLumivexApplication theApplication;
} // namespace

int main()
{
    return lumivexMain();
}
