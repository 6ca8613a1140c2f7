#include "catalogue/PlayerDatabase.h"

#include <mutex>

#include <sqlite3.h>

#include "catalogue/AddressCodec.h"
#include "catalogue/CatalogueConnection.h"
#include "catalogue/NameSearch.h"
#include "catalogue/UpdateTask.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"

namespace {

const std::u16string Any = u"*";

// A statement that stays busy is retried this many times: the first turns
// only yield, the rest sleep a millisecond each, so another process holding
// a lock on the catalogue delays the main loop by about a second at most.
constexpr int MaxBusyRetries = 1000;

void busyPause(int retry) { kestrel::sleepMilliseconds(retry < 10 ? 0 : 1); }

int stepStatement(sqlite3_stmt* statement)
{
    int result = sqlite3_step(statement);
    for (int retry = 0; result == SQLITE_BUSY && retry < MaxBusyRetries; ++retry) {
        busyPause(retry);
        result = sqlite3_step(statement);
    }
    return result;
}

std::mutex gInstanceLock;
cPlayerDatabase* gInstance = nullptr; // guarded by gInstanceLock

} // namespace

cPlayerDatabase* cPlayerDatabase::instance()
{
    std::lock_guard<std::mutex> lock(gInstanceLock);
    if (!gInstance) {
        gInstance = new cPlayerDatabase();
    }
    return gInstance;
}

void cPlayerDatabase::destroyInstance()
{
    cPlayerDatabase* database = nullptr;
    {
        std::lock_guard<std::mutex> lock(gInstanceLock);
        database = gInstance;
        gInstance = nullptr;
    }
    delete database;
}

cPlayerDatabase::cPlayerDatabase() = default;

cPlayerDatabase::~cPlayerDatabase()
{
    // Saving favourites that were never read would replace the user's file
    // with an empty list, so only favourites that open() read are written.
    if (mFavouritesLoaded && !mFolder.empty()) {
        try {
            saveFavourites(mFolder); // nothing can be done about a failure here
        } catch (...) {
            // Only running out of memory gets here; a destructor must not throw.
        }
    }
    close();
}

bool cPlayerDatabase::open(const std::u16string& folder)
{
    close();
    mFolder = folder;
    // A favourites file that exists but cannot be read does not stop the
    // catalogue: the run starts without favourites (the reader says why on
    // standard error) and the file is not written at shutdown, so that
    // nothing of it is lost.
    mFavouritesLoaded = loadFavourites(folder);
    if (!mFavouritesLoaded) {
        mFavouriteNames.clear();
        mFavouriteDescriptions.clear();
        mFavouriteAddresses.clear();
        mFavouriteHeaders.clear();
    }

    const std::u16string path = folder + u"/database";
    if (!kestrel::fileExists(path)) {
        return false;
    }
    std::string nativePath;
    if (!kestrel::toNativePath(path, nativePath)) {
        return false;
    }
    // Hardened, read-only, immutable: whatever an older version installed,
    // no query can run for long, and nothing is written beside the file.
    std::string problem;
    mConnection = openCatalogueConnection(nativePath, problem);
    if (!mConnection) {
        kestrel::logWarning("catalogue", "cannot open " + nativePath + ": " + problem);
        return false;
    }
    return true;
}

void cPlayerDatabase::close()
{
    mFavouriteNames.clear();
    mFavouriteDescriptions.clear();
    mFavouriteAddresses.clear();
    mFavouriteHeaders.clear();
    mFavouritesLoaded = false;
    // All three caches belong to the catalogue being closed: another open
    // must not answer from them.
    mCountries.clear();
    mTypes.clear();
    mNames.clear();
    // Its thread reads the catalogue file: it ends before the file may go.
    mNameIndexTask.reset();
    mFolder.clear();
    if (mConnection) {
        sqlite3_close(mConnection);
        mConnection = nullptr;
    }
}

void cPlayerDatabase::runQuery(const char* statementText, const std::vector<const std::u16string*>& values,
                               std::vector<std::u16string>& rows, bool firstRowOnly, bool* prepared)
{
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(mConnection, statementText, -1, &statement, nullptr);
    // Preparing reads the schema, which a lock held elsewhere can make busy.
    for (int retry = 0; result == SQLITE_BUSY && retry < MaxBusyRetries; ++retry) {
        busyPause(retry);
        result = sqlite3_prepare_v2(mConnection, statementText, -1, &statement, nullptr);
    }
    if (result != SQLITE_OK || !statement) {
        sqlite3_finalize(statement);
        if (prepared) {
            *prepared = false;
        }
        return;
    }
    if (prepared) {
        *prepared = true;
    }
    // The bound texts are the caller's and outlive the statement.
    int position = 1;
    for (const std::u16string* value : values) {
        sqlite3_bind_text16(statement, position++, value->c_str(), -1, SQLITE_STATIC);
    }
    while (stepStatement(statement) == SQLITE_ROW) {
        // A file in UTF-16 hands its text over as stored: lone surrogates
        // become U+FFFD, so that every name converts for the screen.
        rows.push_back(kestrel::repairUtf16(static_cast<const char16_t*>(sqlite3_column_text16(statement, 0))));
        if (firstRowOnly) {
            break;
        }
    }
    sqlite3_finalize(statement);
}

std::u16string cPlayerDatabase::firstValue(const char* statement, const std::vector<const std::u16string*>& values)
{
    std::vector<std::u16string> rows;
    runQuery(statement, values, rows, true);
    return rows.empty() ? std::u16string() : rows.front();
}

const std::vector<std::u16string>& cPlayerDatabase::cachedList(const char* statement,
                                                              std::vector<std::u16string>& cache)
{
    if (cache.empty()) {
        runQuery(statement, {}, cache, false);
    }
    return cache;
}

const std::vector<std::u16string>& cPlayerDatabase::countries()
{
    return cachedList("select country from channels group by country;", mCountries);
}

const std::vector<std::u16string>& cPlayerDatabase::types()
{
    return cachedList("select type from channels group by type;", mTypes);
}

const std::vector<std::u16string>& cPlayerDatabase::allNames()
{
    return cachedList("select name from channels group by name;", mNames);
}

bool cPlayerDatabase::names(const std::u16string& country, const std::u16string& type, std::vector<std::u16string>& out)
{
    out.clear();
    const bool anyCountry = country == Any;
    const bool anyType = type == Any;
    if (anyCountry && anyType) {
        out = allNames();
        return true;
    }
    bool prepared = false;
    if (anyCountry) {
        runQuery("select name from channels where type = :type group by name;", {&type}, out, false, &prepared);
    } else if (anyType) {
        runQuery("select name from channels where country = :country group by name;", {&country}, out, false,
                 &prepared);
    } else {
        runQuery("select name from channels where country = :country and type = :type group by name;",
                 {&country, &type}, out, false, &prepared);
    }
    return prepared;
}

std::shared_ptr<const cNameIndex> cPlayerDatabase::nameIndex(std::function<void()> ready)
{
    if (!mConnection) {
        return nullptr;
    }
    if (!mNameIndexTask) {
        std::string nativePath;
        if (!kestrel::toNativePath(mFolder + u"/database", nativePath)) {
            return nullptr;
        }
        mNameIndexTask = std::make_unique<cNameIndexTask>(nativePath);
        if (ready) {
            mNameIndexTask->whenReady(std::move(ready));
        }
        // A task whose thread cannot be made never builds the index: a
        // search over the whole catalogue then keeps waiting for it (the
        // list stays whole), while the searches of a country or type work.
        mNameIndexTask->start();
        return nullptr;
    }
    if (ready && mNameIndexTask->whenReady(std::move(ready))) {
        return nullptr;
    }
    return mNameIndexTask->index();
}

void cPlayerDatabase::setCurrentCountry(const std::u16string& country)
{
    mCurrentCountry = country;
    mMode = ModeCatalogue;
}

void cPlayerDatabase::setCurrentType(const std::u16string& type)
{
    mCurrentType = type;
    mMode = ModeCatalogue;
}

void cPlayerDatabase::setCurrentName(const std::u16string& name)
{
    mCurrentName = name;
    mMode = ModeCatalogue;
}

void cPlayerDatabase::selectFavourite(int index)
{
    mMode = ModeFavourite;
    mFavouriteIndex = index;
}

bool cPlayerDatabase::favouriteChosen() const
{
    return mFavouriteIndex >= 0 && static_cast<size_t>(mFavouriteIndex) < mFavouriteNames.size();
}

std::u16string cPlayerDatabase::currentName() const
{
    if (mMode == ModeFavourite) {
        return favouriteChosen() ? mFavouriteNames[mFavouriteIndex] : std::u16string();
    }
    return mCurrentName;
}

std::u16string cPlayerDatabase::currentDescription()
{
    if (mMode == ModeFavourite) {
        return favouriteChosen() ? mFavouriteDescriptions[mFavouriteIndex] : std::u16string();
    }
    // No wildcard forms: a "*" filter is bound as it is and matches nothing.
    return firstValue("select description from channels where country = :country and type = :type and name = :name;",
                      {&mCurrentCountry, &mCurrentType, &mCurrentName});
}

std::u16string cPlayerDatabase::currentAddress()
{
    if (mMode == ModeFavourite) {
        return favouriteChosen() ? decodeAddress(mFavouriteAddresses[mFavouriteIndex]) : std::u16string();
    }
    const bool anyCountry = mCurrentCountry == Any;
    const bool anyType = mCurrentType == Any;
    std::u16string encoded;
    if (anyCountry && anyType) {
        encoded = firstValue("select url from channels where name = :name;", {&mCurrentName});
    } else if (anyCountry) {
        encoded = firstValue("select url from channels where type = :type and name = :name;",
                             {&mCurrentType, &mCurrentName});
    } else if (anyType) {
        encoded = firstValue("select url from channels where country = :country and name = :name;",
                             {&mCurrentCountry, &mCurrentName});
    } else {
        encoded = firstValue("select url from channels where country = :country and type = :type and name = :name;",
                             {&mCurrentCountry, &mCurrentType, &mCurrentName});
    }
    return decodeAddress(encoded);
}

bool cPlayerDatabase::runUpdate(const std::u16string& folder)
{
    mUpdateFolder = folder;
    cUpdateTask task(*this);
    // A task whose thread cannot be made ends in TaskFinished without having
    // run, so the wait below always ends; its result then stays false.
    task.start();
    kestrel::waitForTask(task);
    task.join();
    return task.result();
}
