#pragma once
// One program per folder. The first process to lock a folder holds the
// lock (a file "lumivex.lock" in it, locked with flock, so the kernel
// releases it when the process ends, also by a crash: a stale lock never
// stops a start) and listens for later starts on a local socket named
// after the folder. A later start finds the folder locked and hands its
// message (a few lines of text) to the first instead of running.

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {

class cInstanceLock {
public:
    // How a later start's message reaches the first: on the listener's own
    // thread, one call per message, in arrival order.
    using tReceiver = std::function<void(const std::vector<std::string>& lines)>;

    cInstanceLock() = default;
    // Stops listening and releases the lock.
    ~cInstanceLock();
    cInstanceLock(const cInstanceLock&) = delete;
    cInstanceLock& operator=(const cInstanceLock&) = delete;

    // Tries to lock the folder (which must exist). True when this process
    // is the first (or the lock file cannot be made at all: then nothing
    // is guarded, which a warning says); false when another holds it.
    bool acquire(const std::string& folder);
    bool held() const { return mDescriptor >= 0; }

    // While the lock is held: receives later starts' messages on a thread
    // of its own until destruction.
    void listen(tReceiver receiver);
    // Ends the listening (waiting for a message being handed over); the
    // lock stays held until destruction.
    void stopListening();

    // A later start: sends the lines to the process that holds the folder's
    // lock and waits (at most timeoutMs) for its answer. False when nobody
    // answered in time, or when the socket's listener is not of this user
    // (then nothing is sent, and a warning says so).
    static bool send(const std::string& folder, const std::vector<std::string>& lines, int timeoutMs);

    // The socket's name in the abstract namespace (no file, no length limit
    // of the folder's path), without its leading NUL: a digest of the
    // folder's real path and this user's id. Anyone can work it out, which
    // is why both ends check who is at the other.
    static std::string socketName(const std::string& folder);

    // Lines of a message and the bytes of a message are capped.
    static constexpr size_t MaxMessageBytes = 64 * 1024;

private:
    void serve();

    int mDescriptor = -1;       // the locked file; set by acquire, closed by the destructor
    int mListener = -1;         // the listening socket; owner thread only until mThread starts
    int mWake[2] = {-1, -1};    // a pipe that ends the listener's wait at destruction
    tReceiver mReceiver;        // set before mThread starts
    std::thread mThread;        // owner thread only
};

} // namespace kestrel
