#pragma once
// The media layer: one small object per media graph, built on GStreamer.
// It offers the few operations the video player needs, each with a plain
// result: a source that loads an address (blocking: it connects and finds
// the streams), a sample grabber that hands every decoded video frame to a
// callback as 32-bit pixels (blue, green, red, alpha) in the framework's
// own memory, rows counted from the bottom, a null renderer, the default audio renderer, run and stop,
// the connected frame size, a non-blocking completion event and the audio
// attenuation. Every operation may be called from any thread; none of them
// throws.

#include "playback/PlayFailure.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

typedef struct _GstElement GstElement;
typedef struct _GstPad GstPad;
typedef struct _GstBus GstBus;
class cHlsRelay;
typedef struct _GstMessage GstMessage;
typedef struct _GstAppSink GstAppSink;
typedef struct _GstBin GstBin;
typedef struct _GError GError;

// Brings the media framework up; true when it is usable. Idempotent.
bool initializeMedia();
// Brings the media framework up and loads the plugins a stream commonly
// needs (network source, demuxers, decoders, conversion), on a thread of
// its own, so that the first channel does not wait for them: loading the
// decoder library alone takes about 150 ms. Called at start; idempotent.
void warmUpMedia();
// Returns once the warm-up started by warmUpMedia() has loaded its plugins
// (at once when none runs).
void waitForMediaWarmUp();
// Shuts the media framework down, after waiting for the warm-up. Call only
// when no graph exists any more; no graph can be made afterwards.
void shutdownMedia();

// One decoded frame as the sample grabber hands it over: 32-bit pixels in
// the order blue, green, red, alpha (opaque unless the stream has alpha of
// its own; the layout the texture stores, so it is uploaded without
// conversion), read in place from the framework's
// buffer. Rows lie `stride` bytes apart in memory, top row first there; the
// frame path counts them from the bottom (row(0) is the bottom row), as the
// video texture holds them.
struct cVideoFrame {
    static constexpr int BytesPerPixel = 4;
    // Largest frame side the graph hands on: a stream that sends a larger
    // frame fails with the reason instead of making the player allocate
    // and texture it.
    static constexpr int MaxFrameSide = 4096;

    const uint8_t* data = nullptr; // the top row; valid only during the call
    size_t length = 0;             // bytes readable from data
    size_t stride = 0;             // bytes from one row to the next in memory
    int width = 0;
    int height = 0;

    size_t rowBytes() const { return static_cast<size_t>(width) * BytesPerPixel; }
    // Every row lies within the readable bytes.
    bool isWhole() const
    {
        return data != nullptr && width > 0 && height > 0 && stride >= rowBytes() &&
               static_cast<size_t>(height - 1) * stride + rowBytes() <= length;
    }
    // Row `fromBottom` counted from the bottom row (0).
    const uint8_t* row(int fromBottom) const { return data + static_cast<size_t>(height - 1 - fromBottom) * stride; }
};

class cMediaGraph {
public:
    // Receives each decoded frame on the streaming thread.
    class cFrameCallback {
    public:
        // The frame is valid only during the call. sampleTime in seconds,
        // -1 if unknown.
        virtual void sampleCB(double sampleTime, const cVideoFrame& frame) = 0;

    protected:
        ~cFrameCallback() = default;
    };

    enum eMediaType { MediaVideo, MediaAudio };
    enum eFilter { FilterSource, FilterSampleGrabber, FilterNullRenderer, FilterDefaultRenderer };
    enum eEvent { EventNone, EventComplete };

    // A fresh, empty graph; isValid() says whether it could be made.
    cMediaGraph();
    // Releases the graph: no frame callback runs once this has begun to
    // stop the streams, and none is running when it returns.
    ~cMediaGraph();
    cMediaGraph(const cMediaGraph&) = delete;
    cMediaGraph& operator=(const cMediaGraph&) = delete;

    bool isValid() const { return mPipeline != nullptr; }

    // Audio attenuation in hundredths of a decibel: 0 full, -10000 silence.
    // Kept and applied to the audio chain whenever it exists.
    void setVolume(long attenuation);
    // The linear gain that an attenuation gives.
    static double volumeForAttenuation(long attenuation);

    // A sink that accepts only 32-bit blue-green-red-alpha video and calls back
    // for every frame.
    bool addSampleGrabber(cFrameCallback* callback);
    // A sink that discards.
    bool addNullRenderer();
    // A network-capable source; load() gives it its address.
    bool addSource();
    // Request headers (name and value pairs) for every HTTP request the
    // source and what follows it make: the first, its redirections, and
    // for HLS the playlists, segments and keys (which the framework's HLS
    // reader sends with the User-Agent and Referer it learns from the
    // first request). Set before load(); none by default, and then the
    // requests are exactly the framework's own.
    void setRequestHeaders(const std::vector<std::pair<std::string, std::string>>& headers);
    // Connects to the address and finds its streams. Blocks until they are
    // known, the address fails, the network stays silent past the time-out
    // or interrupt() is called.
    bool load(const std::string& address);
    // True when the loaded source offers a stream of that type that has not
    // been rendered yet. A channel may have no sound (a webcam) or no
    // picture (a radio station).
    bool hasStream(eMediaType type);
    // Builds the decoding chain for one stream type from `from` to `to`.
    // False when the source has no (more) stream of that type, or the pair
    // makes no sense.
    bool renderStream(eMediaType type, eFilter from, eFilter to);
    // Starts the graph and waits until it runs (or fails, or times out, or
    // is interrupted).
    bool run();
    void stop();
    // The size of the frames the grabber receives; false before the video
    // chain has agreed on a format.
    bool getFrameSize(int& width, int& height);
    // True when the running stream has no end: a live source (RTSP), or
    // one whose duration the framework cannot tell (an HLS live playlist,
    // an HTTP body without end). Call once the graph runs.
    bool isLive();
    // A blocking load() or run() gives up at this moment at the latest,
    // however much progress it makes (a time-out, like the silence one).
    void setDeadline(std::chrono::steady_clock::time_point deadline);
    // Returns at once: EventComplete when a stream has ended, or failed after
    // the graph started running (taken once); EventNone otherwise. For a
    // failure, streamError (when given) receives the framework's message;
    // it is emptied for a plain end.
    eEvent pollEvent(std::string* streamError = nullptr);
    // Makes a blocking load() or run() return false now, and every later one
    // at once. Safe from any thread, also while another thread is blocked.
    void interrupt();
    bool isInterrupted();

    // The last failure the framework reported, for diagnostics.
    std::string lastError();
    // What the framework reported missing (decoders for the streams, or
    // elements the graph needs), comma-separated; empty when nothing.
    std::string missingPlugins();
    // True when a load or run gave up for lack of progress.
    bool timedOut();
    // Why the last load or run failed, as the viewer is told it, at the
    // given step. Read from the framework's error (its domain, code, HTTP
    // status and debug text) and its missing-plugin messages; when a
    // network source said no more than that its stream stopped, the address
    // is asked once more to learn what the network answers, which blocks
    // for up to the network time-out (never call it on the main loop).
    sPlayFailure failureCause(sPlayFailure::eStep step);

    // How long a blocking load or run may go without progress before it
    // gives up (seconds). Shared by all graphs.
    static void setNetworkTimeout(unsigned seconds);
    static unsigned networkTimeout();

private:
    struct cSourcePad {
        GstPad* pad = nullptr;
        int type = -1; // an eMediaType, or -1 for any other kind of stream
        unsigned long blockProbe = 0;
        unsigned long dropProbe = 0;
        bool rendered = false;
    };

    static int onBusMessage(GstBus* bus, GstMessage* message, void* self);
    static void onPadAdded(GstElement* element, GstPad* pad, void* self);
    static void onNoMorePads(GstElement* element, void* self);
    static void onSourceSetup(GstElement* element, GstElement* source, void* self);
    static void onElementAdded(GstBin* bin, GstBin* subBin, GstElement* element, void* self);
    static int onAutoplugSelect(GstElement* bin, GstPad* pad, void* caps, void* factory, void* self);
    static void onDeepElementAdded(GstBin* bin, GstBin* parent, GstElement* element, void* self);
    static void onExtraHeadersChanged(GstElement* source, void* property, void* self);
    // Puts the request headers on an HTTP source element; false when it has
    // no place for them.
    bool applyRequestHeaders(GstElement* source);
    static int onNewSample(GstAppSink* sink, void* self);
    int deliverSample(GstAppSink* sink);
    bool linkChain(GstPad* pad, const std::vector<GstElement*>& chain);
    bool waitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done);
    // Reads the cause of the first error of a failure (under mLock).
    void noteCause(const GError* error, const std::string& debug, int httpStatus, bool fromSource);
    // gst_element_factory_make, noting a missing element.
    GstElement* makeElement(const char* factory);

    // Set in the constructor, released by the destructor.
    GstElement* mPipeline = nullptr;

    std::mutex mLock;
    std::condition_variable mChanged;
    GstElement* mSource = nullptr;        // guarded by mLock
    GstElement* mGrabber = nullptr;       // guarded by mLock
    GstElement* mVolume = nullptr;        // guarded by mLock
    bool mHasNullRenderer = false;        // guarded by mLock
    bool mGrabberConnected = false;       // guarded by mLock
    std::vector<cSourcePad> mPads;        // guarded by mLock
    bool mNoMorePads = false;             // guarded by mLock
    bool mFailed = false;                 // guarded by mLock
    bool mRunning = false;                // guarded by mLock
    bool mCompletionPending = false;      // guarded by mLock
    bool mInterrupted = false;            // guarded by mLock
    int mPipelineState = 0;               // guarded by mLock (a GstState)
    long mAttenuation = 0;                // guarded by mLock
    std::string mLastError;               // guarded by mLock
    std::string mStreamError;             // guarded by mLock; the error behind a pending completion
    std::vector<std::string> mMissingPlugins; // guarded by mLock
    std::vector<std::pair<std::string, std::string>> mRequestHeaders; // guarded by mLock
    // The relay of an HLS channel with headers, made by load(); guarded by
    // mLock, destroyed with the graph.
    std::unique_ptr<cHlsRelay> mRelay;
    bool mTimedOut = false;               // guarded by mLock
    int mCause = sPlayFailure::KindNotOpened; // guarded by mLock; an sPlayFailure::eKind
    int mCauseStatus = 0;                 // guarded by mLock
    bool mCauseNeedsProbe = false;        // guarded by mLock
    bool mSourceRefused = false;          // guarded by mLock; a source that broke the address rule
    std::string mAddress;                 // guarded by mLock; what load() opened
    std::chrono::steady_clock::time_point mLoadStarted; // guarded by mLock
    std::chrono::steady_clock::time_point mLastProgress; // guarded by mLock
    std::chrono::steady_clock::time_point mDeadline = std::chrono::steady_clock::time_point::max(); // guarded by mLock
    bool mLiveSource = false;             // guarded by mLock; the source sends nothing until the graph plays

    // The frame callback, and the lock held while it runs, so that the
    // destructor can take it away and know that no call is in progress.
    std::mutex mCallbackLock;
    cFrameCallback* mCallback = nullptr;  // guarded by mCallbackLock
};
