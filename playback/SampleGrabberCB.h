#pragma once
// The bridge between the media graph and the scene graph: receives every
// decoded frame on the streaming thread, copies it, and has the copy put
// into the player scene's video texture on the main loop, followed by an
// immediate redraw. Every 125th frame also becomes the picture of the most
// recently watched channel.

#include "playback/MediaGraph.h"

#include "app/Toolkit.h"
#include "kestrel/Tasks.h"

#include <atomic>
#include <cstdint>

// Counters of the frame path, process-wide, for the benchmark and tests.
struct cFrameStats {
    uint64_t delivered = 0;   // frames that reached the callback with a known size
    uint64_t uploaded = 0;    // frames put into a texture
    uint64_t waiting = 0;     // frames handed to the main loop and not uploaded yet
    uint64_t maxWaiting = 0;  // the largest value of waiting so far
    int64_t firstUploadUs = 0; // steady-clock time of the first upload since reset, µs; 0 before
};
cFrameStats frameStats();
void resetFrameStats();

class cSampleGrabberCB : public cMediaGraph::cFrameCallback {
public:
    // Every this many queued frames one is stored as the recent picture.
    static constexpr int PictureInterval = 125;

    cSampleGrabberCB();
    // Drops the texture reference (on the main loop, where the toolkit's
    // objects live).
    virtual ~cSampleGrabberCB();
    cSampleGrabberCB(const cSampleGrabberCB&) = delete;
    cSampleGrabberCB& operator=(const cSampleGrabberCB&) = delete;

    // The frame path; streaming thread.
    void sampleCB(double sampleTime, const uint8_t* data, size_t length, int width, int height) override;

    // Main loop, before the player opens: the texture to fill; a reference
    // is taken on it.
    void setTexture(ClutterTexture* texture);
    // Play task, once the graph runs.
    void setFrameSize(int width, int height);
    void getFrameSize(int& width, int& height);
    int frameCounter();

private:
    kestrel::cCriticalSection mLock;
    ClutterTexture* mTexture = nullptr; // guarded by mLock (set on the main loop before the graph runs)
    int mFrameWidth = 0;                // guarded by mLock
    int mFrameHeight = 0;               // guarded by mLock
    int mFrameCounter = 0;              // streaming thread; guarded by mLock for readers
};
