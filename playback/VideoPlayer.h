#pragma once
// The video player: plays one channel's playlist through a media graph,
// sends the decoded frames to the frame callback (which fills the player
// scene's texture), routes the sound to the default audio output, keeps the
// volume and mute state in the settings, and moves on to the playlist's
// next entry when a stream ends.
//
// Threads: the main loop constructs the player, hands it the texture, opens
// it and sets the volume; the play task runs the open sequence (with the
// load and run tasks doing its two blocking steps); the event listener polls
// for the end of the stream every 500 ms; the player manager's destroyer
// deletes it.

#include "playback/MediaGraph.h"
#include "playback/PlayFailure.h"
#include "playback/PlayList.h"
#include "playback/ReconnectPolicy.h"
#include "playback/SampleGrabberCB.h"

#include "app/Toolkit.h"
#include "kestrel/Tasks.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <climits>
#include <memory>
#include <mutex>
#include <string>

class cVideoPlayerImpl;

class cPlayerPlayTask : public kestrel::cStandaloneTask {
public:
    explicit cPlayerPlayTask(cVideoPlayerImpl& player) : mPlayer(player) {}
    ~cPlayerPlayTask() override;
    bool result() const { return mResult; }
    void clearResult() { mResult = false; }

protected:
    void execute() override;

private:
    cVideoPlayerImpl& mPlayer;
    bool mResult = false; // written by the run, read after TaskFinished
};

class cPlayerLoadTask : public kestrel::cStandaloneTask {
public:
    explicit cPlayerLoadTask(cVideoPlayerImpl& player) : mPlayer(player) {}
    ~cPlayerLoadTask() override;
    // Inputs, written before start().
    void prepare(cMediaGraph* graph, const std::u16string& address);
    bool result() const { return mResult; }

protected:
    void execute() override;

private:
    cVideoPlayerImpl& mPlayer;
    cMediaGraph* mGraph = nullptr; // written before start(); the play task keeps it alive
    std::u16string mAddress;       // written before start()
    bool mResult = false;          // written by the run, read after TaskFinished
};

class cPlayerRunTask : public kestrel::cStandaloneTask {
public:
    explicit cPlayerRunTask(cVideoPlayerImpl& player) : mPlayer(player) {}
    ~cPlayerRunTask() override;
    void prepare(cMediaGraph* graph);
    bool result() const { return mResult; }

protected:
    void execute() override;

private:
    cVideoPlayerImpl& mPlayer;
    cMediaGraph* mGraph = nullptr; // written before start(); the play task keeps it alive
    bool mResult = false;          // written by the run, read after TaskFinished
};

class cPlayerEventListener : public kestrel::cStandaloneTask {
public:
    static constexpr unsigned PollIntervalMs = 500;
    explicit cPlayerEventListener(cVideoPlayerImpl& player) : mPlayer(player) {}
    ~cPlayerEventListener() override;
    // requestStop() that is not lost when it comes before the thread has
    // marked itself running (which overwrites the state).
    void stop();

protected:
    void execute() override;

private:
    bool stopRequested();

    cVideoPlayerImpl& mPlayer;
    std::atomic<bool> mStop{false}; // any thread
};

class cVideoPlayerImpl {
public:
    // Takes ownership of the playlist; starts the event listener.
    explicit cVideoPlayerImpl(cPlayList* playList);
    // The teardown: stops every task, releases the graph, deletes the
    // playlist. Blocks until all of it is done; run it off the main loop.
    virtual ~cVideoPlayerImpl();
    cVideoPlayerImpl(const cVideoPlayerImpl&) = delete;
    cVideoPlayerImpl& operator=(const cVideoPlayerImpl&) = delete;

    // Releases any graph, builds the base graph and starts the play task.
    // True when the work has started.
    bool open();
    void close();

    bool isLoaded() const { return mLoaded; }
    void setMuted(bool muted);
    bool isMuted() const { return mMuted; }
    void setVolume(int volume);
    int getVolume() const { return mVolume; }
    cPlayList* getPlayList() const { return mPlayList; }
    void setTexture(ClutterTexture* texture) { mCallback.setTexture(texture); }
    cSampleGrabberCB& frameCallback() { return mCallback; }

    void abort();
    bool isAborted();
    // The last failure: its step and detail, as the log line says them.
    // The play task reads it after a failed open sequence.
    const std::string& failure() const { return mFailure; }
    // The same failure as the viewer is told it.
    const sPlayFailure& failureCause() const { return mFailureCause; }
    // False once the player is aborted; may be asked after it is gone.
    std::function<bool()> stillWanted() const { return [live = mLive] { return live->load(); }; }

    // The attenuation (hundredths of a decibel) for a volume of 0 to 100,
    // computed in single precision.
    static long attenuationForVolume(int volume);
    // The attenuation last given to a graph; NoAttenuation before any.
    static constexpr long NoAttenuation = LONG_MIN;
    long appliedAttenuation() const { return mAppliedAttenuation; }

    // A live stream that fails after it has played is reopened, quietly
    // and with the busy indication, at most this many times within the
    // window; every attempt and its waits end within the window counted
    // from the failure. A stream that fails before it has played is not.
    // A channel that drops again and again is bounded as a whole
    // (cReconnectPolicy).
    static constexpr int MaxReconnects = cReconnectPolicy::MaxAttempts;
    static constexpr int ReconnectWindowSeconds = cReconnectPolicy::AttemptWindow.count();

    // Task bodies. playSequence is the open sequence with the reconnection
    // attempts of a dropped live stream.
    bool playSequence();
    bool openSequence();
    bool loadStep(cMediaGraph* graph, const std::u16string& address);
    bool runStep(cMediaGraph* graph);
    void pollEvent();

private:
    bool buildBaseGraph();
    void releaseGraph();
    void applyVolume(int volume);
    void playNextEntry();
    // The listener's answer to a live stream that failed after it played:
    // close and open the same entry again as a reconnection.
    void reconnectAfterDrop(const std::string& why, const sPlayFailure& cause);
    // Play task, before each reconnection attempt: false (the player gives
    // up) when the attempts of the window are used up or its time is;
    // otherwise waits a little before the second and third attempts and
    // says on standard error which attempt follows.
    bool beginReconnectAttempt();
    // Whether the running stream has shown pictures (for a stream without
    // video: has run) since its open sequence ended.
    bool hasPlayedSinceOpen();
    // Tells the current scene that this player is busy or no longer busy;
    // dropped on the main loop if the player has been aborted by then.
    void notifyBusy(bool start);
    bool waitForTask(kestrel::cStandaloneTask& task);
    // Failures say in one line on standard error which channel failed, at
    // which step and why; each returns false. Nothing is said for a player
    // that is being aborted.
    std::string channelText();
    // The cause is what the viewer is told (sPlayFailure); failGraph reads
    // it from the graph, at the given step.
    bool fail(const std::string& step, const std::string& detail, const sPlayFailure& cause);
    bool failGraph(cMediaGraph& graph, const std::string& step, sPlayFailure::eStep stage);
    static sPlayFailure causeAt(sPlayFailure::eStep step, sPlayFailure::eKind kind = sPlayFailure::KindNotOpened);

    cPlayList* mPlayList; // owned; entries read by the load task, index moved and entries refetched under mGraphLock
    std::atomic<bool> mLoaded{false};
    std::atomic<bool> mMuted{false};
    std::atomic<int> mVolume{100};
    std::atomic<long> mAppliedAttenuation{NoAttenuation};

    cSampleGrabberCB mCallback; // lives exactly as long as the player

    // The stream that runs and its reconnection, guarded by mGraphLock (the
    // listener sets a reconnection up before it starts the play task, which
    // carries it out).
    bool mStreamIsLive = false;  // the running stream has no end
    bool mStreamHasVideo = true; // the running stream has video
    uint64_t mFramesAtRun = 0;   // frames delivered before the running stream started
    std::atomic<bool> mReconnecting{false}; // the open sequences to come reopen a dropped stream
    cReconnectPolicy mReconnectPolicy; // the drops and attempts of a live stream
    std::string mLastFailure;    // why the last attempt (or the drop) failed, said when giving up
    sPlayFailure mLastFailureCause; // the same, as the viewer is told it

    // Held for the whole open sequence, by the listener while it polls and
    // moves on, and by open, close and the teardown.
    kestrel::cCriticalSection mGraphLock;
    // The graph is replaced only with both mGraphLock and mGraphRefLock
    // held, so holding either one is enough to use it. The main loop (volume)
    // and abort use mGraphRefLock, which is never held for long.
    std::mutex mGraphRefLock;
    std::unique_ptr<cMediaGraph> mGraph; // see above

    kestrel::cCriticalSection mAbortLock;
    bool mAborted = false; // guarded by mAbortLock; never cleared
    // False once the player is aborted; shared with the busy notifications
    // it has posted, which may run on the main loop after it is gone.
    std::shared_ptr<std::atomic<bool>> mLive = std::make_shared<std::atomic<bool>>(true);

    std::unique_ptr<cPlayerPlayTask> mPlayTask;
    std::unique_ptr<cPlayerLoadTask> mLoadTask;
    std::unique_ptr<cPlayerRunTask> mRunTask;
    std::unique_ptr<cPlayerEventListener> mEventListener;
    std::string mFailure; // written by fail within open and the open sequence, both under mGraphLock
    sPlayFailure mFailureCause; // written with mFailure
};

class cVideoPlayer {
public:
    // Reads "volume" and "muted" from the settings without writing them.
    explicit cVideoPlayer(cPlayList* playList);
    virtual ~cVideoPlayer();
    cVideoPlayer(const cVideoPlayer&) = delete;
    cVideoPlayer& operator=(const cVideoPlayer&) = delete;

    virtual bool open();
    virtual void close();
    virtual void updateVideoPosition();
    virtual bool isLoaded();
    virtual void setMuted(bool muted);
    virtual bool isMuted();
    virtual void setVolume(int volume);
    virtual int getVolume();
    virtual void setKeepAspect(bool keep);
    virtual bool getKeepAspect();
    virtual void setFullscreen(bool fullscreen);
    virtual bool isFullscreen();
    virtual cPlayList* getPlayList();
    virtual void abort();
    virtual bool isAborted();

    void setTexture(ClutterTexture* texture);

    // For tests and the benchmark.
    cVideoPlayerImpl& impl() { return *mImpl; }

private:
    std::unique_ptr<cVideoPlayerImpl> mImpl; // owned; deleted by the destructor (the teardown)
};
