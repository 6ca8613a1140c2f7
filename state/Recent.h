#pragma once
// The channels the user watched last, most recent first, each with one
// picture captured from its stream in a file of its own in the data folder.
// Read from recent.xml at start-up, written back at shutdown. Every
// operation may be called from any thread: the frame capture posts pictures
// from the streaming thread, the picture writer stores them on its own
// thread, while the main loop adds and reads entries.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kestrel/Tasks.h"

struct RecentEntry {
    std::u16string country;
    std::u16string name;
    std::u16string type;
    std::u16string picturePath; // full path of the picture file
    int pictureCount = 0;       // 0 until a picture was stored for the entry
};

class cRecent;

// Stores pictures for the recent list on a thread of its own, so that the
// streaming thread that captures them never waits for the disk. The hand-off
// is bounded: one picture waits at most, and a newer one replaces it (only
// the newest matters). Made by cRecent on the first postPicture().
class cRecentPictureWriter : public kestrel::cStandaloneTask {
public:
    explicit cRecentPictureWriter(cRecent& recent);
    // Writes a picture still waiting, then ends the thread.
    ~cRecentPictureWriter() override;

    // Any thread: copies the picture into the slot and returns.
    void post(const std::u16string& picturePath, const uint8_t* pixels, int width, int height);
    // Waits until no picture is waiting or being written.
    void flush();
    // Pictures that a newer one replaced before they were written.
    uint64_t replacedCount();

protected:
    void execute() override;

private:
    cRecent& mRecent; // outlives the writer

    std::mutex mLock;
    std::condition_variable mChanged;
    bool mStarted = false;        // guarded by mLock
    bool mStop = false;           // guarded by mLock
    bool mPending = false;        // guarded by mLock; the slot holds a picture
    bool mWriting = false;        // guarded by mLock; the thread is writing one
    std::u16string mPath;         // guarded by mLock
    std::vector<uint8_t> mPixels; // guarded by mLock
    int mWidth = 0;               // guarded by mLock
    int mHeight = 0;              // guarded by mLock
    uint64_t mReplaced = 0;       // guarded by mLock
};

class cRecent {
public:
    // The list holds at most this many entries after an add.
    static constexpr int MaxEntries = 10;
    // Pictures wider or taller than this are neither stored nor read (a
    // file that claims more is not a picture of ours: nothing that large is
    // allocated for it).
    static constexpr int MaxPictureSide = 8192;
    // A larger picture is stored scaled down to fit within this square,
    // keeping its shape: the carousel shows it at 256 x 256, and a frame of
    // a large stream would otherwise cost megabytes at every save.
    static constexpr int StoredPictureSide = 512;

    // Creates the (empty) list on the first call, then returns the same one.
    static cRecent* instance();
    // Deletes the list if it exists; picture files are not touched.
    static void destroyInstance();

    virtual ~cRecent();
    cRecent(const cRecent&) = delete;
    cRecent& operator=(const cRecent&) = delete;

    // Replaces the list with the items of folder + "/recent.xml". A missing
    // file gives an empty list and true; an unreadable one an empty list and
    // false. A picture path that the list did not make itself (a file named
    // by add() directly in the data folder) is kept in its entry and written
    // back, but never read, written or deleted.
    bool load(const std::u16string& folder);
    // Writes folder + "/recent.xml", dropping first a front entry that never
    // got a picture. An empty list writes nothing. The previous file is
    // replaced only once the new one is complete. Markup characters in the
    // texts are written as entity references; a line without any is
    // written exactly as the format has always been.
    bool save(const std::u16string& folder);

    // Puts the channel at the front: a known channel moves there with its
    // picture; a new one gets a fresh picture file in the settings' data
    // folder and takes the place of a front entry that never got a picture.
    // A full list loses its oldest entry. A known channel whose picture
    // path is not of the list's making gets a fresh picture file.
    void add(const std::u16string& country, const std::u16string& name, const std::u16string& type);

    int entryCount() const;
    bool hasEntry(int index) const;
    // Empty texts for an index that hasEntry() rejects.
    std::u16string entryCountry(int index) const;
    std::u16string entryName(int index) const;
    std::u16string entryType(int index) const;
    // A copy of the entry; an empty entry for a bad index.
    RecentEntry entry(int index) const;

    // Stores the picture for the front entry: width and height (each
    // 1..MaxPictureSide) and width * 3 * height bytes of pixels, scaled to
    // fit StoredPictureSide when larger. False, with
    // the previous picture kept, when there is no entry or it cannot be
    // written. Only a picture file of the list's own making is ever
    // written, whatever recent.xml names.
    bool savePicture(const uint8_t* pixels, int width, int height);
    // The same for the entry whose picture file is picturePath, wherever it
    // stands in the list; false when no entry has it any more.
    bool savePictureFor(const std::u16string& picturePath, const uint8_t* pixels, int width, int height);
    // The entry whose picture file is picturePath is remembered although no
    // picture will come for it (a stream without video): it counts as
    // having one, so it stays in the list and in recent.xml, while its
    // picture file stays as it is (empty for a new entry, so the home
    // scene shows the placeholder). False when no entry has that file.
    bool keepWithoutPicture(const std::u16string& picturePath);
    // savePictureFor() later, on the picture writer's thread: copies the
    // picture and returns at once. For the streaming thread.
    void postPicture(const std::u16string& picturePath, const uint8_t* pixels, int width, int height);
    // Waits until every posted picture has been written (or replaced).
    void flushPictures();
    // Reads the entry's picture; on success the caller owns pixels and hands
    // them back through freePicture(). Fails for a file whose size does not
    // match its width and height.
    bool loadPicture(int index, uint8_t*& pixels, int& width, int& height);
    static void freePicture(uint8_t* pixels);

private:
    cRecent();

    // Deletes the picture file of an entry that has left the list, unless
    // another entry still uses it or it lies outside the data folder.
    // Called with mLock held.
    void forgetPicture(const std::u16string& path, const std::u16string& dataFolder);
    bool isPathInUse(const std::u16string& path) const;

    // Taken before mLock, never after it: one picture write at a time, so
    // that two writers never share the file that replaces a picture.
    kestrel::cCriticalSection mPictureLock;
    mutable kestrel::cCriticalSection mLock;
    std::deque<RecentEntry> mEntries; // guarded by mLock
    // The settings' data folder as add() last found it, so that the capture
    // thread never has to reach the settings store.
    std::u16string mDataFolder; // guarded by mLock

    // Taken alone, never with the other two.
    std::mutex mWriterLock;
    std::unique_ptr<cRecentPictureWriter> mWriter; // guarded by mWriterLock; made on the first post
};
