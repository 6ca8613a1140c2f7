// The real message box, drawn by SDL on an X server of this program's own:
// the box's process ends with the player that asked for it, and a player
// that is gone before its box is drawn gets none. A "player" here is a
// child of the test that asks for one box; the box itself is SDL's
// grandchild of the test.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kestrel/MessageBox.h"
#include "tests/support/PrivateDisplay.h"
#include "tests/support/XWindows.h"

namespace {

using tClock = std::chrono::steady_clock;

// A box on the shared display could stand over another test's window.
[[maybe_unused]] ::testing::Environment* const privateDisplay =
    ::testing::AddGlobalTestEnvironment(new testsupport::cPrivateDisplay);

const std::string Caption = "Application exception";

// Set in the player before it asks for its box, read in the box's process
// right after SDL forks it.
int boxReport = -1;           // where the box's process writes its process id
bool killPlayerAtFork = false; // the box's process kills the player first

// A fork handler of the player's. It is registered before the player's
// first box, so it runs in the box's process before the message box's own
// handler does: killing the player here is a player that dies between the
// fork and anything the box's process can do about it.
void onBoxFork()
{
    const pid_t self = getpid();
    (void)!write(boxReport, &self, sizeof(self));
    if (killPlayerAtFork) {
        const pid_t player = getppid();
        kill(player, SIGKILL);
        // Once the player has ended, its children belong to the test.
        for (int waited = 0; getppid() == player && waited < 5000; ++waited) {
            usleep(1000);
        }
    }
}

// True when the process has ended (and is reaped) within the time.
bool endsWithin(pid_t pid, int timeoutMs)
{
    const auto end = tClock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        const pid_t reaped = waitpid(pid, nullptr, WNOHANG);
        if (reaped == pid) {
            return true;
        }
        // Not (yet) the test's child: its parent may be still ending.
        if (reaped < 0 && kill(pid, 0) != 0 && errno == ESRCH) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (tClock::now() < end);
    return false;
}

// A player that asks for one box ("Application exception") and the process
// SDL shows it from. Whatever the test does, both are gone when it ends.
class cBoxPlayer {
public:
    explicit cBoxPlayer(bool killedAtFork)
    {
        int report[2];
        if (pipe2(report, O_CLOEXEC) != 0) {
            return;
        }
        const pid_t test = getpid();
        mPlayer = fork();
        if (mPlayer == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != test) {
                _exit(127);
            }
            close(report[0]);
            boxReport = report[1];
            killPlayerAtFork = killedAtFork;
            pthread_atfork(nullptr, nullptr, onBoxFork);
            kestrel::showMessageBox(u"Application exception", u"Fatal exception");
            _exit(0);
        }
        close(report[1]);
        pollfd waiting{report[0], POLLIN, 0};
        pid_t box = -1;
        if (mPlayer > 0 && poll(&waiting, 1, 10000) > 0 && read(report[0], &box, sizeof(box)) == sizeof(box)) {
            mBox = box;
        }
        close(report[0]);
    }

    // Kills what has not been seen to end.
    ~cBoxPlayer()
    {
        for (pid_t* pid : {&mPlayer, &mBox}) {
            if (*pid > 0 && kill(*pid, SIGKILL) == 0) {
                ends(*pid, 5000);
            }
        }
    }

    cBoxPlayer(const cBoxPlayer&) = delete;
    cBoxPlayer& operator=(const cBoxPlayer&) = delete;

    bool started() const { return mPlayer > 0; }
    // SDL forked a process for the box (which may still draw nothing).
    bool hasBox() const { return mBox > 0; }
    bool playerEnds(int timeoutMs) { return ends(mPlayer, timeoutMs); }
    bool boxEnds(int timeoutMs) { return ends(mBox, timeoutMs); }
    // As a crash or the user's kill would: the player gets no chance to
    // close anything.
    bool killPlayer() { return mPlayer > 0 && kill(mPlayer, SIGKILL) == 0 && ends(mPlayer, 5000); }

private:
    // endsWithin, after which the process is forgotten.
    static bool ends(pid_t& pid, int timeoutMs)
    {
        if (pid <= 0 || !endsWithin(pid, timeoutMs)) {
            return false;
        }
        pid = -1;
        return true;
    }

    pid_t mPlayer = -1;
    pid_t mBox = -1;
};

class MessageBoxTest : public ::testing::Test {
protected:
    // The box's process, orphaned by its player, comes to the test, which
    // can then see it end and reap it.
    void SetUp() override { ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0) << std::strerror(errno); }
    void TearDown() override { prctl(PR_SET_CHILD_SUBREAPER, 0); }

    Window waitForBox(int timeoutMs)
    {
        const auto end = tClock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            if (const Window box = mDisplay.findWindowByTitle(Caption); box != 0) {
                return box;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (tClock::now() < end);
        return 0;
    }

    testsupport::cDisplay mDisplay;
};

} // namespace

TEST_F(MessageBoxTest, TheBoxEndsWithAPlayerKilledWhileItShows)
{
    ASSERT_TRUE(mDisplay.isOpen()) << "no X server of the test's own";
    cBoxPlayer player(false);
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.hasBox()) << "the player showed no box from a process of its own";
    ASSERT_NE(waitForBox(10000), 0u) << "the box never appeared";

    ASSERT_TRUE(player.killPlayer());
    const auto killed = tClock::now();
    EXPECT_TRUE(player.boxEnds(1000)) << "the box's process outlived its player";
    // Its window goes with the process's connection to the server.
    EXPECT_EQ(waitForBox(0), 0u);
    EXPECT_LT(tClock::now() - killed, std::chrono::seconds(2));
}

TEST_F(MessageBoxTest, APlayerGoneBeforeItsBoxIsDrawnGetsNone)
{
    ASSERT_TRUE(mDisplay.isOpen()) << "no X server of the test's own";
    cBoxPlayer player(true);
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.hasBox()) << "the player showed no box from a process of its own";
    // The box's process killed the player itself, right after the fork.
    ASSERT_TRUE(player.playerEnds(5000));
    EXPECT_TRUE(player.boxEnds(1000)) << "a box was shown for a player that was gone";
    EXPECT_EQ(waitForBox(0), 0u);
}
