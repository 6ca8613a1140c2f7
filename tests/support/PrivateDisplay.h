#pragma once
// An X server of the test program's own: Xvfb with the usual 1280x1024
// screen, started before the first test (DISPLAY then names it) and gone
// with the program. For tests that move the real pointer or read the
// screen's pixels, which another test's window on a shared display would
// disturb. Register it with ::testing::AddGlobalTestEnvironment.

#include <gtest/gtest.h>

#include <sys/types.h>

namespace testsupport {

class cPrivateDisplay : public ::testing::Environment {
public:
    // Starts the server and sets DISPLAY; without a server DISPLAY is
    // unset, and every test that needs one fails with its reason.
    void SetUp() override;
    void TearDown() override;

private:
    pid_t mServer = -1;
};

} // namespace testsupport
