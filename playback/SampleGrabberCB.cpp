#include "playback/SampleGrabberCB.h"

#include "app/Stage.h"
#include "state/Recent.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::mutex gStatsLock;
cFrameStats gStats; // guarded by gStatsLock

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One copied frame on its way to the main loop. It owns its pixels and a
// reference on its texture, so it outlives the player that made it.
struct cPendingFrame {
    ClutterTexture* texture = nullptr;
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
};

gboolean uploadFrame(gpointer data)
{
    auto* frame = static_cast<cPendingFrame*>(data);
    clutter_texture_set_from_rgb_data(frame->texture, frame->pixels.data(), FALSE, frame->width, frame->height,
                                      frame->width * 3, 3, CLUTTER_TEXTURE_RGB_FLAG_BGR, nullptr);
    g_object_unref(frame->texture);
    delete frame;
    {
        std::lock_guard<std::mutex> lock(gStatsLock);
        ++gStats.uploaded;
        --gStats.waiting;
        if (gStats.firstUploadUs == 0) {
            gStats.firstUploadUs = nowUs();
        }
    }
    redrawStage();
    return G_SOURCE_REMOVE;
}

gboolean dropTexture(gpointer texture)
{
    g_object_unref(texture);
    return G_SOURCE_REMOVE;
}

} // namespace

cFrameStats frameStats()
{
    std::lock_guard<std::mutex> lock(gStatsLock);
    return gStats;
}

void resetFrameStats()
{
    std::lock_guard<std::mutex> lock(gStatsLock);
    const uint64_t waiting = gStats.waiting;
    gStats = cFrameStats();
    gStats.waiting = waiting;
    gStats.maxWaiting = waiting;
}

cSampleGrabberCB::cSampleGrabberCB() = default;

cSampleGrabberCB::~cSampleGrabberCB()
{
    if (mTexture != nullptr) {
        clutter_threads_add_idle_full(G_PRIORITY_DEFAULT_IDLE, dropTexture, mTexture, nullptr);
    }
}

void cSampleGrabberCB::setTexture(ClutterTexture* texture)
{
    if (texture != nullptr) {
        g_object_ref(texture);
    }
    ClutterTexture* previous = nullptr;
    {
        kestrel::cScopedLock lock(mLock);
        previous = mTexture;
        mTexture = texture;
    }
    if (previous != nullptr) {
        g_object_unref(previous);
    }
}

void cSampleGrabberCB::setFrameSize(int width, int height)
{
    kestrel::cScopedLock lock(mLock);
    mFrameWidth = width;
    mFrameHeight = height;
}

void cSampleGrabberCB::getFrameSize(int& width, int& height)
{
    kestrel::cScopedLock lock(mLock);
    width = mFrameWidth;
    height = mFrameHeight;
}

int cSampleGrabberCB::frameCounter()
{
    kestrel::cScopedLock lock(mLock);
    return mFrameCounter;
}

void cSampleGrabberCB::sampleCB(double, const uint8_t* data, size_t length, int sampleWidth, int sampleHeight)
{
    int width = 0;
    int height = 0;
    ClutterTexture* texture = nullptr;
    {
        kestrel::cScopedLock lock(mLock);
        // Frames before the open sequence has learnt the size are dropped.
        if (mFrameWidth == 0 || mFrameHeight == 0) {
            return;
        }
        // The stream's own size wins over the one stored by an earlier
        // open, so that a frame is never read with the wrong shape.
        if (sampleWidth > 0 && sampleHeight > 0 && (sampleWidth != mFrameWidth || sampleHeight != mFrameHeight)) {
            mFrameWidth = sampleWidth;
            mFrameHeight = sampleHeight;
        }
        width = mFrameWidth;
        height = mFrameHeight;
        texture = mTexture;
    }
    const size_t size = static_cast<size_t>(width) * 3 * static_cast<size_t>(height);
    // Never read past the sample.
    if (size > length || data == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(gStatsLock);
        ++gStats.delivered;
    }
    if (texture != nullptr) {
        auto* frame = new cPendingFrame;
        frame->pixels.assign(data, data + size);
        frame->width = width;
        frame->height = height;
        frame->texture = CLUTTER_TEXTURE(g_object_ref(texture));
        kestrel::sleepMilliseconds(20);
        {
            std::lock_guard<std::mutex> lock(gStatsLock);
            ++gStats.waiting;
            if (gStats.waiting > gStats.maxWaiting) {
                gStats.maxWaiting = gStats.waiting;
            }
        }
        clutter_threads_add_idle_full(G_PRIORITY_DEFAULT_IDLE, uploadFrame, frame, nullptr);
    }
    bool savePicture = false;
    {
        kestrel::cScopedLock lock(mLock);
        if (++mFrameCounter == PictureInterval) {
            mFrameCounter = 0;
            savePicture = true;
        }
    }
    if (savePicture) {
        // A failure is handled by the recent list and does not concern the
        // frame path.
        cRecent::instance()->savePicture(data, width, height);
    }
}
