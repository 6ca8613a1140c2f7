#pragma once
// The channels the user watched last, most recent first, each with one
// picture captured from its stream in a file of its own in the data folder.
// Read from recent.xml at start-up, written back at shutdown. Every
// operation may be called from any thread: the frame capture stores
// pictures on the streaming thread while the main loop adds and reads
// entries.

#include <cstdint>
#include <deque>
#include <string>

#include "kestrel/Tasks.h"

struct RecentEntry {
    std::u16string country;
    std::u16string name;
    std::u16string type;
    std::u16string picturePath; // full path of the picture file
    int pictureCount = 0;       // 0 until a picture was stored for the entry
};

class cRecent {
public:
    // The list holds at most this many entries after an add.
    static constexpr int MaxEntries = 10;
    // Pictures wider or taller than this are neither stored nor read.
    static constexpr int MaxPictureSide = 8192;

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
    // 1..MaxPictureSide) and width * 3 * height bytes of pixels. False, with
    // the previous picture kept, when there is no entry or it cannot be
    // written. Only a picture file of the list's own making is ever
    // written, whatever recent.xml names.
    bool savePicture(const uint8_t* pixels, int width, int height);
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
};
