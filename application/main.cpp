// The lumivex executable: the one application object and the entry point.

#include "application/Application.h"

namespace {
// Constructed before main() runs and destroyed after it returns.
cLumivexApplication theApplication;
} // namespace

int main(int argc, char** argv)
{
    return lumivexMain(argc, argv);
}
