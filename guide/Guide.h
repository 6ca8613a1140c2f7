#pragma once
// The programme guide: what each channel airs now and next, read from the
// XMLTV guides that channel-list providers publish.
//
// refreshGuide reads every guide source (a file or an http/https address)
// and installs one SQLite file, "guide" in the channel folder, holding the
// programmes from six hours before to two days after the time it is given.
// It runs on a thread of its own at start and every twelve hours; the main
// loop reads the installed file meanwhile through cGuide. The new file is
// built beside the old one and renamed over it only once it is whole and
// checked, so a reader either has the old file (its open connection keeps
// the old file's data) or the new one, never a part.
//
// A source that fails (cannot be fetched or read whole, or gives no
// programme inside the window) keeps the programmes it gave to the
// installed guide; when every source fails the installed guide is not
// touched.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "guide/GuideText.h"
#include "guide/XmltvReader.h"

struct sqlite3;
struct sqlite3_stmt;

// The guide file of a channel folder (as channelFolderPath gives it).
std::u16string guideFilePath(const std::u16string& channelFolder);

struct cGuideLimits {
    // Each web source: every single wait, the whole download, and the
    // largest answer (as it arrives on the wire, compressed or not).
    unsigned networkTimeoutMs = 10000;
    unsigned sourceDeadlineMs = 300000;
    uint64_t maxWireBytes = uint64_t(512) << 20;
    int maxRedirects = 5;
    // The reader's caps (decompressed size, texts, counts).
    cXmltvCaps read;
    // Programmes kept: those showing between now - keepBefore and now +
    // keepAfter.
    int64_t keepBeforeSeconds = 6 * 3600;
    int64_t keepAfterSeconds = 48 * 3600;
};

enum class eGuideRefresh {
    Installed, // a new guide replaced the old one (some sources may have failed)
    Failed,    // no source could be read, or the new guide could not be made: the old one stays
    Stopped,   // the stop request ended the refresh: the old guide stays
};

struct cGuideSourceReport {
    std::string source;
    bool read = false;          // read whole and with programmes in the window
    std::string problem;        // why not, when not read
    size_t programmes = 0;      // rows it gives to the new guide (its old rows when it failed)
    bool keptOldProgrammes = false;
};

struct cGuideRefreshOutcome {
    eGuideRefresh result = eGuideRefresh::Failed;
    std::vector<cGuideSourceReport> sources; // in the order given
    size_t channels = 0;   // channels with programmes in the installed guide
    size_t programmes = 0; // programmes in the installed guide
    std::string problem;   // for Failed, what went wrong as a whole
    // One line per source: "SOURCE: N programmes" or "SOURCE: failed: WHY
    // (...)".
    std::vector<std::string> lines() const;
};

// Reads the sources and installs the guide of the channel folder, as
// described above. stop() is asked often (during downloads, between pieces
// of the document, between the steps of building); once it turns true the
// refresh ends promptly with Stopped. Not to be run twice at once for one
// folder.
cGuideRefreshOutcome refreshGuide(const std::vector<std::string>& sources, const std::u16string& channelFolder,
                                  const cGuideLimits& limits, int64_t nowUtc, const std::function<bool()>& stop);

struct cProgramme {
    int64_t start = 0, stop = 0; // UTC seconds
    std::string title, subTitle, description, category;
};

struct cNowNext {
    std::optional<cProgramme> now, next;
};

// A read-only view of one guide file, opened hardened like a catalogue.
// Lookups take a few microseconds. One thread at a time (the main loop).
class cGuide {
public:
    // Null when the file is missing or is not a guide.
    static std::unique_ptr<cGuide> open(const std::u16string& path);
    ~cGuide();
    cGuide(const cGuide&) = delete;
    cGuide& operator=(const cGuide&) = delete;

    // The guide channel of a catalogue channel: its tvg-id as it is, then
    // without regard to case, then its name against the guide's
    // display-names by guideNameKey. Empty when none matches.
    std::string matchChannel(const std::string& tvgId, const std::string& name) const;
    // The programme showing at nowUtc and the one after it (the next may be
    // given without a current one, in a gap).
    cNowNext nowNext(const std::string& guideChannelId, int64_t nowUtc) const;

    size_t channelCount() const;

private:
    cGuide() = default;
    sqlite3* mConnection = nullptr;          // owned; used by one thread at a time
    sqlite3_stmt* mById = nullptr;           // the statements, prepared at open
    sqlite3_stmt* mByFoldedId = nullptr;
    sqlite3_stmt* mByName = nullptr;
    sqlite3_stmt* mNowNext = nullptr;
};
