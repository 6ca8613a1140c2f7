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
    std::vector<uint8_t> pending;      // guarded by lock; the frame waiting for upload, 32-bit rows bottom first
    std::vector<uint8_t> spare;        // guarded by lock; a buffer to reuse for the next copy
    int width = 0;                     // guarded by lock; the pending frame's size
    int height = 0;                    // guarded by lock
    double sampleTime = -1;            // guarded by lock
    bool hasFrame = false;             // guarded by lock
    bool uploadScheduled = false;      // guarded by lock
};

namespace {

// Marks the toolkit textures that the frame path made for the video, so
// that a later frame of the same size is written into the same storage.
CoglUserDataKey gVideoStorageKey;

// The storage of a video texture is freed when the texture lets it go: when
// a frame of another size replaces it, or with the texture itself.
void storageFreed(void*)
{
    std::lock_guard<std::mutex> lock(gStatsLock);
    --gStats.storages;
}

// The pixel layout of the slot's rows and of the texture's storage, the
// same so that the upload is a plain copy (storage without alpha would make
// the OpenGL driver repack every pixel). Video frames are opaque, so
// premultiplied alpha is the frame itself.
constexpr CoglPixelFormat FrameFormat = COGL_PIXEL_FORMAT_BGRA_8888_PRE;
constexpr CoglPixelFormat StorageFormat = COGL_PIXEL_FORMAT_BGRA_8888_PRE;

void putIntoTexture(ClutterTexture* texture, const uint8_t* pixels, int width, int height)
{
    // A texture whose actor the scene has destroyed has let its material go
    // and shows nothing any more.
    if (clutter_texture_get_cogl_material(texture) == COGL_INVALID_HANDLE) {
        return;
    }
    const int rowstride = width * cVideoFrame::BytesPerPixel;
    CoglHandle current = clutter_texture_get_cogl_texture(texture);
    if (current != COGL_INVALID_HANDLE && cogl_object_get_user_data(COGL_OBJECT(current), &gVideoStorageKey) &&
        static_cast<int>(cogl_texture_get_width(current)) == width &&
        static_cast<int>(cogl_texture_get_height(current)) == height) {
        cogl_texture_set_region(current, 0, 0, 0, 0, width, height, width, height, FrameFormat, rowstride, pixels);
        // The toolkit does not see a change made to the storage itself.
        clutter_actor_queue_redraw(CLUTTER_ACTOR(texture));
        return;
    }
    // The first frame, or one of a new size: fresh storage of the frame's
    // size. Kept out of the shared atlas, whose space is not given back when
    // the texture goes; the toolkit emits "size-change" when the size differs
    // from the texture's previous contents.
    gint previousWidth = 0;
    gint previousHeight = 0;
    clutter_texture_get_base_size(texture, &previousWidth, &previousHeight);
    CoglHandle storage = cogl_texture_new_from_data(width, height, COGL_TEXTURE_NO_ATLAS, FrameFormat, StorageFormat,
                                                    rowstride, pixels);
    if (storage == COGL_INVALID_HANDLE) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(gStatsLock);
        ++gStats.storages;
    }
    cogl_object_set_user_data(COGL_OBJECT(storage), &gVideoStorageKey, &gVideoStorageKey, storageFreed);
    clutter_texture_set_cogl_texture(texture, storage);
    cogl_handle_unref(storage);
    // Frames always arrive bottom row first, so the first one must reach
    // the scene as a size change (which turns the picture upright) even
    // when it happens to have the size of the texture's placeholder.
    if (previousWidth == width && previousHeight == height) {
        g_signal_emit_by_name(texture, "size-change", width, height);
    }
}

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
    putIntoTexture(texture, pixels.data(), width, height);
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

// The frame's rows, bottom row first, packed without gaps: `bytesPerPixel`
// 4 keeps the 32-bit pixels, 3 keeps blue, green and red only (the recent
// picture's file layout).
void copyBottomUp(const cVideoFrame& frame, int bytesPerPixel, std::vector<uint8_t>& out)
{
    const size_t outRow = static_cast<size_t>(frame.width) * bytesPerPixel;
    out.resize(outRow * static_cast<size_t>(frame.height));
    uint8_t* to = out.data();
    for (int y = 0; y < frame.height; ++y, to += outRow) {
        const uint8_t* from = frame.row(y);
        if (bytesPerPixel == cVideoFrame::BytesPerPixel) {
            std::memcpy(to, from, outRow);
        } else {
            for (int x = 0; x < frame.width; ++x) {
                to[x * 3] = from[x * 4];
                to[x * 3 + 1] = from[x * 4 + 1];
                to[x * 3 + 2] = from[x * 4 + 2];
            }
        }
    }
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
    const int64_t storages = gStats.storages;
    gStats = cFrameStats();
    gStats.waiting = waiting;
    gStats.maxWaiting = waiting;
    gStats.storages = storages;
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

void cSampleGrabberCB::sampleCB(double sampleTime, const cVideoFrame& frame)
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
        if (frame.width > 0 && frame.height > 0 && (frame.width != mFrameWidth || frame.height != mFrameHeight)) {
            mFrameWidth = frame.width;
            mFrameHeight = frame.height;
        }
        width = mFrameWidth;
        height = mFrameHeight;
        hasTexture = mTexture != nullptr;
    }
    // Never read past the frame.
    if (!frame.isWhole()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(gStatsLock);
        ++gStats.delivered;
    }
    ++mDelivered;
    if (hasTexture) {
        std::vector<uint8_t> buffer;
        {
            std::lock_guard<std::mutex> lock(mSlot->lock);
            buffer.swap(mSlot->spare);
        }
        copyBottomUp(frame, cVideoFrame::BytesPerPixel, buffer);
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
        copyBottomUp(frame, 3, mPicture);
        cRecent::instance()->postPicture(mPicturePath, mPicture.data(), width, height);
    }
}
