// One program per folder: the lock, its release by the kernel when the
// holder dies, and the messages a later start hands to the first.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kestrel/InstanceLock.h"
#include "tests/support/TempFolder.h"

using kestrel::cInstanceLock;
using testsupport::cTempFolder;

TEST(InstanceLock, TheFirstHoldsTheFolderAndHearsLaterStarts)
{
    cTempFolder folder;
    cTempFolder other;
    std::mutex lock;
    std::vector<std::vector<std::string>> received;
    {
        cInstanceLock first;
        ASSERT_TRUE(first.acquire(folder.path()));
        first.listen([&](const std::vector<std::string>& lines) {
            std::lock_guard<std::mutex> guard(lock);
            received.push_back(lines);
        });
        cInstanceLock second;
        EXPECT_FALSE(second.acquire(folder.path()));
        EXPECT_FALSE(second.held());
        // Another folder is another player's.
        cInstanceLock elsewhere;
        EXPECT_TRUE(elsewhere.acquire(other.path()));

        EXPECT_TRUE(cInstanceLock::send(folder.path(), {"--list", "/a b.m3u", ""}, 2000));
        EXPECT_TRUE(cInstanceLock::send(folder.path(), {}, 2000));
        // Too long a message is not sent at all.
        EXPECT_FALSE(cInstanceLock::send(folder.path(), {std::string(cInstanceLock::MaxMessageBytes, 'x')}, 2000));
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_EQ(received.size(), 2u);
        EXPECT_EQ(received[0], (std::vector<std::string>{"--list", "/a b.m3u", ""}));
        EXPECT_TRUE(received[1].empty());
    }
    // The first has ended: the folder is free, and nobody answers.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(cInstanceLock::send(folder.path(), {"x"}, 300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    cInstanceLock again;
    EXPECT_TRUE(again.acquire(folder.path()));
}

TEST(InstanceLock, AHolderThatDiesLeavesNoStaleLock)
{
    cTempFolder folder;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        cInstanceLock held;
        const char answer = held.acquire(folder.path()) ? 'y' : 'n';
        (void)!write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y');
    cInstanceLock second;
    EXPECT_FALSE(second.acquire(folder.path()));
    // As a crash would: no chance to clean up.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    cInstanceLock after;
    EXPECT_TRUE(after.acquire(folder.path()));
    close(ready[0]);
    close(ready[1]);
}
