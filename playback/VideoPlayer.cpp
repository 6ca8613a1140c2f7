#include "playback/VideoPlayer.h"
#include "playback/StreamAddress.h"
#include "playback/Zapping.h"

#include "kestrel/Application.h"
#include "app/Scene.h"
#include "kestrel/Exception.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "state/Recent.h"
#include "state/Settings.h"

#include <algorithm>
#include <cmath>

// --- worker tasks --------------------------------------------------------------

cPlayerPlayTask::~cPlayerPlayTask() = default;

void cPlayerPlayTask::execute()
{
    mResult = mPlayer.playSequence();
    if (!mResult && !mPlayer.isAborted()) {
        // The home scene, unless the user is zapping (playback/Zapping.h).
        playerOpenFailed(sChannelFailure{mPlayer.getPlayList()->getName(), mPlayer.failureCause()},
                         mPlayer.stillWanted());
    }
}

cPlayerLoadTask::~cPlayerLoadTask() = default;

void cPlayerLoadTask::prepare(cMediaGraph* graph, const std::u16string& address)
{
    mGraph = graph;
    mAddress = address;
    mResult = false;
}

void cPlayerLoadTask::execute() { mResult = mPlayer.loadStep(mGraph, mAddress); }

cPlayerRunTask::~cPlayerRunTask() = default;

void cPlayerRunTask::prepare(cMediaGraph* graph)
{
    mGraph = graph;
    mResult = false;
}

void cPlayerRunTask::execute() { mResult = mPlayer.runStep(mGraph); }

cPlayerEventListener::~cPlayerEventListener() = default;

void cPlayerEventListener::stop()
{
    mStop = true;
    requestStop();
}

bool cPlayerEventListener::stopRequested() { return mStop || getState() == kestrel::TaskStopRequested; }

void cPlayerEventListener::execute()
{
    constexpr unsigned slice = 20;
    for (;;) {
        mPlayer.pollEvent();
        // The 500 ms pause is taken in short slices so that the teardown
        // does not wait for the rest of it.
        for (unsigned slept = 0; slept < PollIntervalMs && !stopRequested(); slept += slice) {
            kestrel::sleepMilliseconds(slice);
        }
        if (stopRequested()) {
            return;
        }
    }
}

// --- cVideoPlayerImpl ------------------------------------------------------

cVideoPlayerImpl::cVideoPlayerImpl(cPlayList* playList)
    : mPlayList(playList),
      mPlayTask(std::make_unique<cPlayerPlayTask>(*this)),
      mLoadTask(std::make_unique<cPlayerLoadTask>(*this)),
      mRunTask(std::make_unique<cPlayerRunTask>(*this)),
      mEventListener(std::make_unique<cPlayerEventListener>(*this))
{
    mEventListener->start();
}

cVideoPlayerImpl::~cVideoPlayerImpl()
{
    // Nothing may open again from here on, and a load or run that blocks on
    // the network ends now instead of at its time-out.
    abort();
    // The listener goes first: it is the only one that starts the play task
    // besides the main loop's open, so after it has ended no new open
    // sequence can begin.
    mEventListener->stop();
    mEventListener->join();
    mPlayTask->requestStop();
    mPlayTask->join();

    kestrel::cScopedLock lock(mGraphLock);
    mLoadTask->requestStop();
    mLoadTask->join();
    mRunTask->requestStop();
    mRunTask->join();
    close();
    releaseGraph();
    mPlayTask.reset();
    mLoadTask.reset();
    mRunTask.reset();
    mEventListener.reset();
    delete mPlayList;
    mPlayList = nullptr;
}

long cVideoPlayerImpl::attenuationForVolume(int volume)
{
    if (volume <= 0) {
        return -10000;
    }
    // Each step is rounded to single precision, as the attenuation table
    // was made with it.
    const float quotient = 100.0f / static_cast<float>(volume);
    const float logarithm = std::log(quotient);
    const float product = 1000.0f * logarithm;
    return -static_cast<long>(product);
}

void cVideoPlayerImpl::applyVolume(int volume)
{
    if (!mLoaded) {
        return;
    }
    std::lock_guard<std::mutex> lock(mGraphRefLock);
    if (mGraph == nullptr) {
        return;
    }
    const long attenuation = attenuationForVolume(volume);
    mGraph->setVolume(attenuation);
    mAppliedAttenuation = attenuation;
}

void cVideoPlayerImpl::setVolume(int volume)
{
    if (volume < 0) {
        volume = 0;
    } else if (volume > 100) {
        volume = 100;
    }
    mVolume = volume;
    if (!mMuted) {
        applyVolume(volume);
    }
}

void cVideoPlayerImpl::setMuted(bool muted)
{
    mMuted = muted;
    applyVolume(muted ? 0 : mVolume.load());
}

void cVideoPlayerImpl::abort()
{
    {
        kestrel::cScopedLock lock(mAbortLock);
        mAborted = true;
    }
    // Aborts come from the main loop (the destroyers are made there), so a
    // notification it has not delivered yet finds this already.
    *mLive = false;
    std::lock_guard<std::mutex> lock(mGraphRefLock);
    if (mGraph != nullptr) {
        mGraph->interrupt();
    }
}

void cVideoPlayerImpl::notifyBusy(bool start)
{
    auto wanted = [live = mLive] { return live->load(); };
    if (start) {
        notifyBusyStart(wanted);
    } else {
        notifyBusyEnd(wanted);
    }
}

bool cVideoPlayerImpl::isAborted()
{
    kestrel::cScopedLock lock(mAbortLock);
    return mAborted;
}

void cVideoPlayerImpl::releaseGraph()
{
    kestrel::cScopedLock lock(mGraphLock);
    std::unique_ptr<cMediaGraph> graph;
    {
        std::lock_guard<std::mutex> refLock(mGraphRefLock);
        graph = std::move(mGraph);
    }
    // The graph takes its frame callback away and stops its streams before
    // it goes, so no frame reaches the callback once this returns.
    graph.reset();
}

bool cVideoPlayerImpl::buildBaseGraph()
{
    auto graph = std::make_unique<cMediaGraph>();
    cMediaGraph* raw = graph.get();
    {
        std::lock_guard<std::mutex> refLock(mGraphRefLock);
        mGraph = std::move(graph);
    }
    // A player aborted meanwhile never waits on this graph.
    if (isAborted()) {
        raw->interrupt();
    }
    if (!raw->isValid()) {
        return false;
    }
    raw->setVolume(0);
    mAppliedAttenuation = 0;
    return raw->addSampleGrabber(&mCallback) && raw->addNullRenderer();
}

bool cVideoPlayerImpl::open()
{
    kestrel::cScopedLock lock(mGraphLock);
    releaseGraph();
    if (!buildBaseGraph()) {
        std::string error;
        {
            std::lock_guard<std::mutex> refLock(mGraphRefLock);
            error = mGraph != nullptr ? mGraph->lastError() : std::string();
        }
        return fail("media graph", error.empty() ? "the media framework is not usable" : error,
                    causeAt(sPlayFailure::StepMediaGraph));
    }
    // A previous run of the play task has returned from its work (it held
    // the graph lock until then); reap its thread so that it can start anew.
    mPlayTask->join();
    mPlayTask->clearResult();
    return mPlayTask->start();
}

void cVideoPlayerImpl::close()
{
    kestrel::cScopedLock lock(mGraphLock);
    const bool wasLoaded = mLoaded.exchange(false);
    std::unique_ptr<cMediaGraph> graph;
    {
        // Only the hand-over happens under the reference lock: stopping a
        // pipeline can take long, and the main loop's volume changes and
        // abort take that lock.
        std::lock_guard<std::mutex> refLock(mGraphRefLock);
        graph = std::move(mGraph);
    }
    if (graph != nullptr && wasLoaded) {
        graph->stop();
    }
    // The graph takes its frame callback away and stops its streams before
    // it goes, so no frame reaches the callback once this returns.
    graph.reset();
}

bool cVideoPlayerImpl::waitForTask(kestrel::cStandaloneTask& task)
{
    return kestrel::waitForTask(task, [] { return kestrel::applicationIsTerminating(); });
}

std::string cVideoPlayerImpl::channelText()
{
    return describeChannel(mPlayList->getName(), mPlayList->getCurrentEntry());
}

sPlayFailure cVideoPlayerImpl::causeAt(sPlayFailure::eStep step, sPlayFailure::eKind kind)
{
    sPlayFailure cause;
    cause.step = step;
    cause.kind = kind;
    return cause;
}

bool cVideoPlayerImpl::fail(const std::string& step, const std::string& detail, const sPlayFailure& cause)
{
    // A player being destroyed stops on purpose: that is no failure.
    if (isAborted()) {
        kestrel::logDebug("playback", "channel " + channelText() + ": stopped at " + step);
        return false;
    }
    const std::string failure = step + (detail.empty() ? "" : ": " + detail);
    // A failed reconnection attempt is told by the next attempt's line, or
    // by the line that gives up.
    if (mReconnecting) {
        mLastFailure = failure;
        mLastFailureCause = cause;
        mLastFailureCause.step = sPlayFailure::StepPlaying;
        return false;
    }
    mFailure = failure;
    mFailureCause = cause;
    kestrel::logError("playback", "channel " + channelText() + ": " + failure);
    return false;
}

bool cVideoPlayerImpl::failGraph(cMediaGraph& graph, const std::string& step, sPlayFailure::eStep stage)
{
    // The cause may take a look at the network again: not for a player
    // that is going away.
    const sPlayFailure cause = isAborted() ? causeAt(stage) : graph.failureCause(stage);
    const std::string missing = graph.missingPlugins();
    if (!missing.empty()) {
        return fail("missing decoder", "not installed: " + missing, cause);
    }
    if (graph.timedOut()) {
        return fail("time-out", step + ": " + graph.lastError(), cause);
    }
    const std::string error = graph.lastError();
    return fail(step, error.empty() ? std::string() : error, cause);
}

bool cVideoPlayerImpl::openSequence()
{
    kestrel::cScopedLock lock(mGraphLock);
    cMediaGraph* graph = mGraph.get();
    if (graph == nullptr) {
        return false;
    }
    notifyBusy(true);
    // After its entries an ASX playlist names itself, which no stream
    // reader can open: it is fetched again and played from its first entry.
    if (mPlayList->isAtOwnPlaylist()) {
        try {
            mPlayList->refetch();
        } catch (const kestrel::cException&) {
            return fail("playlist fetch", "the playlist could not be fetched again",
                        causeAt(sPlayFailure::StepPlaylist));
        }
        if (isAborted()) {
            return false;
        }
    }
    kestrel::logDebug("playback", "channel " + channelText() + ": opening");
    // Only network media: an address from a catalogue or a playlist that
    // names a file, a device or a local port is refused before anything
    // opens it, like an entry that cannot be played.
    {
        std::string address;
        std::string reason;
        try {
            address = kestrel::toUtf8(mPlayList->getCurrentEntry());
        } catch (const kestrel::cException&) {
            return fail("address", "the address is not valid text",
                        causeAt(sPlayFailure::StepAddress, sPlayFailure::KindNotAllowed));
        }
        if (!checkStreamAddress(address, reason)) {
            return fail("address", "refused: " + reason,
                        causeAt(sPlayFailure::StepAddress, sPlayFailure::KindNotAllowed));
        }
    }

    if (!graph->addSource()) {
        return failGraph(*graph, "connect", sPlayFailure::StepConnect);
    }
    graph->setRequestHeaders(mPlayList->getRequestHeaders());
    mLoadTask->prepare(graph, mPlayList->getCurrentEntry());
    // A task that cannot start fails the sequence instead of being waited
    // for.
    if (!mLoadTask->start()) {
        return fail("connect", "no thread for the load", causeAt(sPlayFailure::StepConnect));
    }
    if (!waitForTask(*mLoadTask)) {
        return fail("connect", "the application is ending", causeAt(sPlayFailure::StepConnect));
    }
    if (!mLoadTask->result()) {
        return failGraph(*graph, "connect", sPlayFailure::StepConnect);
    }
    if (isAborted()) {
        return false;
    }

    // A stream may lack either part: a webcam or a weather loop plays
    // silently, a radio station plays its sound behind a still card.
    const bool hasVideo = graph->hasStream(cMediaGraph::MediaVideo);
    const bool hasAudio = graph->hasStream(cMediaGraph::MediaAudio);
    kestrel::logDebug("playback", "channel " + channelText() + ": the stream has " +
                                      (hasVideo && hasAudio ? "video and audio"
                                       : hasVideo           ? "video and no audio"
                                       : hasAudio           ? "audio and no video"
                                                            : "neither video nor audio"));
    if (!hasVideo && !hasAudio) {
        return failGraph(*graph, "no video or audio stream", sPlayFailure::StepStreams);
    }
    // A part that nothing installed can decode is not offered at all: the
    // stream fails for the missing decoder rather than playing without it.
    if ((!hasVideo || !hasAudio) && !graph->missingPlugins().empty()) {
        return failGraph(*graph, hasVideo ? "no audio stream" : "no video stream", sPlayFailure::StepStreams);
    }
    if (hasVideo &&
        (!graph->renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSource, cMediaGraph::FilterSampleGrabber) ||
         !graph->renderStream(cMediaGraph::MediaVideo, cMediaGraph::FilterSampleGrabber,
                              cMediaGraph::FilterNullRenderer))) {
        return failGraph(*graph, "no video stream", sPlayFailure::StepStreams);
    }
    if (hasAudio && !graph->renderStream(cMediaGraph::MediaAudio, cMediaGraph::FilterSource,
                                         cMediaGraph::FilterDefaultRenderer)) {
        return failGraph(*graph, "no audio stream", sPlayFailure::StepStreams);
    }

    const uint64_t framesBeforeRun = mCallback.deliveredFrames();
    mRunTask->prepare(graph);
    if (!mRunTask->start()) {
        return fail("start", "no thread for the run", causeAt(sPlayFailure::StepStart));
    }
    if (!waitForTask(*mRunTask)) {
        return fail("start", "the application is ending", causeAt(sPlayFailure::StepStart));
    }
    if (!mRunTask->result()) {
        return failGraph(*graph, "stream error", sPlayFailure::StepStart);
    }

    mLoaded = true;
    setMuted(mMuted);
    setVolume(mVolume);
    mStreamIsLive = graph->isLive();
    mStreamHasVideo = hasVideo;
    mFramesAtRun = framesBeforeRun;

    notifyBusy(false);
    notifyStreamParts(hasVideo, hasAudio, [live = mLive] { return live->load(); });

    if (!hasVideo) {
        // No picture will come: the channel is remembered among the recent
        // ones with the placeholder tile.
        cRecent::instance()->keepWithoutPicture(mCallback.picturePath());
        kestrel::logInfo("playback", "channel " + channelText() + ": playing, sound only");
        return true;
    }
    int width = 0;
    int height = 0;
    if (!graph->getFrameSize(width, height)) {
        return fail("no video stream", "the video has no frame size", causeAt(sPlayFailure::StepStreams));
    }
    if (width > cVideoFrame::MaxFrameSide || height > cVideoFrame::MaxFrameSide) {
        return fail("frame size", std::to_string(width) + "x" + std::to_string(height) + " is larger than " +
                                      std::to_string(cVideoFrame::MaxFrameSide) + "x" +
                                      std::to_string(cVideoFrame::MaxFrameSide),
                    causeAt(sPlayFailure::StepStreams, sPlayFailure::KindUnsupportedFormat));
    }
    mCallback.setFrameSize(width, height);
    kestrel::logInfo("playback", "channel " + channelText() + ": playing, " + std::to_string(width) + "x" +
                                     std::to_string(height) + (hasAudio ? "" : ", no sound"));
    return true;
}

bool cVideoPlayerImpl::loadStep(cMediaGraph* graph, const std::u16string& address)
{
    if (graph == nullptr) {
        return false;
    }
    std::string narrow;
    try {
        narrow = kestrel::toUtf8(address);
    } catch (const kestrel::cException&) {
        return false;
    }
    return graph->load(narrow);
}

bool cVideoPlayerImpl::runStep(cMediaGraph* graph) { return graph != nullptr && graph->run(); }

bool cVideoPlayerImpl::playSequence()
{
    for (;;) {
        if (mReconnecting && !beginReconnectAttempt()) {
            kestrel::cScopedLock lock(mGraphLock);
            mReconnecting = false;
            if (!isAborted()) {
                mFailure = mReconnectPolicy.droppedTooOften(std::chrono::steady_clock::now())
                               ? mLastFailure + "; gave up: the stream dropped more than " +
                                     std::to_string(cReconnectPolicy::MaxDrops) + " times in " +
                                     std::to_string(cReconnectPolicy::DropWindow.count() / 60) + " minutes"
                               : mLastFailure + "; gave up after " +
                                     std::to_string(mReconnectPolicy.attemptsSinceDrop()) +
                                     " reconnection attempt(s)";
                mFailureCause = mLastFailureCause;
                kestrel::logError("playback", "channel " + channelText() + ": " + mFailure);
            }
            return false;
        }
        kestrel::cScopedLock lock(mGraphLock);
        if (openSequence()) {
            mReconnecting = false;
            return true;
        }
        if (!mReconnecting || isAborted()) {
            return false;
        }
        // The next attempt needs a fresh graph, as every open does.
        releaseGraph();
        if (!buildBaseGraph()) {
            mReconnecting = false;
            return fail("media graph", "the media framework is not usable", causeAt(sPlayFailure::StepMediaGraph));
        }
    }
}

bool cVideoPlayerImpl::beginReconnectAttempt()
{
    using namespace std::chrono;
    steady_clock::time_point giveUpAt;
    steady_clock::time_point resumeAt;
    {
        kestrel::cScopedLock lock(mGraphLock);
        if (!mReconnectPolicy.nextAttempt(steady_clock::now(), resumeAt)) {
            return false;
        }
        giveUpAt = mReconnectPolicy.giveUpAt();
    }
    // The pause is taken without the graph lock, in short slices, so that
    // the teardown does not wait for it.
    while (steady_clock::now() < resumeAt) {
        if (isAborted()) {
            return false;
        }
        kestrel::sleepMilliseconds(20);
    }
    if (isAborted()) {
        return false;
    }
    kestrel::cScopedLock lock(mGraphLock);
    mReconnectPolicy.attempting(steady_clock::now());
    kestrel::logInfo("playback", "channel " + channelText() + ": reconnecting, attempt " +
                                     std::to_string(mReconnectPolicy.attemptsSinceDrop()) + " of " +
                                     std::to_string(MaxReconnects) + " (" + mLastFailure + ")");
    std::lock_guard<std::mutex> refLock(mGraphRefLock);
    if (mGraph != nullptr) {
        mGraph->setDeadline(giveUpAt);
    }
    return true;
}

bool cVideoPlayerImpl::hasPlayedSinceOpen()
{
    return !mStreamHasVideo || mCallback.deliveredFrames() > mFramesAtRun;
}

void cVideoPlayerImpl::reconnectAfterDrop(const std::string& why, const sPlayFailure& cause)
{
    close();
    if (isAborted()) {
        return;
    }
    mReconnectPolicy.dropped(std::chrono::steady_clock::now());
    mReconnecting = true;
    mLastFailure = why;
    mLastFailureCause = cause;
    open();
}

void cVideoPlayerImpl::pollEvent()
{
    // Serialised with open and the open sequence, which replace and build
    // the graph whose events are read here.
    kestrel::cScopedLock lock(mGraphLock);
    if (mGraph == nullptr) {
        return;
    }
    std::string streamError;
    if (mGraph->pollEvent(&streamError) == cMediaGraph::EventComplete) {
        // A live stream has no end of its own: its end, like its failure,
        // is a lost connection, which is reopened once it has played.
        if (mLoaded && mStreamIsLive && hasPlayedSinceOpen()) {
            reconnectAfterDrop(streamError.empty() ? std::string("the stream ended") : "stream error: " + streamError,
                               causeAt(sPlayFailure::StepPlaying, streamError.empty() ? sPlayFailure::KindStreamEnded
                                                                                      : sPlayFailure::KindNotOpened));
            return;
        }
        if (!streamError.empty()) {
            kestrel::logWarning("playback", "channel " + channelText() + ": stream error: " + streamError +
                                                "; moving on to the next entry");
        } else {
            kestrel::logDebug("playback", "channel " + channelText() + ": end of stream");
        }
        playNextEntry();
    }
}

void cVideoPlayerImpl::playNextEntry()
{
    close();
    mPlayList->advance();
    // A completion that arrives while the player is being destroyed never
    // starts a new open sequence.
    if (isAborted()) {
        return;
    }
    open();
}

// --- cVideoPlayer ---------------------------------------------------------------

cVideoPlayer::cVideoPlayer(cPlayList* playList) : mImpl(std::make_unique<cVideoPlayerImpl>(playList))
{
    cSettings* settings = cSettings::instance();
    mImpl->setVolume(settings->getInteger(u"volume", 100));
    mImpl->setMuted(settings->getBoolean(u"muted", false));
}

cVideoPlayer::~cVideoPlayer() = default;

bool cVideoPlayer::open() { return mImpl->open(); }
void cVideoPlayer::close() { mImpl->close(); }
void cVideoPlayer::updateVideoPosition() {}
bool cVideoPlayer::isLoaded() { return mImpl->isLoaded(); }

void cVideoPlayer::setMuted(bool muted)
{
    cSettings::instance()->setBoolean(u"muted", muted);
    mImpl->setMuted(muted);
}

bool cVideoPlayer::isMuted() { return mImpl->isMuted(); }

void cVideoPlayer::setVolume(int volume)
{
    mImpl->setVolume(volume);
    cSettings::instance()->setInteger(u"volume", mImpl->getVolume());
}

int cVideoPlayer::getVolume() { return mImpl->getVolume(); }
void cVideoPlayer::setKeepAspect(bool) {}
bool cVideoPlayer::getKeepAspect() { return true; }
void cVideoPlayer::setFullscreen(bool) {}
bool cVideoPlayer::isFullscreen() { return false; }
cPlayList* cVideoPlayer::getPlayList() { return mImpl->getPlayList(); }
void cVideoPlayer::abort() { mImpl->abort(); }
bool cVideoPlayer::isAborted() { return mImpl->isAborted(); }
void cVideoPlayer::setTexture(ClutterTexture* texture) { mImpl->setTexture(texture); }
