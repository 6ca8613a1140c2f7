// The start-up catalogue update: ask the catalogue server for its version,
// and when it is newer than the installed one, download the catalogue into
// "tmpdb", check it, and only then rename it over "database" and raise
// dbversion. Any failure leaves the installed catalogue and its version as
// they were and removes "tmpdb".

#include "catalogue/PlayerDatabase.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>

#include "catalogue/CatalogueCheck.h"
#include "catalogue/UpdateTask.h"
#include "kestrel/Application.h"
#include "kestrel/Exception.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "state/ListStates.h"
#include "state/Settings.h"

namespace {

// A failure of the check or the transfer, with what went wrong.
class cUpdateFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The application began terminating during the download.
class cUpdateStopped {};

// The catalogue arrives in pieces of this size, so that a stop request is
// seen after every few bytes.
constexpr size_t CataloguePieceBytes = 16;
constexpr size_t VersionPieceBytes = 8192;
// Pieces are gathered before they reach the disk: one write per 16 bytes
// would cost a system call each.
constexpr size_t WriteBufferBytes = 64 * 1024;

bool isRedirection(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

using tSink = std::function<void(const char* data, size_t size)>;

// GETs the address and hands the body of its 200 answer to sink piece by
// piece. Follows up to maxRedirects redirections to other http addresses.
// Throws cUpdateFailure (or a POCO exception) unless the whole body arrived:
// the stream ended without error, no more than cap bytes came, and as many
// bytes as the answer announced. Throws cUpdateStopped when stop() turns
// true between pieces.
void fetch(const std::string& address, const cUpdateLimits& limits, int maxRedirects, size_t pieceBytes, uint64_t cap,
           const tSink& sink, const std::function<bool()>& stop)
{
    Poco::URI uri(address);
    const Poco::Timespan timeout(static_cast<Poco::Timespan::TimeDiff>(limits.networkTimeoutMs) * 1000);
    for (int redirects = 0;; ++redirects) {
        if (uri.getScheme() != "http" || uri.getHost().empty()) {
            throw cUpdateFailure("not an http address: " + uri.toString());
        }
        Poco::Net::HTTPClientSession session(uri.getHost(), uri.getPort());
        session.setTimeout(timeout, timeout, timeout);
        std::string path = uri.getPathAndQuery();
        if (path.empty()) {
            path = "/";
        }
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path, Poco::Net::HTTPMessage::HTTP_1_1);
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::istream& body = session.receiveResponse(response);
        const int status = response.getStatus();
        if (isRedirection(status) && response.has("Location")) {
            if (redirects >= maxRedirects) {
                throw cUpdateFailure("too many redirections from " + address);
            }
            uri.resolve(response.get("Location"));
            continue;
        }
        if (status != Poco::Net::HTTPResponse::HTTP_OK) {
            throw cUpdateFailure("status " + std::to_string(status) + " for " + uri.toString());
        }

        const bool announced = response.hasContentLength();
        const uint64_t announcedLength = announced ? static_cast<uint64_t>(response.getContentLength64()) : 0;
        if (announced && announcedLength > cap) {
            throw cUpdateFailure(uri.toString() + " announces " + std::to_string(announcedLength) +
                                 " bytes, more than " + std::to_string(cap));
        }
        std::vector<char> piece(pieceBytes);
        uint64_t received = 0;
        for (;;) {
            body.read(piece.data(), static_cast<std::streamsize>(piece.size()));
            const std::streamsize got = body.gcount();
            if (got <= 0) {
                break;
            }
            if (stop()) {
                throw cUpdateStopped();
            }
            received += static_cast<uint64_t>(got);
            if (received > cap) {
                throw cUpdateFailure(uri.toString() + " sends more than " + std::to_string(cap) + " bytes");
            }
            sink(piece.data(), static_cast<size_t>(got));
        }
        // The stream turns a broken connection or a time-out into badbit.
        if (body.bad()) {
            throw cUpdateFailure("transfer of " + uri.toString() + " broke off after " + std::to_string(received) +
                                 " bytes");
        }
        if (announced && received != announcedLength) {
            throw cUpdateFailure("transfer of " + uri.toString() + " ended after " + std::to_string(received) +
                                 " of " + std::to_string(announcedLength) + " bytes");
        }
        return;
    }
}

std::string describe(const std::exception& failure) { return failure.what(); }

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
        server = kestrel::toUtf8(settings->getServer());
        step = "version check (http://" + server + "/dbversion.php)";

        std::string versionText;
        fetch("http://" + server + "/dbversion.php", mLimits, 0, VersionPieceBytes, mLimits.maxVersionBytes,
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
            step = "download (http://" + server + "/database)";
            std::vector<char> pending;
            pending.reserve(WriteBufferBytes);
            const auto flush = [&file, &pending] {
                if (!pending.empty()) {
                    file.writeExact(pending.data(), pending.size());
                    pending.clear();
                }
            };
            fetch("http://" + server + "/database", mLimits, mLimits.maxRedirects, CataloguePieceBytes,
                  mLimits.maxCatalogueBytes,
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
        // Only now do the catalogue file and the stored version agree.
        settings->setInteger(u"dbversion", serverVersion);
        resetBrowserListStates();
        mNewCatalogue = true;
        kestrel::logInfo("catalogue", "installed catalogue version " + std::to_string(serverVersion) + " from " +
                                          server);
        setOutcome(eUpdateOutcome::Installed, {});
        pause(mLimits.installedPauseMs);
        return true;
    } catch (const cUpdateStopped&) {
        kestrel::deleteFile(temporaryPath);
        setOutcome(eUpdateOutcome::Stopped, "stopped for termination");
        return false;
    } catch (const Poco::Exception& failure) {
        error = failure.displayText();
    } catch (const std::exception& failure) {
        // cUpdateFailure, the kestrel family (file writes, text conversion)
        // and the standard library's own.
        error = describe(failure);
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
