// The start-up catalogue update: ask the catalogue server for its version,
// and when it is newer than the installed one, download the catalogue into
// "tmpdb", check it, and only then rename it over "database" and raise
// dbversion. Any failure leaves the installed catalogue and its version as
// they were and removes "tmpdb".

#include "catalogue/PlayerDatabase.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

#include <Poco/Exception.h>

#include "catalogue/CatalogueCheck.h"
#include "fetch/Fetch.h"
#include "catalogue/UpdateTask.h"
#include "kestrel/Application.h"
#include "kestrel/Exception.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "state/ListStates.h"
#include "state/Settings.h"

namespace {

// A failure of the check or the installation, with what went wrong.
class cUpdateFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Pieces are gathered before they reach the disk.
constexpr size_t WriteBufferBytes = 64 * 1024;

bool startsWithNoCase(const std::string& text, const char* prefix)
{
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// The address under which "dbversion.php" and "database" lie, ending in
// '/': "http://host:port/" for the "host:port" form, the base address as
// given (with a '/' added) for the http:// and https:// forms.
std::string serverBase(const std::string& server)
{
    std::string base = startsWithNoCase(server, "http://") || startsWithNoCase(server, "https://")
                           ? server
                           : "http://" + server + "/";
    if (base.back() != '/') {
        base += '/';
    }
    return base;
}

} // namespace

cUpdateTask::~cUpdateTask() = default;

void cUpdateTask::execute() { mResult = mDatabase.update(); }

void cPlayerDatabase::setUpdateHooks(cUpdateHooks hooks) { mHooks = std::move(hooks); }

void cPlayerDatabase::setUpdateLimits(const cUpdateLimits& limits) { mLimits = limits; }

std::string cPlayerDatabase::lastUpdateError() const
{
    kestrel::cScopedLock lock(mErrorLock);
    return mLastError;
}

void cPlayerDatabase::setOutcome(eUpdateOutcome outcome, const std::string& error)
{
    {
        kestrel::cScopedLock lock(mErrorLock);
        mLastError = error;
    }
    mLastOutcome = outcome;
}

bool cPlayerDatabase::terminating()
{
    return mHooks.isTerminating ? mHooks.isTerminating() : kestrel::applicationIsTerminating();
}

void cPlayerDatabase::pause(unsigned milliseconds)
{
    // The pause keeps the update scene readable; a shutdown need not wait
    // for it.
    constexpr unsigned Slice = 20;
    for (unsigned waited = 0; waited < milliseconds && !terminating(); waited += Slice) {
        kestrel::sleepMilliseconds(std::min(Slice, milliseconds - waited));
    }
}

bool cPlayerDatabase::update()
{
    setOutcome(eUpdateOutcome::NotRun, {});
    if (mHooks.requestUpdateScene) {
        try {
            mHooks.requestUpdateScene();
        } catch (...) {
            // The scene is only a sign of progress; the update goes on
            // without it.
        }
    }

    if (mUpdateFolder.empty()) {
        // Without a channel folder the paths below would name the root.
        kestrel::logWarning("catalogue", "update skipped: no channel folder; the old catalogue was kept");
        setOutcome(eUpdateOutcome::NoTemporaryFile, "no channel folder given");
        return true;
    }
    cSettings* settings = cSettings::instance();
    const std::vector<std::u16string> lists = settings->getLists();
    return lists.empty() ? updateFromServer(settings->getServer()) : updateFromLists(lists);
}

bool cPlayerDatabase::updateFromServer(const std::u16string& serverSetting)
{
    const std::u16string databasePath = mUpdateFolder + u"/database";
    const std::u16string temporaryPath = mUpdateFolder + u"/tmpdb";
    // A "tmpdb" left by an interrupted start is of no use to anyone.
    kestrel::deleteFile(temporaryPath);
    const auto stop = [this] { return terminating(); };

    std::string error;
    // The step under way, for the line that reports a failure.
    std::string step = "reading the server setting";
    std::string server;
    try {
        cSettings* settings = cSettings::instance();
        server = kestrel::toUtf8(serverSetting);
        const std::string base = serverBase(server);
        step = "version check (" + base + "dbversion.php)";

        cFetchLimits versionLimits;
        versionLimits.networkTimeoutMs = mLimits.networkTimeoutMs;
        versionLimits.deadlineMs = mLimits.versionDeadlineMs;
        versionLimits.maxBytes = mLimits.maxVersionBytes;
        versionLimits.maxRedirects = 0;
        std::string versionText;
        fetchAddress(base + "dbversion.php", versionLimits,
                     [&versionText](const char* data, size_t size) { versionText.append(data, size); }, stop);
        const int32_t serverVersion = static_cast<int32_t>(cSettings::parseInteger64(kestrel::fromUtf8(versionText)));
        if (serverVersion <= settings->getInteger(u"dbversion", 0)) {
            kestrel::logInfo("catalogue", "catalogue version " + std::to_string(serverVersion) + " at " + server +
                                              " is not newer than the installed one");
            setOutcome(eUpdateOutcome::UpToDate, {});
            pause(mLimits.idlePauseMs);
            return true;
        }

        {
            kestrel::cFile file;
            if (!file.open(temporaryPath, kestrel::ModeWrite | kestrel::ModeCreate)) {
                const std::string why = "cannot create " + kestrel::toUtf8(temporaryPath);
                kestrel::logWarning("catalogue", "update from " + server + " failed at the download: " + why +
                                                     "; the old catalogue was kept");
                setOutcome(eUpdateOutcome::NoTemporaryFile, why);
                return true;
            }
            step = "download (" + base + "database)";
            std::vector<char> pending;
            pending.reserve(WriteBufferBytes);
            const auto flush = [&file, &pending] {
                if (!pending.empty()) {
                    file.writeExact(pending.data(), pending.size());
                    pending.clear();
                }
            };
            cFetchLimits catalogueLimits;
            catalogueLimits.networkTimeoutMs = mLimits.networkTimeoutMs;
            catalogueLimits.maxBytes = mLimits.maxCatalogueBytes;
            catalogueLimits.maxRedirects = mLimits.maxRedirects;
            catalogueLimits.sameHostOnly = true;
            catalogueLimits.minimumRate = mLimits.minCatalogueRate;
            catalogueLimits.rateWindowMs = mLimits.rateWindowMs;
            fetchAddress(base + "database", catalogueLimits,
                         [&pending, &flush](const char* data, size_t size) {
                             kestrel::pumpOneMessage();
                             pending.insert(pending.end(), data, data + size);
                             if (pending.size() >= WriteBufferBytes) {
                                 flush();
                             }
                         },
                         stop);
            flush();
            if (!file.sync()) {
                throw cUpdateFailure("cannot flush " + kestrel::toUtf8(temporaryPath));
            }
            file.close();
        }

        std::string problem;
        step = "check of the downloaded catalogue";
        if (!checkCatalogueFile(temporaryPath, problem)) {
            throw cUpdateFailure("the downloaded catalogue is not usable: " + problem);
        }
        step = "installation";
        if (!kestrel::renameFile(temporaryPath, databasePath)) {
            throw cUpdateFailure("cannot rename " + kestrel::toUtf8(temporaryPath) + " over " +
                                 kestrel::toUtf8(databasePath));
        }
        // Only now do the catalogue file and the stored version agree. The
        // installed rows are no longer those of any list.
        settings->setInteger(u"dbversion", serverVersion);
        settings->remove(u"listsdigest");
        resetBrowserListStates();
        mNewCatalogue = true;
        kestrel::logInfo("catalogue", "installed catalogue version " + std::to_string(serverVersion) + " from " +
                                          server);
        setOutcome(eUpdateOutcome::Installed, {});
        pause(mLimits.installedPauseMs);
        return true;
    } catch (const cFetchStopped&) {
        kestrel::deleteFile(temporaryPath);
        setOutcome(eUpdateOutcome::Stopped, "stopped for termination");
        return false;
    } catch (const std::exception& failure) {
        // cFetchFailure, cUpdateFailure, the kestrel family (file writes,
        // text conversion) and the standard library's own.
        error = failure.what();
    } catch (...) {
        error = "unexpected exception";
    }
    kestrel::deleteFile(temporaryPath);
    kestrel::logWarning("catalogue", "update" + (server.empty() ? std::string() : " from " + server) +
                                         " failed at the " + step + ": " + error + "; the old catalogue was kept");
    setOutcome(eUpdateOutcome::Failed, error);
    pause(mLimits.idlePauseMs);
    return true;
}
