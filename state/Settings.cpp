#include "state/Settings.h"

#include <mutex>
#include <utility>
#include <vector>

#include "kestrel/File.h"
#include "kestrel/System.h"
#include "kestrel/XHScanner.h"
#include "state/UserFile.h"

namespace {

std::mutex gInstanceMutex;
cSettings* gInstance = nullptr; // guarded by gInstanceMutex

} // namespace

cSettings* cSettings::instance()
{
    std::lock_guard<std::mutex> guard(gInstanceMutex);
    if (!gInstance)
        gInstance = new cSettings();
    return gInstance;
}

void cSettings::destroyInstance()
{
    std::lock_guard<std::mutex> guard(gInstanceMutex);
    delete gInstance;
    gInstance = nullptr;
}

cSettings::cSettings()
{
    reset();
}

cSettings::~cSettings() = default;

void cSettings::reset()
{
    kestrel::cScopedLock lock(mLock);
    mEntries.clear();
    mLoadedKeys.clear();
    setString(u"language", u"english");
    setString(u"theme", u"black");
    setInteger(u"dbversion", 0);
}

bool cSettings::load(const std::u16string& path)
{
    std::u16string text;
    if (userfile::readText(path, text) != userfile::ReadDone) {
        reset();
        return false;
    }
    std::vector<std::pair<std::u16string, std::u16string>> items;
    userfile::scanNamedItems(text, [&items](const std::u16string& key, const std::u16string& value) {
        items.emplace_back(key, value);
    });
    kestrel::cScopedLock lock(mLock);
    mLoadedKeys.clear();
    for (auto& item : items) {
        mLoadedKeys.insert(item.first);
        mEntries[std::move(item.first)] = std::move(item.second);
    }
    return true;
}

bool cSettings::loadedFromFile(const std::u16string& key) const
{
    kestrel::cScopedLock lock(mLock);
    return mLoadedKeys.count(key) != 0;
}

bool cSettings::save(const std::u16string& path)
{
    // Values are escaped: list addresses carry "&" in their queries. A
    // number, a truth value or a word goes out exactly as stored.
    std::u16string content = u"<settings>\n";
    {
        kestrel::cScopedLock lock(mLock);
        for (const auto& [key, value] : mEntries)
            content += u"<item name=\"" + key + u"\">" + kestrel::escapeMarkup(value, false) + u"</item>\n";
    }
    content += u"</settings>\n";
    return kestrel::writeFileReplacing(path, [&content](kestrel::cFile& file) {
        file.writeByte(0xFF);
        file.writeByte(0xFE);
        file.writeText(content);
    });
}

void cSettings::setString(const std::u16string& key, const std::u16string& value)
{
    kestrel::cScopedLock lock(mLock);
    mEntries[key] = value;
}

std::u16string cSettings::getString(const std::u16string& key, const std::u16string& defaultValue) const
{
    kestrel::cScopedLock lock(mLock);
    auto found = mEntries.find(key);
    return found == mEntries.end() ? defaultValue : found->second;
}

void cSettings::setInteger64(const std::u16string& key, int64_t value)
{
    setString(key, userfile::widen(std::to_string(value)));
}

void cSettings::setInteger(const std::u16string& key, int32_t value)
{
    setInteger64(key, value);
}

int64_t cSettings::parseInteger64(const std::u16string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Unsigned arithmetic: an over-long number wraps instead of overflowing.
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value * 10u + static_cast<uint64_t>(text[i] - u'0');
    if (negative)
        value = 0u - value;
    return static_cast<int64_t>(value);
}

int64_t cSettings::getInteger64(const std::u16string& key, int64_t defaultValue) const
{
    kestrel::cScopedLock lock(mLock);
    auto found = mEntries.find(key);
    if (found == mEntries.end() || found->second.empty())
        return defaultValue;
    return parseInteger64(found->second);
}

int32_t cSettings::getInteger(const std::u16string& key, int32_t defaultValue) const
{
    uint64_t value = static_cast<uint64_t>(getInteger64(key, defaultValue));
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

void cSettings::setBoolean(const std::u16string& key, bool value)
{
    setString(key, value ? u"true" : u"false");
}

bool cSettings::getBoolean(const std::u16string& key, bool defaultValue) const
{
    kestrel::cScopedLock lock(mLock);
    auto found = mEntries.find(key);
    if (found == mEntries.end())
        return defaultValue;
    if (found->second == u"true")
        return true;
    if (found->second == u"false")
        return false;
    return defaultValue;
}

std::u16string cSettings::getLanguage() const
{
    return getString(u"language", u"");
}

std::u16string cSettings::getServer() const
{
    return getString(u"server", DefaultServer);
}

void cSettings::setServer(const std::u16string& server)
{
    setString(u"server", server);
}

namespace {
std::u16string numberedKey(const std::u16string& prefix, int number)
{
    const std::string digits = std::to_string(number);
    return prefix + std::u16string(digits.begin(), digits.end());
}
} // namespace

std::vector<std::u16string> cSettings::getNumbered(const std::u16string& prefix, int most) const
{
    std::vector<std::u16string> values;
    kestrel::cScopedLock lock(mLock);
    for (int number = 1; number <= most; ++number) {
        const auto found = mEntries.find(numberedKey(prefix, number));
        if (found == mEntries.end())
            break;
        if (!found->second.empty())
            values.push_back(found->second);
    }
    return values;
}

void cSettings::setNumbered(const std::u16string& prefix, int most, const std::vector<std::u16string>& values)
{
    kestrel::cScopedLock lock(mLock);
    for (int number = 1; number <= most; ++number)
        mEntries.erase(numberedKey(prefix, number));
    int number = 1;
    for (const std::u16string& value : values) {
        if (number > most)
            break;
        mEntries[numberedKey(prefix, number++)] = value;
    }
}

void cSettings::remove(const std::u16string& key)
{
    kestrel::cScopedLock lock(mLock);
    mEntries.erase(key);
}

void cSettings::setDataFolder(const std::u16string& folder)
{
    kestrel::cScopedLock lock(mLock);
    mDataFolder = folder;
}

std::u16string cSettings::getDataFolder()
{
    kestrel::cScopedLock lock(mLock);
    if (mDataFolder.empty())
        mDataFolder = kestrel::cSystem::getSafeUserDataPath() + u"Lumivex/Lumivex2/";
    return mDataFolder;
}
