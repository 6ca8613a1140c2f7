#pragma once
// The bridge between the media graph and the scene graph: receives every
// decoded frame on the streaming thread, copies it bottom row first into a
// one-frame slot (the one copy between the framework's buffer and the
// texture), and has the main loop put it into the player scene's video
// texture, followed by a redraw. The texture keeps 32-bit rows in the
// layout the frames arrive in, so the upload is a plain copy; it has
// storage of its own, outside the toolkit's shared atlas, which later
// frames of the same size overwrite in place. The first frame put into a
// texture is announced as its "size-change" whatever its size (the scene
// turns the bottom-up frames upright there), and every frame as a redraw
// of the texture. When the main loop is slower than the
// stream, a newer frame replaces the one still waiting, so the picture
// stays current and memory stays flat. Every 125th frame also becomes the
// picture of the channel that was at the front of the recent list when the
// callback was made (the play-channel procedure adds the channel just
// before it creates the player); the recent list's picture writer stores
// it on a thread of its own, in its 24-bit file layout (blue, green, red,
// bottom row first, rows of width × 3 bytes).

#include "playback/MediaGraph.h"

#include "app/Toolkit.h"
#include "kestrel/Tasks.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct cFrameSlot;

// Counters of the frame path, process-wide, for the benchmark and tests.
struct cFrameStats {
    uint64_t delivered = 0;   // frames that reached the callback with a known size
    uint64_t uploaded = 0;    // frames put into a texture
    uint64_t waiting = 0;     // frames handed to the main loop and not uploaded yet
    uint64_t maxWaiting = 0;  // the largest value of waiting so far
    uint64_t replaced = 0;    // frames a newer frame replaced before the main loop took them
    int64_t firstUploadUs = 0; // steady-clock time of the first upload since reset, µs; 0 before
    int64_t lastUploadUs = 0;  // the same for the latest upload
    double firstUploadPts = -1; // the stream time of the first and latest uploaded frames, seconds
    double lastUploadPts = -1;
    int64_t storages = 0;     // texture storages of video frames alive now (a size change replaces one)
};
cFrameStats frameStats();
void resetFrameStats();

class cSampleGrabberCB : public cMediaGraph::cFrameCallback {
public:
    // Every this many queued frames one is stored as the recent picture.
    static constexpr int PictureInterval = 125;

    cSampleGrabberCB();
    // The texture reference goes on the main loop, where the toolkit's
    // objects live, after a frame still waiting there has been uploaded.
    virtual ~cSampleGrabberCB();
    cSampleGrabberCB(const cSampleGrabberCB&) = delete;
    cSampleGrabberCB& operator=(const cSampleGrabberCB&) = delete;

    // The frame path; streaming thread.
    void sampleCB(double sampleTime, const cVideoFrame& frame) override;

    // Main loop, before the player opens: the texture to fill; a reference
    // is taken on it.
    void setTexture(ClutterTexture* texture);
    // Play task, once the graph runs.
    void setFrameSize(int width, int height);
    void getFrameSize(int& width, int& height);
    int frameCounter();
    // Frames that reached the callback whole since it was made; any thread.
    uint64_t deliveredFrames() const { return mDelivered.load(); }
    // The picture file of the recent entry this callback stores pictures
    // for (the front entry when it was made).
    const std::u16string& picturePath() const { return mPicturePath; }

private:
    const std::u16string mPicturePath; // set at construction
    kestrel::cCriticalSection mLock;
    ClutterTexture* mTexture = nullptr; // guarded by mLock; whether a texture was set (the slot holds the reference)
    int mFrameWidth = 0;                // guarded by mLock
    int mFrameHeight = 0;               // guarded by mLock
    int mFrameCounter = 0;              // streaming thread; guarded by mLock for readers
    std::atomic<uint64_t> mDelivered{0}; // written by the streaming thread, read by any
    std::shared_ptr<cFrameSlot> mSlot;  // shared with the scheduled upload; see cFrameSlot
    std::vector<uint8_t> mPicture;      // streaming thread only; the 24-bit picture being posted
};
