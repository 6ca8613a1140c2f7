#pragma once
// The process-wide channel catalogue: the read-only SQLite file of channels
// (country, type, name, description, encoded stream address), the browser's
// queries over it, the current channel, the favourites kept in
// favorites.xml, and the start-up update that refreshes the file from the
// catalogue server.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/RequestHeaders.h"
#include "kestrel/Tasks.h"

struct sqlite3;
class cNameIndex;
class cNameIndexTask;

// What the update needs from the application, set by the application before
// runUpdate. Either may be empty (tests, tools).
struct cUpdateHooks {
    // Puts the catalogue-update scene on screen. Called once, on the update
    // thread, at the start of every update; it must not wait for the scene.
    // Empty: no scene is requested.
    std::function<void()> requestUpdateScene;
    // True once the application is shutting down; polled by the download
    // loop and the pauses, from the update thread. Empty: the application
    // object's terminating flag (kestrel::applicationIsTerminating()).
    std::function<bool()> isTerminating;
};

// Bounds of the update. The defaults are the program's; tests shorten them.
struct cUpdateLimits {
    // Connecting, sending and every single read of an answer.
    unsigned networkTimeoutMs = 10000;
    // Pause after a check that installed nothing (or failed), and after an
    // installation, so that the update scene stays readable.
    unsigned idlePauseMs = 2000;
    unsigned installedPauseMs = 1000;
    // Largest version answer and largest catalogue accepted.
    uint64_t maxVersionBytes = 4096;
    uint64_t maxCatalogueBytes = uint64_t(1) << 30;
    // Slowest catalogue download accepted, averaged over each window.
    uint64_t minCatalogueRate = 16 * 1024;
    unsigned rateWindowMs = 10000;
    // Redirections followed for the catalogue download (on the server's
    // own host) and for a list's address (anywhere on the web).
    int maxRedirects = 5;
    // The whole version check.
    unsigned versionDeadlineMs = 20000;
    // Each channel list: the whole download, and the largest list accepted
    // (after decompression).
    unsigned listDeadlineMs = 120000;
    uint64_t maxListBytes = uint64_t(256) << 20;
};

// How the last update ended (for diagnostics and tests; nothing in the
// program acts on it).
enum class eUpdateOutcome {
    NotRun,
    UpToDate,      // the server's version is not newer than dbversion, or
                   // the lists hold the rows already installed
    Installed,     // a checked catalogue replaced "database", dbversion
                   // raised (or, from lists, listsdigest stored)
    Failed,        // network, protocol, size, write or check failure
    NoTemporaryFile, // "tmpdb" could not be created
    Stopped,       // the application began terminating during the download
};

class cPlayerDatabase {
public:
    // Selection modes of the current channel.
    enum eMode { ModeCatalogue = 0, ModeFavourite = 1 };

    // Creates the object on the first call (closed, catalogue mode).
    static cPlayerDatabase* instance();
    // Deletes the object if it exists (saving the favourites) and forgets it.
    static void destroyInstance();

    // The application uses instance(); tests make objects of their own.
    cPlayerDatabase();
    // Saves the favourites into the folder given to open (only when open
    // had read them), then closes.
    virtual ~cPlayerDatabase();
    cPlayerDatabase(const cPlayerDatabase&) = delete;
    cPlayerDatabase& operator=(const cPlayerDatabase&) = delete;

    // --- start-up, on the initialisation thread -------------------------

    void setUpdateHooks(cUpdateHooks hooks);
    void setUpdateLimits(const cUpdateLimits& limits);
    // Runs update() on a task thread for the channel folder and waits until
    // it has finished. Returns update()'s result (false when stopped).
    bool runUpdate(const std::u16string& folder);
    // The update itself (task thread). Works in the folder given to
    // runUpdate; true on every path but a stop for termination. Its source
    // is the user's channel lists while the settings hold any (see
    // ChannelLists.h), otherwise the catalogue server.
    bool update();
    eUpdateOutcome lastUpdateOutcome() const { return mLastOutcome.load(); }
    // The programme guide addresses the lists named (their "#EXTM3U" line's
    // url-tvg), each once, from the last update from lists (the last good
    // copy of a list that failed); read after runUpdate has returned.
    const std::vector<std::string>& listGuideAddresses() const { return mListGuides; }
    // What went wrong in the last failed update, in English; empty otherwise.
    std::string lastUpdateError() const;

    // Loads the favourites of the channel folder and opens its "database"
    // read-only. False when "database" is missing or SQLite cannot open it.
    // A favorites.xml that exists but cannot be read leaves no favourites
    // and is not written back by the destructor.
    bool open(const std::u16string& folder);
    // Clears the favourites and the cached lists, forgets the folder and
    // closes the connection.
    void close();
    // The channel folder given to open; empty while closed.
    const std::u16string& folder() const { return mFolder; }
    // True once an update has installed a new catalogue.
    bool isNewCatalogue() const { return mNewCatalogue.load(); }

    // --- queries, main loop --------------------------------------------

    // Every distinct country / type, in ascending byte order; cached.
    const std::vector<std::u16string>& countries();
    const std::vector<std::u16string>& types();
    // The distinct names matching the filters ("*" = any) into out.
    // False only when the statement could not be prepared.
    bool names(const std::u16string& country, const std::u16string& type, std::vector<std::u16string>& out);
    // The typing search's index of every distinct name (NameSearch.h), in
    // the order of names("*", "*"). The first call after open starts
    // building it on a thread of its own; until it is there the result is
    // null and ready, when given, is kept and runs once on that thread when
    // it is (it must not block; the application hands it on to the main
    // loop). Null without an open catalogue.
    std::shared_ptr<const cNameIndex> nameIndex(std::function<void()> ready = {});

    void setCurrentCountry(const std::u16string& country);
    void setCurrentType(const std::u16string& type);
    void setCurrentName(const std::u16string& name);
    void selectFavourite(int index);

    eMode mode() const { return mMode; }
    const std::u16string& currentCountry() const { return mCurrentCountry; }
    const std::u16string& currentType() const { return mCurrentType; }
    std::u16string currentName() const;
    std::u16string currentDescription();
    // The decoded (plain ASCII) stream address of the current channel.
    std::u16string currentAddress();
    // The request headers of the current channel: the chosen favourite's
    // own, or the catalogue's for the current address.
    cRequestHeaders currentHeaders();
    // The catalogue's headers for an address; none when the catalogue has
    // no headers table or no headers for it.
    cRequestHeaders catalogueHeaders(const std::u16string& address);
    // The channel's id in a programme guide (its list's tvg-id) for an
    // address; empty when the catalogue names none. Favourites and recent
    // channels find theirs through their address.
    std::string catalogueGuideId(const std::u16string& address);
    // How many minutes later than its guide says the channel at the address
    // shows its programmes (the list's tvg-shift); 0 for none.
    int catalogueGuideShiftMinutes(const std::u16string& address);
    static constexpr int MaxGuideShiftMinutes = 24 * 60;

    // --- favourites, main loop -----------------------------------------

    // Appends a favourite unless one with the same (clear) address exists.
    // The headers are kept with it and sent whenever it plays.
    void addFavourite(const std::u16string& name, const std::u16string& description, const std::u16string& address,
                      const cRequestHeaders& headers = cRequestHeaders());
    // The favourite's headers; none for an index out of range.
    cRequestHeaders favouriteHeaders(int index) const;
    const std::vector<std::u16string>& favouriteNames() const { return mFavouriteNames; }
    // Reads folder + "/favorites.xml" into the (empty) lists. A missing file
    // is no favourites; a file that exists but cannot be read is false, with
    // a warning on standard error that says why.
    bool loadFavourites(const std::u16string& folder);
    // Writes folder + "/favorites.xml" beside the old one and renames it
    // over it; on failure the old file stays and the result is false.
    bool saveFavourites(const std::u16string& folder);

private:
    void runQuery(const char* statement, const std::vector<const std::u16string*>& values,
                  std::vector<std::u16string>& rows, bool firstRowOnly, bool* prepared = nullptr);
    // The first row of a "... where url = ?1" statement over a table keyed
    // by headersKey(address), its first `columns` columns as text; empty
    // when there is no such row or table.
    std::vector<std::string> addressRow(const char* statement, const std::u16string& address, int columns);
    std::u16string firstValue(const char* statement, const std::vector<const std::u16string*>& values);
    const std::vector<std::u16string>& cachedList(const char* statement, std::vector<std::u16string>& cache);
    const std::vector<std::u16string>& allNames();
    bool favouriteChosen() const;
    void pause(unsigned milliseconds);
    bool terminating();
    void setOutcome(eUpdateOutcome outcome, const std::string& error);
    bool updateFromServer(const std::u16string& server);
    bool updateFromLists(const std::vector<std::u16string>& lists);

    // Start-up state, written on the initialisation thread before the main
    // loop uses the object (the first scene request orders the accesses).
    std::u16string mFolder;               // initialisation thread, then main loop
    sqlite3* mConnection = nullptr;       // initialisation thread, then main loop
    bool mFavouritesLoaded = false;       // initialisation thread, then main loop

    // Update state: written before the task starts and read after it has
    // finished by runUpdate's thread; used by the task thread in between.
    std::u16string mUpdateFolder;
    cUpdateHooks mHooks;
    cUpdateLimits mLimits;
    std::atomic<bool> mNewCatalogue{false};              // set by the update thread
    std::vector<std::string> mListGuides;                // update thread, then runUpdate's thread
    std::atomic<eUpdateOutcome> mLastOutcome{eUpdateOutcome::NotRun};
    mutable kestrel::cCriticalSection mErrorLock;
    std::string mLastError;                              // guarded by mErrorLock

    // Main loop only, after open.
    std::vector<std::u16string> mCountries;
    std::vector<std::u16string> mTypes;
    std::vector<std::u16string> mNames;
    std::unique_ptr<cNameIndexTask> mNameIndexTask; // made by nameIndex, ended by close
    std::vector<std::u16string> mFavouriteNames;
    std::vector<std::u16string> mFavouriteDescriptions;
    std::vector<std::u16string> mFavouriteAddresses; // encoded
    std::vector<cRequestHeaders> mFavouriteHeaders;  // one per favourite, mostly empty
    eMode mMode = ModeCatalogue;
    int mFavouriteIndex = -1;
    std::u16string mCurrentCountry;
    std::u16string mCurrentType;
    std::u16string mCurrentName;
};
