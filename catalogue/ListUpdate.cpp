// The start-up update from the user's channel lists: read every list (or
// the last good copy of one that fails), import and merge them, and
// install the catalogue they make when its rows differ from the installed
// ones. Any failure keeps the installed catalogue.

#include <algorithm>
#include <filesystem>
#include <vector>

#include "catalogue/CatalogueBuilder.h"
#include "catalogue/ChannelLists.h"
#include "fetch/Fetch.h"
#include "catalogue/M3uImport.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "state/ListStates.h"
#include "state/Settings.h"

namespace {

// Imports the text; false with the reason when it gives no channel.
// The list's guide addresses are added to guides, each once.
bool importText(const std::string& text, std::vector<cListingEntry>& rows, std::vector<std::string>& guides,
                std::string& error, std::vector<cM3uSkip>* skipped = nullptr,
                std::vector<cM3uSkip>* refusedHeaders = nullptr)
{
    cM3uImport imported;
    if (!parseM3u(text, imported, error)) {
        return false;
    }
    if (skipped != nullptr) {
        *skipped = std::move(imported.skipped);
    }
    if (refusedHeaders != nullptr) {
        *refusedHeaders = std::move(imported.refusedHeaders);
    }
    rows = std::move(imported.entries);
    for (std::string& guide : imported.guideAddresses) {
        if (std::find(guides.begin(), guides.end(), guide) == guides.end()) {
            guides.push_back(std::move(guide));
        }
    }
    return true;
}

// The text of a file, whole; false when it cannot be read.
bool readWhole(const std::u16string& path, std::string& text)
{
    std::string error;
    return readPlaylist(kestrel::toUtf8(path), text, error);
}

} // namespace

bool cPlayerDatabase::updateFromLists(const std::vector<std::u16string>& lists)
{
    const auto stop = [this] { return terminating(); };
    const std::u16string copies = mUpdateFolder + u"/lists";
    cSettings* settings = cSettings::instance();

    std::vector<std::vector<cListingEntry>> imported;
    std::vector<std::string> keptCopies;
    std::string failures; // "source: why" of every list that gave nothing
    mListGuides.clear();
    for (const std::u16string& wideSource : lists) {
        std::string source;
        try {
            source = kestrel::toUtf8(wideSource);
        } catch (const std::exception&) {
            failures += (failures.empty() ? "" : "; ") + std::string("a list whose name is not valid text");
            continue;
        }
        std::string text;
        std::string error;
        std::vector<cListingEntry> rows;
        std::vector<cM3uSkip> skipped;
        std::vector<cM3uSkip> refusedHeaders;
        bool read = false;
        try {
            read = readListSource(source, mLimits, stop, text, error);
        } catch (const cFetchStopped&) {
            setOutcome(eUpdateOutcome::Stopped, "stopped for termination");
            return false;
        }
        if (read && importText(text, rows, mListGuides, error, &skipped, &refusedHeaders)) {
            // A header value that could inject a request line is never
            // sent; the list's owner learns where it stands.
            for (const cM3uSkip& refused : refusedHeaders) {
                kestrel::logWarning("catalogue", "list " + source + ": line " + std::to_string(refused.line) +
                                                     ": " + refused.reason);
            }
            if (!skipped.empty()) {
                kestrel::logInfo("catalogue", "list " + source + ": " + std::to_string(skipped.size()) +
                                                  " line(s) skipped, the first at line " +
                                                  std::to_string(skipped.front().line) + ": " +
                                                  skipped.front().reason);
            }
            // The last good copy, for the starts at which the list fails.
            const std::u16string copy = listCopyPath(mUpdateFolder, source);
            kestrel::createDirectory(copies);
            if (!kestrel::writeFileReplacing(copy, [&text](kestrel::cFile& file) {
                    file.writeExact(text.data(), text.size());
                })) {
                kestrel::logWarning("catalogue", "cannot keep a copy of list " + source + " in " +
                                                     kestrel::toUtf8(copies));
            }
            keptCopies.push_back(kestrel::toUtf8(copy));
            imported.push_back(std::move(rows));
            continue;
        }
        std::string copyText;
        std::vector<cListingEntry> copyRows;
        std::string copyError;
        const std::u16string copy = listCopyPath(mUpdateFolder, source);
        if (readWhole(copy, copyText) && importText(copyText, copyRows, mListGuides, copyError)) {
            kestrel::logWarning("catalogue", "list " + source + " failed: " + error +
                                                 "; its channels of the last start are kept");
            keptCopies.push_back(kestrel::toUtf8(copy));
            imported.push_back(std::move(copyRows));
        } else {
            kestrel::logWarning("catalogue", "list " + source + " failed: " + error);
            failures += (failures.empty() ? "" : "; ") + source + ": " + error;
        }
    }

    // Copies of lists that are no longer stored go.
    std::error_code ignored;
    for (const auto& item : std::filesystem::directory_iterator(kestrel::toUtf8(copies), ignored)) {
        const std::string path = item.path().string();
        if (std::find(keptCopies.begin(), keptCopies.end(), path) == keptCopies.end()) {
            std::filesystem::remove(item.path(), ignored);
        }
    }

    const size_t listCount = imported.size();
    const std::vector<cListingEntry> rows = mergeLists(std::move(imported));
    if (rows.empty()) {
        kestrel::logWarning("catalogue", "no list gave any channel; the old catalogue was kept");
        setOutcome(eUpdateOutcome::Failed, failures.empty() ? "no channel in the lists" : failures);
        pause(mLimits.idlePauseMs);
        return true;
    }
    if (terminating()) {
        setOutcome(eUpdateOutcome::Stopped, "stopped for termination");
        return false;
    }

    const std::u16string databasePath = mUpdateFolder + u"/database";
    const std::string digest = rowsDigest(rows);
    if (kestrel::fileExists(databasePath) &&
        settings->getString(u"listsdigest", u"") == kestrel::fromUtf8(digest)) {
        kestrel::logInfo("catalogue", "the lists hold the " + std::to_string(rows.size()) +
                                          " rows already installed");
        setOutcome(eUpdateOutcome::UpToDate, failures);
        pause(mLimits.idlePauseMs);
        return true;
    }

    // The catalogue is built beside "database", checked, flushed and only
    // then renamed over it.
    std::string error;
    if (!buildCatalogue(rows, kestrel::toUtf8(databasePath), cBuildOptions(), error)) {
        kestrel::logWarning("catalogue", "the catalogue of the lists could not be installed: " + error +
                                             "; the old catalogue was kept");
        setOutcome(eUpdateOutcome::Failed, error);
        pause(mLimits.idlePauseMs);
        return true;
    }
    // The installed rows are those of the lists, no server's version.
    settings->setString(u"listsdigest", kestrel::fromUtf8(digest));
    settings->setInteger(u"dbversion", 0);
    resetBrowserListStates();
    mNewCatalogue = true;
    kestrel::logInfo("catalogue", "installed " + std::to_string(rows.size()) + " rows from " +
                                      std::to_string(listCount) + " list(s)");
    setOutcome(eUpdateOutcome::Installed, failures);
    pause(mLimits.installedPauseMs);
    return true;
}
