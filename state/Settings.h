#pragma once
// The program's one store of user settings: a flat table of named text
// values, read from settings.xml at start-up and written back at shutdown.
// Numbers and truth values are kept as text and converted by the typed
// accessors. Every operation may be called from any thread.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kestrel/Tasks.h"

class cSettings {
public:
    // The catalogue server ("host:port") used when settings.xml names none.
    static constexpr const char16_t* DefaultServer = u"127.0.0.1:8391";

    // Creates the store on the first call (with the initial contents), then
    // always returns the same object.
    static cSettings* instance();
    // Destroys the store if it exists; a later instance() makes a fresh one.
    static void destroyInstance();

    virtual ~cSettings();
    cSettings(const cSettings&) = delete;
    cSettings& operator=(const cSettings&) = delete;

    // Empties the table and sets language = "english", theme = "black",
    // dbversion = 0. Afterwards no key counts as loaded from a file.
    void reset();

    // Lays the items of the file over the current contents. False (and the
    // initial contents) when the file cannot be opened or read.
    bool load(const std::u16string& path);
    // Whether the last load read an item of this key from its file, as
    // opposed to the key holding its initial value (a first start has a
    // `language` of "english" that no file chose).
    bool loadedFromFile(const std::u16string& key) const;
    // Writes the whole table; the previous file is replaced only once the
    // new one is complete, so a failed save keeps it and returns false.
    bool save(const std::u16string& path);

    void setString(const std::u16string& key, const std::u16string& value);
    // The stored value (also when empty), or defaultValue when absent.
    std::u16string getString(const std::u16string& key, const std::u16string& defaultValue) const;

    void setInteger64(const std::u16string& key, int64_t value);
    void setInteger(const std::u16string& key, int32_t value);
    // defaultValue when absent or empty; otherwise the decimal value after
    // optional spaces/tabs and one sign, wrapping on overflow, 0 without
    // digits.
    int64_t getInteger64(const std::u16string& key, int64_t defaultValue) const;
    // The low 32 bits of getInteger64.
    int32_t getInteger(const std::u16string& key, int32_t defaultValue) const;

    void setBoolean(const std::u16string& key, bool value);
    // True for exactly "true", false for exactly "false", otherwise (also
    // when absent or empty) defaultValue.
    bool getBoolean(const std::u16string& key, bool defaultValue) const;

    // The `language` entry, empty when absent.
    std::u16string getLanguage() const;
    // The `server` entry, DefaultServer when absent: "host:port" (as
    // always), or a base address "http://..." or "https://..." under which
    // "dbversion.php" and "database" lie. Written only by the command line.
    std::u16string getServer() const;
    void setServer(const std::u16string& server);

    // The user's channel lists: the values of `list1`, `list2`, ... up to
    // the first absent number (at most MaxLists), each a local file path or
    // an http:// or https:// address. Empty when none is stored; while any
    // is, the lists are the catalogue's source instead of the server.
    static constexpr int MaxLists = 64;
    std::vector<std::u16string> getLists() const { return getNumbered(u"list", MaxLists); }
    // Replaces every stored `listN` entry by the given lists, in order.
    void setLists(const std::vector<std::u16string>& lists) { setNumbered(u"list", MaxLists, lists); }

    // The user's own programme guides (XMLTV), besides those the lists
    // name: `guide1`, `guide2`, ... like the lists, each a local file path
    // or an http:// or https:// address. Written only by the command line.
    static constexpr int MaxGuides = 16;
    std::vector<std::u16string> getGuides() const { return getNumbered(u"guide", MaxGuides); }
    void setGuides(const std::vector<std::u16string>& guides) { setNumbered(u"guide", MaxGuides, guides); }

    // Removes the entry; nothing happens when it is absent.
    void remove(const std::u16string& key);

    // Tells the store where the per-user data folder is (ending in '/').
    // The application calls it once at start-up with the folder it made;
    // tests point it at a temporary folder.
    void setDataFolder(const std::u16string& folder);
    // The folder given to setDataFolder; without one, on the first call, the
    // user's local data folder + "Lumivex/Lumivex2/", kept from then on.
    // Does not create any folder. Throws cPlatformException when the user's
    // data folder is unknown.
    std::u16string getDataFolder();

    // The parsing rule of getInteger64, on its own.
    static int64_t parseInteger64(const std::u16string& text);

private:
    // The values of prefix1, prefix2, ... up to the first absent number
    // (at most `most`), empty ones left out; setNumbered replaces them all.
    std::vector<std::u16string> getNumbered(const std::u16string& prefix, int most) const;
    void setNumbered(const std::u16string& prefix, int most, const std::vector<std::u16string>& values);
    cSettings();

    mutable kestrel::cCriticalSection mLock;
    std::map<std::u16string, std::u16string> mEntries; // guarded by mLock
    std::set<std::u16string> mLoadedKeys;               // guarded by mLock
    std::u16string mDataFolder;                         // guarded by mLock
};
