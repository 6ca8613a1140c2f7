#pragma once
// The servers a zapping session meets, in a child process of their own, so
// that their sockets and threads never count among the player's. One
// loopback port answers by path:
//   /<name>          a file of the clip folder, whole, with its length
//   /list.asx        an ASX playlist whose refs are two of the clips
//   /stall/<name>    the file's header and first half, then nothing more
//                    until the player hangs up (a server that stalls
//                    mid-stream)
//   /junk.mkv        200 with a video content type and random bytes
//   /garbage         random bytes instead of an HTTP answer
// The child ends with the parent (PR_SET_PDEATHSIG) and with stop().

#include <sys/types.h>

#include <string>

class cSoakServer {
public:
    // Forks the server; call before any thread of the parent exists. The
    // clip folder ends in '/'. port() is 0 when the fork failed.
    explicit cSoakServer(const std::string& clipFolder);
    // Kills the child and waits for it.
    ~cSoakServer();
    cSoakServer(const cSoakServer&) = delete;
    cSoakServer& operator=(const cSoakServer&) = delete;

    int port() const { return mPort; }
    std::string url(const std::string& path) const;

private:
    pid_t mChild = -1; // parent only
    int mPort = 0;
};
