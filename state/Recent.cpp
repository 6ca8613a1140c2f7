#include "state/Recent.h"

#include <algorithm>

#include <mutex>
#include <new>

#include "kestrel/Exception.h"
#include "kestrel/File.h"
#include "kestrel/XHScanner.h"
#include "state/Settings.h"
#include "state/UserFile.h"

namespace {

std::mutex gInstanceMutex;
cRecent* gInstance = nullptr; // guarded by gInstanceMutex

std::u16string dataFolderOrEmpty()
{
    try {
        return cSettings::instance()->getDataFolder();
    } catch (const kestrel::cException&) {
        return std::u16string();
    }
}

std::u16string withoutTrailingSlashes(std::u16string path)
{
    while (path.size() > 1 && path.back() == u'/')
        path.pop_back();
    return path;
}

// The prefix given to the platform's temporary-file naming for pictures; it
// keeps the first three characters: "rec", up to four upper-case
// hexadecimal digits, ".tmp".
const std::u16string PicturePrefix = u"recent-";

bool isPictureName(const std::u16string& name)
{
    const std::u16string start = PicturePrefix.substr(0, 3);
    const std::u16string end = u".tmp";
    if (name.size() < start.size() + 1 + end.size() || name.size() > start.size() + 4 + end.size() ||
        name.compare(0, start.size(), start) != 0 || name.compare(name.size() - end.size(), end.size(), end) != 0)
        return false;
    for (size_t i = start.size(); i < name.size() - end.size(); ++i) {
        const char16_t c = name[i];
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

// Picture paths come from recent.xml, which a catalogue name could once
// shape and anyone can edit: the list only ever reads, writes or deletes a
// file of its own making, named by add() directly in the data folder.
bool isPictureFileOf(const std::u16string& path, const std::u16string& folder)
{
    if (folder.empty())
        return false;
    size_t slash = path.rfind(u'/');
    if (slash == std::u16string::npos || !isPictureName(path.substr(slash + 1)))
        return false;
    return withoutTrailingSlashes(path.substr(0, slash + 1)) == withoutTrailingSlashes(folder);
}

bool sameChannel(const RecentEntry& entry, const std::u16string& country, const std::u16string& name,
                 const std::u16string& type)
{
    return entry.country == country && entry.name == name && entry.type == type;
}

} // namespace

cRecent* cRecent::instance()
{
    std::lock_guard<std::mutex> guard(gInstanceMutex);
    if (!gInstance)
        gInstance = new cRecent();
    return gInstance;
}

void cRecent::destroyInstance()
{
    std::lock_guard<std::mutex> guard(gInstanceMutex);
    delete gInstance;
    gInstance = nullptr;
}

cRecent::cRecent() = default;

cRecent::~cRecent()
{
    // A picture still waiting is written before the list goes.
    std::unique_ptr<cRecentPictureWriter> writer;
    {
        std::lock_guard<std::mutex> guard(mWriterLock);
        writer = std::move(mWriter);
    }
    writer.reset();
}

bool cRecent::load(const std::u16string& folder)
{
    {
        kestrel::cScopedLock lock(mLock);
        mEntries.clear();
    }
    std::u16string text;
    switch (userfile::readText(folder + u"/recent.xml", text)) {
    case userfile::ReadMissing:
        return true;
    case userfile::ReadFailed:
        return false;
    case userfile::ReadDone:
        break;
    }

    using kestrel::cXHScanner;
    std::deque<RecentEntry> entries;
    RecentEntry pending;
    kestrel::cXHScannerStringInputStream stream(text);
    cXHScanner scanner(stream);
    for (int token = scanner.getToken(); token != cXHScanner::TokenEnd; token = scanner.getToken()) {
        if (token == cXHScanner::TokenTagStart && userfile::equalsName(scanner.getTagName(), u"item")) {
            pending = RecentEntry();
        } else if (token == cXHScanner::TokenAttribute) {
            const char16_t* attribute = scanner.getAttrName();
            // A path that is not of the list's own making stays in the
            // entry as read (it is written back unchanged) but is never
            // used: the entry shows the placeholder.
            if (userfile::equalsName(attribute, u"name"))
                pending.name = kestrel::decodeAttributeValue(scanner.getValue());
            else if (userfile::equalsName(attribute, u"country"))
                pending.country = kestrel::decodeAttributeValue(scanner.getValue());
            else if (userfile::equalsName(attribute, u"type"))
                pending.type = kestrel::decodeAttributeValue(scanner.getValue());
            else if (userfile::equalsName(attribute, u"filename"))
                pending.picturePath = kestrel::decodeAttributeValue(scanner.getValue());
        } else if (token == cXHScanner::TokenTagEnd && userfile::equalsName(scanner.getTagName(), u"item")) {
            if (!pending.name.empty() && !pending.country.empty() && !pending.type.empty() &&
                !pending.picturePath.empty()) {
                pending.pictureCount = 1;
                entries.push_back(pending);
            }
        }
    }

    kestrel::cScopedLock lock(mLock);
    mEntries = std::move(entries);
    if (mDataFolder.empty())
        mDataFolder = folder;
    return true;
}

bool cRecent::save(const std::u16string& folder)
{
    // A picture still on its way decides whether the front entry is kept.
    flushPictures();
    kestrel::cScopedLock lock(mLock);
    if (mEntries.empty())
        return true;
    if (mEntries.front().pictureCount == 0) {
        // A channel that never produced a picture is not remembered.
        std::u16string path = mEntries.front().picturePath;
        mEntries.pop_front();
        forgetPicture(path, folder);
    }
    std::u16string content = u"<recents>\n";
    for (const RecentEntry& entry : mEntries) {
        // Escaped only where a markup character appears, so ordinary text
        // is written exactly as it always was.
        content += u"<item name=\"" + kestrel::escapeMarkup(entry.name, true) + u"\" country=\"" +
                   kestrel::escapeMarkup(entry.country, true) + u"\" type=\"" +
                   kestrel::escapeMarkup(entry.type, true) + u"\" filename=\"" +
                   kestrel::escapeMarkup(entry.picturePath, true) + u"\"></item>\n";
    }
    content += u"</recents>\n";
    return kestrel::writeFileReplacing(folder + u"/recent.xml", [&content](kestrel::cFile& file) {
        file.writeByte(0xFF);
        file.writeByte(0xFE);
        file.writeText(content);
    });
}

void cRecent::add(const std::u16string& country, const std::u16string& name, const std::u16string& type)
{
    const std::u16string folder = dataFolderOrEmpty();
    kestrel::cScopedLock lock(mLock);
    mDataFolder = folder;
    for (auto it = mEntries.begin(); it != mEntries.end(); ++it) {
        if (sameChannel(*it, country, name, type)) {
            RecentEntry moved = *it;
            moved.pictureCount = 1;
            // An entry read with a path the list did not make gets a
            // picture file of its own now, so that it can show a picture.
            if (!isPictureFileOf(moved.picturePath, folder) && !folder.empty())
                moved.picturePath = kestrel::makeTempFileName(folder, PicturePrefix);
            mEntries.erase(it);
            mEntries.push_front(std::move(moved));
            return;
        }
    }

    RecentEntry fresh;
    fresh.country = country;
    fresh.name = name;
    fresh.type = type;
    // Without a usable folder the path stays empty: pictures then fail to
    // store and the entry is not saved.
    if (!folder.empty())
        fresh.picturePath = kestrel::makeTempFileName(folder, PicturePrefix);

    if (mEntries.empty() || mEntries.front().pictureCount != 0) {
        // A longer list read from an edited file is cut back here as well.
        while (static_cast<int>(mEntries.size()) >= MaxEntries) {
            std::u16string oldest = mEntries.back().picturePath;
            mEntries.pop_back();
            forgetPicture(oldest, folder);
        }
        mEntries.push_front(std::move(fresh));
    } else {
        // The front channel never produced a picture: the new one takes its
        // place instead of pushing it back.
        std::u16string replaced = mEntries.front().picturePath;
        mEntries.front() = std::move(fresh);
        forgetPicture(replaced, folder);
    }
}

int cRecent::entryCount() const
{
    kestrel::cScopedLock lock(mLock);
    return static_cast<int>(mEntries.size());
}

bool cRecent::hasEntry(int index) const
{
    kestrel::cScopedLock lock(mLock);
    return index >= 0 && index < static_cast<int>(mEntries.size());
}

RecentEntry cRecent::entry(int index) const
{
    kestrel::cScopedLock lock(mLock);
    if (index < 0 || index >= static_cast<int>(mEntries.size()))
        return RecentEntry();
    return mEntries[static_cast<size_t>(index)];
}

std::u16string cRecent::entryCountry(int index) const
{
    return entry(index).country;
}

std::u16string cRecent::entryName(int index) const
{
    return entry(index).name;
}

std::u16string cRecent::entryType(int index) const
{
    return entry(index).type;
}

bool cRecent::savePicture(const uint8_t* pixels, int width, int height)
{
    std::u16string path;
    {
        kestrel::cScopedLock lock(mLock);
        if (mEntries.empty())
            return false;
        path = mEntries.front().picturePath;
    }
    return savePictureFor(path, pixels, width, height);
}

namespace {

// Scales 24-bit rows down to fit StoredPictureSide, keeping the shape:
// each stored pixel is the mean of the source pixels it covers. The rows
// keep their order (bottom first) and their byte order.
void scalePicture(const uint8_t* pixels, int& width, int& height, std::vector<uint8_t>& out)
{
    const int side = cRecent::StoredPictureSide;
    const double factor = std::max(static_cast<double>(width) / side, static_cast<double>(height) / side);
    const int outWidth = std::max(1, std::min(side, static_cast<int>(width / factor + 0.5)));
    const int outHeight = std::max(1, std::min(side, static_cast<int>(height / factor + 0.5)));
    out.assign(static_cast<size_t>(outWidth) * 3u * static_cast<size_t>(outHeight), 0);
    for (int y = 0; y < outHeight; ++y) {
        const int top = static_cast<int>(static_cast<int64_t>(y) * height / outHeight);
        const int bottom = std::max(top + 1, static_cast<int>(static_cast<int64_t>(y + 1) * height / outHeight));
        for (int x = 0; x < outWidth; ++x) {
            const int left = static_cast<int>(static_cast<int64_t>(x) * width / outWidth);
            const int right = std::max(left + 1, static_cast<int>(static_cast<int64_t>(x + 1) * width / outWidth));
            uint32_t sums[3] = {0, 0, 0};
            for (int sy = top; sy < bottom; ++sy) {
                const uint8_t* row = pixels + static_cast<size_t>(sy) * static_cast<size_t>(width) * 3u;
                for (int sx = left; sx < right; ++sx) {
                    for (int c = 0; c < 3; ++c) {
                        sums[c] += row[static_cast<size_t>(sx) * 3u + static_cast<size_t>(c)];
                    }
                }
            }
            const uint32_t count = static_cast<uint32_t>((bottom - top) * (right - left));
            uint8_t* target = out.data() + (static_cast<size_t>(y) * static_cast<size_t>(outWidth) + x) * 3u;
            for (int c = 0; c < 3; ++c) {
                target[c] = static_cast<uint8_t>((sums[c] + count / 2) / count);
            }
        }
    }
    width = outWidth;
    height = outHeight;
}

} // namespace

bool cRecent::savePictureFor(const std::u16string& path, const uint8_t* pixels, int width, int height)
{
    if (!pixels || width <= 0 || height <= 0 || width > MaxPictureSide || height > MaxPictureSide)
        return false;
    kestrel::cScopedLock pictureLock(mPictureLock);
    std::u16string folder;
    {
        kestrel::cScopedLock lock(mLock);
        if (!isPathInUse(path))
            return false;
        folder = mDataFolder;
    }
    if (!isPictureFileOf(path, folder))
        return false;

    std::vector<uint8_t> scaled;
    if (width > StoredPictureSide || height > StoredPictureSide) {
        scalePicture(pixels, width, height, scaled);
        pixels = scaled.data();
    }

    // The file is written without holding the list, so that the main loop
    // is not kept waiting while a large picture reaches the disk.
    const uint64_t size = static_cast<uint64_t>(width) * 3u * static_cast<uint64_t>(height);
    bool stored = kestrel::writeFileReplacing(path, [&](kestrel::cFile& file) {
        file.writeInt32(width);
        file.writeInt32(height);
        file.writeExact(pixels, size);
    });

    kestrel::cScopedLock lock(mLock);
    for (RecentEntry& entry : mEntries) {
        if (entry.picturePath == path) {
            if (stored)
                ++entry.pictureCount;
            return stored;
        }
    }
    // The entry left the list while its picture was written: the file it
    // removed has just been put back, so remove it again.
    if (stored)
        kestrel::deleteFile(path);
    return false;
}

bool cRecent::keepWithoutPicture(const std::u16string& path)
{
    if (path.empty())
        return false;
    kestrel::cScopedLock lock(mLock);
    for (RecentEntry& entry : mEntries) {
        if (entry.picturePath == path) {
            if (entry.pictureCount == 0)
                entry.pictureCount = 1;
            return true;
        }
    }
    return false;
}

void cRecent::postPicture(const std::u16string& path, const uint8_t* pixels, int width, int height)
{
    if (!pixels || width <= 0 || height <= 0 || width > MaxPictureSide || height > MaxPictureSide)
        return;
    cRecentPictureWriter* writer = nullptr;
    {
        std::lock_guard<std::mutex> guard(mWriterLock);
        if (!mWriter)
            mWriter = std::make_unique<cRecentPictureWriter>(*this);
        writer = mWriter.get();
    }
    writer->post(path, pixels, width, height);
}

void cRecent::flushPictures()
{
    cRecentPictureWriter* writer = nullptr;
    {
        // Not held while waiting, so that a post never waits for the disk.
        std::lock_guard<std::mutex> guard(mWriterLock);
        writer = mWriter.get();
    }
    if (writer)
        writer->flush();
}

// --- cRecentPictureWriter ------------------------------------------------------

cRecentPictureWriter::cRecentPictureWriter(cRecent& recent) : mRecent(recent) {}

cRecentPictureWriter::~cRecentPictureWriter()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStop = true;
    }
    mChanged.notify_all();
    join();
}

void cRecentPictureWriter::post(const std::u16string& path, const uint8_t* pixels, int width, int height)
{
    const size_t size = static_cast<size_t>(width) * 3u * static_cast<size_t>(height);
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mStop)
            return;
        if (!mStarted) {
            // Without a thread the picture is dropped (it is only a
            // thumbnail); the next one tries again.
            mStarted = start();
            if (!mStarted)
                return;
        }
        if (mPending)
            ++mReplaced;
        // The buffer keeps its capacity from one picture to the next.
        mPixels.assign(pixels, pixels + size);
        mPath = path;
        mWidth = width;
        mHeight = height;
        mPending = true;
    }
    mChanged.notify_all();
}

void cRecentPictureWriter::flush()
{
    std::unique_lock<std::mutex> lock(mLock);
    mChanged.wait(lock, [this] { return !mStarted || (!mPending && !mWriting) || getState() == kestrel::TaskFinished; });
}

uint64_t cRecentPictureWriter::replacedCount()
{
    std::lock_guard<std::mutex> lock(mLock);
    return mReplaced;
}

void cRecentPictureWriter::execute()
{
    std::vector<uint8_t> pixels;
    for (;;) {
        std::u16string path;
        int width = 0;
        int height = 0;
        {
            std::unique_lock<std::mutex> lock(mLock);
            mChanged.wait(lock, [this] { return mPending || mStop; });
            // A picture still waiting at the stop is written first.
            if (!mPending)
                return;
            pixels.swap(mPixels);
            path.swap(mPath);
            width = mWidth;
            height = mHeight;
            mPending = false;
            mWriting = true;
        }
        mRecent.savePictureFor(path, pixels.data(), width, height);
        {
            std::lock_guard<std::mutex> lock(mLock);
            mWriting = false;
        }
        mChanged.notify_all();
    }
}

bool cRecent::loadPicture(int index, uint8_t*& pixels, int& width, int& height)
{
    std::u16string path;
    std::u16string folder;
    {
        kestrel::cScopedLock lock(mLock);
        if (index < 0 || index >= static_cast<int>(mEntries.size()))
            return false;
        path = mEntries[static_cast<size_t>(index)].picturePath;
        folder = mDataFolder;
    }
    kestrel::cFile file;
    if (!isPictureFileOf(path, folder) || !userfile::isPlainFile(path) || !file.open(path, kestrel::ModeRead))
        return false;
    uint64_t fileSize = 0;
    if (!file.getSize(fileSize))
        return false;
    try {
        int32_t fileWidth = 0;
        int32_t fileHeight = 0;
        file.readInt32(fileWidth);
        file.readInt32(fileHeight);
        // Check the header against the file before allocating anything.
        if (fileWidth <= 0 || fileHeight <= 0 || fileWidth > MaxPictureSide || fileHeight > MaxPictureSide)
            return false;
        const uint64_t size = static_cast<uint64_t>(fileWidth) * 3u * static_cast<uint64_t>(fileHeight);
        if (fileSize != 8u + size)
            return false;
        uint8_t* buffer = new (std::nothrow) uint8_t[size];
        if (!buffer)
            return false;
        try {
            file.readExact(buffer, size);
        } catch (const kestrel::cFileIOException&) {
            delete[] buffer;
            return false;
        }
        pixels = buffer;
        width = fileWidth;
        height = fileHeight;
        return true;
    } catch (const kestrel::cFileIOException&) {
        return false;
    }
}

void cRecent::freePicture(uint8_t* pixels)
{
    delete[] pixels;
}

bool cRecent::isPathInUse(const std::u16string& path) const
{
    for (const RecentEntry& entry : mEntries) {
        if (entry.picturePath == path)
            return true;
    }
    return false;
}

void cRecent::forgetPicture(const std::u16string& path, const std::u16string& dataFolder)
{
    if (path.empty() || isPathInUse(path) || !isPictureFileOf(path, dataFolder))
        return;
    kestrel::deleteFile(path);
}
