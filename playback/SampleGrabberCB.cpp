#include "playback/SampleGrabberCB.h"

#include "app/MainLoop.h"
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

void noteUpload(double sampleTime)
{
    std::lock_guard<std::mutex> lock(gStatsLock);
    ++gStats.uploaded;
    --gStats.waiting;
    gStats.lastUploadUs = nowUs();
    gStats.lastUploadPts = sampleTime;
    if (gStats.firstUploadUs == 0) {
        gStats.firstUploadUs = gStats.lastUploadUs;
        gStats.firstUploadPts = sampleTime;
    }
}

} // namespace

// The hand-off between the streaming thread and the main loop: one frame
// waiting for upload at most. Only the newest frame matters: a newer one
// replaces a frame the main loop has not taken yet, so memory stays flat
// however slow the main loop is. Shared by the frame callback and the
// upload it schedules, so a frame still waiting when the player goes is
// uploaded normally.
struct cFrameSlot {
    ~cFrameSlot()
    {
        if (texture != nullptr) {
            g_object_unref(texture);
        }
    }

    std::mutex lock;
    ClutterTexture* texture = nullptr; // guarded by lock; one reference of its own
    std::vector<uint8_t> pending;      // guarded by lock; the frame waiting for upload
    std::vector<uint8_t> spare;        // guarded by lock; a buffer to reuse for the next copy
    int width = 0;                     // guarded by lock; the pending frame's size
    int height = 0;                    // guarded by lock
    double sampleTime = -1;            // guarded by lock
    bool hasFrame = false;             // guarded by lock
    bool uploadScheduled = false;      // guarded by lock
};

namespace {

void uploadFrame(cFrameSlot& slot)
{
    std::vector<uint8_t> pixels;
    ClutterTexture* texture = nullptr;
    int width = 0;
    int height = 0;
    double sampleTime = -1;
    {
        std::lock_guard<std::mutex> lock(slot.lock);
        slot.uploadScheduled = false;
        if (!slot.hasFrame || slot.texture == nullptr) {
            return;
        }
        pixels.swap(slot.pending);
        slot.hasFrame = false;
        texture = CLUTTER_TEXTURE(g_object_ref(slot.texture));
        width = slot.width;
        height = slot.height;
        sampleTime = slot.sampleTime;
    }
    clutter_texture_set_from_rgb_data(texture, pixels.data(), FALSE, width, height, width * 3, 3,
                                      CLUTTER_TEXTURE_RGB_FLAG_BGR, nullptr);
    g_object_unref(texture);
    {
        // The buffer goes back for the next copy instead of being freed.
        std::lock_guard<std::mutex> lock(slot.lock);
        if (pixels.capacity() > slot.spare.capacity()) {
            slot.spare.swap(pixels);
        }
    }
    noteUpload(sampleTime);
    redrawStage();
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

cSampleGrabberCB::cSampleGrabberCB()
    : mPicturePath(cRecent::instance()->entry(0).picturePath), mSlot(std::make_shared<cFrameSlot>())
{
}

cSampleGrabberCB::~cSampleGrabberCB()
{
    // The slot holds a texture reference: let it go on the main loop, where
    // the toolkit's objects live (the posted work holds the last reference).
    postToMainLoop(PriorityFrameUpload, [slot = mSlot] {});
}

void cSampleGrabberCB::setTexture(ClutterTexture* texture)
{
    if (texture != nullptr) {
        g_object_ref(texture);
    }
    ClutterTexture* previous = nullptr;
    {
        kestrel::cScopedLock lock(mLock);
        mTexture = texture;
    }
    {
        std::lock_guard<std::mutex> lock(mSlot->lock);
        previous = mSlot->texture;
        mSlot->texture = texture;
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

void cSampleGrabberCB::sampleCB(double sampleTime, const uint8_t* data, size_t length, int sampleWidth,
                                int sampleHeight)
{
    int width = 0;
    int height = 0;
    bool hasTexture = false;
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
        hasTexture = mTexture != nullptr;
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
    if (hasTexture) {
        std::vector<uint8_t> buffer;
        {
            std::lock_guard<std::mutex> lock(mSlot->lock);
            buffer.swap(mSlot->spare);
        }
        buffer.assign(data, data + size);
        bool schedule = false;
        bool replaced = false;
        {
            std::lock_guard<std::mutex> lock(mSlot->lock);
            replaced = mSlot->hasFrame;
            mSlot->pending.swap(buffer);
            mSlot->width = width;
            mSlot->height = height;
            mSlot->sampleTime = sampleTime;
            mSlot->hasFrame = true;
            schedule = !mSlot->uploadScheduled;
            mSlot->uploadScheduled = true;
            // A replaced frame's buffer is kept for the next copy.
            if (buffer.capacity() > mSlot->spare.capacity()) {
                mSlot->spare.swap(buffer);
            }
        }
        {
            std::lock_guard<std::mutex> lock(gStatsLock);
            if (replaced) {
                ++gStats.replaced;
            } else {
                ++gStats.waiting;
                if (gStats.waiting > gStats.maxWaiting) {
                    gStats.maxWaiting = gStats.waiting;
                }
            }
        }
        if (schedule) {
            postToMainLoop(PriorityFrameUpload, [slot = mSlot] { uploadFrame(*slot); });
        }
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
        // Only a copy is made here: the picture writer's thread takes it to
        // the disk, so a slow disk never holds up decoding. A failure is
        // handled by the recent list and does not concern the frame path.
        cRecent::instance()->postPicture(mPicturePath, data, width, height);
    }
}
