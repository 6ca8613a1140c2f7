// Building, installing and reading the guide file.
//
// The file holds
//   sources    (id, address): the sources of this guide, in the order given;
//   programmes (channel, start, stop, title, subtitle, description,
//               category, source): on each channel in start order, without
//               overlaps, each with a stop, indexed by (channel, stop) so
//               that now and next are the first two rows after a time;
//   channels   (id, folded): every channel with programmes, with its id in
//               lower case for the match without regard to case;
//   names      (key, name, channel, source): the display-names of those
//               channels by guideNameKey.
// A refresh first writes what each source gives into a staging file beside
// the guide ("guide.stage"), one transaction per source, so that a source
// that fails half-way leaves nothing there and its programmes of the old
// guide take their place. The staged rows are then read back per channel
// in start order, their stops settled and the kept ones written to
// "guide.part", which is checked, flushed and renamed over "guide".

#include "guide/Guide.h"
#include "guide/Settling.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <stdexcept>
#include <unordered_map>

#include <sqlite3.h>
#include <unistd.h>

#include "catalogue/CatalogueConnection.h"
#include "fetch/Fetch.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"

namespace {

const char* const Log = "guide";
constexpr int64_t Day = 24 * 3600;

const char* const Schema = R"(
create table sources (id integer primary key, address text not null);
create table programmes (channel text not null, start integer not null, stop integer not null,
  title text not null, subtitle text not null, description text not null, category text not null,
  source integer not null);
create table channels (id text primary key, folded text not null);
create table names (key text not null, name text not null, channel text not null, source integer not null);
)";

const char* const StageSchema = R"(
create table stage.programmes (seq integer primary key, channel text not null, start integer not null,
  stop integer, title text not null, subtitle text not null, description text not null,
  category text not null, source integer not null);
create table stage.names (key text not null, name text not null, channel text not null, source integer not null);
)";

const char* const Indexes = R"(
create index programmes_by_stop on programmes (channel, stop);
create index channels_by_folded on channels (folded);
create index names_by_key on names (key);
)";

class cSqlFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct cStatement {
    sqlite3_stmt* handle = nullptr;
    cStatement() = default;
    cStatement(sqlite3* connection, const char* sql)
    {
        if (sqlite3_prepare_v2(connection, sql, -1, &handle, nullptr) != SQLITE_OK) {
            throw cSqlFailure(std::string("cannot prepare a statement: ") + sqlite3_errmsg(connection));
        }
    }
    ~cStatement() { sqlite3_finalize(handle); }
    cStatement(const cStatement&) = delete;
    cStatement& operator=(const cStatement&) = delete;

    void text(int index, const std::string& value)
    {
        sqlite3_bind_text(handle, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    }
    void integer(int index, int64_t value) { sqlite3_bind_int64(handle, index, value); }
    std::string column(int index) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(handle, index));
        return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(handle, index))) : std::string();
    }
    // Runs a statement that gives no rows, ready to be bound again.
    void run()
    {
        const int code = sqlite3_step(handle);
        sqlite3_reset(handle);
        if (code != SQLITE_DONE) {
            throw cSqlFailure(sqlite3_errmsg(sqlite3_db_handle(handle)));
        }
    }
};

struct cConnection {
    sqlite3* handle = nullptr;
    ~cConnection() { close(); }
    void close()
    {
        if (handle != nullptr) {
            sqlite3_close_v2(handle);
            handle = nullptr;
        }
    }
    void execute(const char* sql)
    {
        char* message = nullptr;
        if (sqlite3_exec(handle, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string why = message ? message : sqlite3_errmsg(handle);
            sqlite3_free(message);
            throw cSqlFailure(why);
        }
    }
};

void removeFile(const std::string& path)
{
    if (!path.empty()) {
        std::remove(path.c_str());
    }
}

// The file stays on disk only while this holds it.
struct cFileRemover {
    std::string path;
    ~cFileRemover() { removeFile(path); }
};

std::string plural(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Where the old guide's rows of a failed source come from: the installed
// guide, opened hardened (it is read like any other file on disk).
class cOldGuide {
public:
    explicit cOldGuide(const std::string& path)
    {
        if (!kestrel::fileExists(kestrel::fromUtf8(path))) {
            return;
        }
        std::string problem;
        mConnection.handle = openCatalogueConnection(path, problem);
        if (mConnection.handle == nullptr) {
            kestrel::logWarning(Log, "the old guide " + path + " cannot be opened: " + problem);
        }
    }
    bool available() const { return mConnection.handle != nullptr; }
    sqlite3* handle() const { return mConnection.handle; }

private:
    cConnection mConnection;
};

class cBuilder {
public:
    cBuilder(const std::string& partPath, const std::string& stagePath, const cGuideLimits& limits, int64_t now)
        : mLimits(limits), mFrom(now - limits.keepBeforeSeconds), mTo(now + limits.keepAfterSeconds)
    {
        removeFile(partPath);
        removeFile(stagePath);
        if (sqlite3_open_v2(partPath.c_str(), &mConnection.handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            throw cSqlFailure("cannot create " + partPath);
        }
        // Both files are thrown away on any failure: no journal.
        mConnection.execute("pragma journal_mode = off; pragma synchronous = off; pragma cache_size = -8192;");
        {
            cStatement attach(mConnection.handle, "attach database ?1 as stage;");
            attach.text(1, stagePath);
            attach.run();
        }
        mConnection.execute("pragma stage.journal_mode = off; pragma stage.synchronous = off;");
        mConnection.execute(Schema);
        mConnection.execute(StageSchema);
        mInsertSource = std::make_unique<cStatement>(mConnection.handle,
                                                     "insert into sources (id, address) values (?1, ?2);");
        mStageProgramme = std::make_unique<cStatement>(
            mConnection.handle, "insert into stage.programmes (channel, start, stop, title, subtitle, description, "
                                "category, source) values (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8);");
        mStageName = std::make_unique<cStatement>(
            mConnection.handle, "insert into stage.names (key, name, channel, source) values (?1, ?2, ?3, ?4);");
    }

    cXmltvWindow window() const { return {mFrom, mTo}; }

    void addSource(int id, const std::string& address)
    {
        mInsertSource->integer(1, id);
        mInsertSource->text(2, address);
        mInsertSource->run();
    }

    void begin() { mConnection.execute("begin;"); }
    void commit() { mConnection.execute("commit;"); }
    void rollback()
    {
        if (!sqlite3_get_autocommit(mConnection.handle)) {
            sqlite3_exec(mConnection.handle, "rollback;", nullptr, nullptr, nullptr);
        }
    }

    // A channel may be declared again and again with new names: what a
    // channel may have (the reader's cap for one declaration) holds for all
    // its declarations together, and every channel's together.
    void stageName(const std::string& channel, const std::string& name, int source)
    {
        const std::string key = guideNameKey(name);
        if (key.empty()) {
            return;
        }
        size_t& ofChannel = mNamesOf[channel];
        if (ofChannel >= mLimits.read.maxNamesPerChannel ||
            mNamesStaged >= mLimits.read.maxNamesPerChannel * mLimits.read.maxChannels) {
            ++mNamesOverCap;
            return;
        }
        ++ofChannel;
        ++mNamesStaged;
        mStageName->text(1, key);
        mStageName->text(2, name);
        mStageName->text(3, channel);
        mStageName->integer(4, source);
        mStageName->run();
    }

    // False when the guide is full.
    bool stageProgramme(const cXmltvProgramme& programme, int source)
    {
        if (mStaged >= mLimits.read.maxProgrammes) {
            return false;
        }
        mStageProgramme->text(1, programme.channel);
        mStageProgramme->integer(2, programme.start);
        if (programme.stop) {
            mStageProgramme->integer(3, *programme.stop);
        } else {
            sqlite3_bind_null(mStageProgramme->handle, 3);
        }
        mStageProgramme->text(4, programme.title);
        mStageProgramme->text(5, programme.subTitle);
        mStageProgramme->text(6, programme.description);
        mStageProgramme->text(7, programme.category);
        mStageProgramme->integer(8, source);
        mStageProgramme->run();
        ++mStaged;
        return true;
    }

    // True when the programme can show inside the window.
    bool inWindow(const cXmltvProgramme& programme) const
    {
        return programme.start < mTo && (programme.stop ? *programme.stop > mFrom : programme.start >= mFrom);
    }

    // Stages the rows the old guide holds from the source; their count.
    size_t copyOld(const cOldGuide& old, const std::string& address, int source)
    {
        if (!old.available()) {
            return 0;
        }
        size_t copied = 0;
        begin();
        try {
            cStatement rows(old.handle(),
                            "select p.channel, p.start, p.stop, p.title, p.subtitle, p.description, p.category "
                            "from programmes p join sources s on p.source = s.id where s.address = ?1 "
                            "order by p.rowid;");
            rows.text(1, address);
            int code = SQLITE_ROW;
            while ((code = sqlite3_step(rows.handle)) == SQLITE_ROW) {
                cXmltvProgramme programme;
                programme.channel = rows.column(0);
                programme.start = sqlite3_column_int64(rows.handle, 1);
                programme.stop = sqlite3_column_int64(rows.handle, 2);
                programme.title = rows.column(3);
                programme.subTitle = rows.column(4);
                programme.description = rows.column(5);
                programme.category = rows.column(6);
                if (*programme.stop <= mFrom || programme.start >= mTo || *programme.stop <= programme.start) {
                    continue;
                }
                if (!stageProgramme(programme, source)) {
                    break;
                }
                ++copied;
            }
            cStatement names(old.handle(), "select n.channel, n.name from names n join sources s "
                                           "on n.source = s.id where s.address = ?1 order by n.rowid;");
            names.text(1, address);
            while (sqlite3_step(names.handle) == SQLITE_ROW) {
                stageName(names.column(0), names.column(1), source);
            }
        } catch (const cSqlFailure& failure) {
            kestrel::logWarning(Log, "the old guide's programmes of " + address + " cannot be read: " +
                                         failure.what());
        }
        commit();
        return copied;
    }

    // Writes the staged programmes into the guide, each channel's in start
    // order: a programme without a stop ends where the next one starts, a
    // later start cuts an earlier programme short, and of two programmes
    // with the same start the first staged is kept. Then the channels, the
    // names and the indexes. Returns the rows kept per source id.
    std::vector<size_t> settle(size_t sourceCount, const std::function<bool()>& stop, bool& stopped)
    {
        std::vector<size_t> perSource(sourceCount + 1, 0);
        mConnection.execute("create index stage.programmes_by_start on programmes (channel, start, seq);");
        mConnection.execute("begin;");
        cStatement rows(mConnection.handle,
                        "select channel, start, stop, title, subtitle, description, category, source "
                        "from stage.programmes order by channel, start, seq;");
        cStatement insert(mConnection.handle,
                          "insert into programmes (channel, start, stop, title, subtitle, description, category, "
                          "source) values (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8);");
        // One channel's programmes at a time, in start order, settled by
        // the rule of Settling.h and written.
        struct cStaged {
            std::string title, subTitle, description, category;
            int64_t source = 0;
        };
        std::string channel;
        std::vector<cStagedTimes> times;
        std::vector<cStaged> staged;
        const auto writeChannel = [&] {
            cSettleCounts counts;
            for (const cSettledTimes& kept : settleChannel(times, mFrom, mTo, counts)) {
                const cStaged& programme = staged[kept.index];
                insert.text(1, channel);
                insert.integer(2, kept.start);
                insert.integer(3, kept.stop);
                insert.text(4, programme.title);
                insert.text(5, programme.subTitle);
                insert.text(6, programme.description);
                insert.text(7, programme.category);
                insert.integer(8, programme.source);
                insert.run();
                if (programme.source >= 0 && static_cast<size_t>(programme.source) < perSource.size()) {
                    ++perSource[static_cast<size_t>(programme.source)];
                }
                ++mProgrammes;
            }
            mSameStart += counts.sameStart;
            mOverlapsCut += counts.overlapsCut;
            mWithoutEnd += counts.withoutEnd;
            times.clear();
            staged.clear();
        };
        int code = SQLITE_ROW;
        size_t seen = 0;
        while ((code = sqlite3_step(rows.handle)) == SQLITE_ROW) {
            if (++seen % 4096 == 0 && stop && stop()) {
                stopped = true;
                return perSource;
            }
            const std::string rowChannel = rows.column(0);
            if (rowChannel != channel) {
                writeChannel();
                channel = rowChannel;
            }
            cStagedTimes programme;
            programme.start = sqlite3_column_int64(rows.handle, 1);
            if (sqlite3_column_type(rows.handle, 2) != SQLITE_NULL) {
                programme.stop = sqlite3_column_int64(rows.handle, 2);
            }
            times.push_back(programme);
            staged.push_back({rows.column(3), rows.column(4), rows.column(5), rows.column(6),
                              sqlite3_column_int64(rows.handle, 7)});
        }
        if (code != SQLITE_DONE) {
            throw cSqlFailure(sqlite3_errmsg(mConnection.handle));
        }
        writeChannel();

        {
            cStatement ids(mConnection.handle, "select distinct channel from programmes order by channel;");
            cStatement channel(mConnection.handle, "insert into channels (id, folded) values (?1, ?2);");
            while (sqlite3_step(ids.handle) == SQLITE_ROW) {
                const std::string id = ids.column(0);
                channel.text(1, id);
                channel.text(2, foldGuideId(id));
                channel.run();
                ++mChannels;
            }
        }
        // Each name once per channel, in the order the sources gave them.
        mConnection.execute("insert into names (key, name, channel, source) "
                            "select key, name, channel, source from "
                            "(select key, name, channel, source, min(rowid) as first from stage.names "
                            "where channel in (select id from channels) group by key, channel) order by first;");
        mConnection.execute(Indexes);
        mConnection.execute("commit;");
        return perSource;
    }

    // The finished file passes SQLite's own check and closes cleanly.
    void finish(const std::string& stagePath)
    {
        mStageProgramme.reset();
        mStageName.reset();
        mInsertSource.reset();
        mConnection.execute("detach database stage;");
        removeFile(stagePath);
        cStatement check(mConnection.handle, "pragma quick_check;");
        if (sqlite3_step(check.handle) != SQLITE_ROW || check.column(0) != "ok") {
            throw cSqlFailure("the new guide fails SQLite's check");
        }
        sqlite3_finalize(check.handle);
        check.handle = nullptr;
        if (sqlite3_close(mConnection.handle) != SQLITE_OK) {
            throw cSqlFailure("the new guide cannot be closed");
        }
        mConnection.handle = nullptr;
    }

    size_t channels() const { return mChannels; }
    size_t programmes() const { return mProgrammes; }

    // From now on, any statement of the builder ends at its next look at
    // the stop request (every few thousand steps of SQLite's): sorting and
    // indexing a large guide takes seconds.
    void watchStop(const std::function<bool()>& stop)
    {
        mStop = stop;
        sqlite3_progress_handler(
            mConnection.handle, 10000,
            [](void* self) -> int {
                auto* builder = static_cast<cBuilder*>(self);
                builder->mStopped = builder->mStopped || (builder->mStop && builder->mStop());
                return builder->mStopped ? 1 : 0;
            },
            this);
    }
    bool stopped() const { return mStopped; }

    void logSettling() const
    {
        if (mNamesOverCap > 0) {
            kestrel::logWarning(Log, plural(mNamesOverCap, "display-name", "display-names") +
                                         " beyond " + std::to_string(mLimits.read.maxNamesPerChannel) +
                                         " a channel (or the guide's cap) left out");
        }
        if (mSameStart > 0) {
            kestrel::logInfo(Log, plural(mSameStart, "programme", "programmes") +
                                      " with the start of another on its channel left out");
        }
        if (mOverlapsCut > 0) {
            kestrel::logWarning(Log, plural(mOverlapsCut, "programme", "programmes") +
                                         " overlapping the next one on its channel cut short");
        }
        if (mWithoutEnd > 0) {
            kestrel::logWarning(Log, plural(mWithoutEnd, "programme", "programmes") +
                                         " without a stop time and without a next programme skipped");
        }
    }

private:
    const cGuideLimits& mLimits;
    const int64_t mFrom, mTo;
    cConnection mConnection;
    std::unique_ptr<cStatement> mInsertSource, mStageProgramme, mStageName;
    size_t mStaged = 0;
    std::unordered_map<std::string, size_t> mNamesOf; // names staged per channel id
    size_t mNamesStaged = 0, mNamesOverCap = 0;
    std::function<bool()> mStop;
    bool mStopped = false; // the stop request interrupted a statement
    size_t mSameStart = 0, mOverlapsCut = 0, mWithoutEnd = 0;
    size_t mChannels = 0, mProgrammes = 0;
};

// Old downloads of a refresh that did not end ("gui" + hex digits +
// ".tmp").
void removeLeftDownloads(const std::string& folder)
{
    static const std::regex Name("gui[0-9A-F]{1,4}\\.tmp");
    std::error_code ignored;
    for (const auto& item : std::filesystem::directory_iterator(folder, ignored)) {
        if (std::regex_match(item.path().filename().string(), Name)) {
            std::filesystem::remove(item.path(), ignored);
        }
    }
}

// Brings a web source into a file in the folder. Throws cFetchStopped.
bool download(const std::string& address, const std::u16string& folder, const cGuideLimits& limits,
              const std::function<bool()>& stop, std::string& path, std::string& error)
{
    const std::u16string temporary = kestrel::makeTempFileName(folder, u"gui");
    if (temporary.empty()) {
        error = "cannot make a temporary file in " + kestrel::toUtf8(folder);
        return false;
    }
    path = kestrel::toUtf8(temporary);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + path;
        return false;
    }
    const cFetchLimits fetch =
        webSourceLimits(limits.networkTimeoutMs, limits.sourceDeadlineMs, limits.maxWireBytes, limits.maxRedirects);
    bool written = true;
    try {
        fetchAddress(
            address, fetch,
            [&](const char* data, size_t size) {
                if (written && std::fwrite(data, 1, size, file) != size) {
                    written = false;
                }
            },
            stop);
    } catch (const cFetchFailure& failure) {
        std::fclose(file);
        error = failure.what();
        return false;
    } catch (...) {
        std::fclose(file);
        throw;
    }
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write " + path + " (disk full?)";
        return false;
    }
    return true;
}

} // namespace

std::u16string guideFilePath(const std::u16string& channelFolder)
{
    std::u16string path = channelFolder;
    if (!path.empty() && path.back() != u'/') {
        path += u'/';
    }
    return path + u"guide";
}

std::vector<std::string> cGuideRefreshOutcome::lines() const
{
    std::vector<std::string> lines;
    for (const cGuideSourceReport& source : sources) {
        if (source.read) {
            lines.push_back(source.source + ": " + plural(source.programmes, "programme", "programmes"));
        } else {
            lines.push_back(source.source + ": failed: " + source.problem +
                            (source.keptOldProgrammes
                                 ? " (its " + plural(source.programmes, "programme", "programmes") +
                                       " of the last guide kept)"
                                 : ""));
        }
    }
    return lines;
}

cGuideRefreshOutcome refreshGuide(const std::vector<std::string>& sources, const std::u16string& channelFolder,
                                  const cGuideLimits& limits, int64_t nowUtc, const std::function<bool()>& stop)
{
    cGuideRefreshOutcome outcome;
    const std::u16string guidePath = guideFilePath(channelFolder);
    std::string folder, path;
    if (!kestrel::toNativePath(channelFolder, folder) || !kestrel::toNativePath(guidePath, path)) {
        outcome.problem = "the channel folder's name is not valid text";
        return outcome;
    }
    if (sources.empty()) {
        outcome.problem = "no guide source";
        return outcome;
    }
    const std::string partPath = path + ".part";
    const std::string stagePath = path + ".stage";
    cFileRemover removePart{partPath};
    cFileRemover removeStage{stagePath};
    removeLeftDownloads(folder);
    const auto stopped = [&stop] { return stop && stop(); };
    const auto stoppedOutcome = [&outcome] {
        outcome.result = eGuideRefresh::Stopped;
        outcome.problem = "stopped";
        kestrel::logInfo(Log, "the guide refresh was stopped; the old guide was kept");
        return outcome;
    };

    try {
        cBuilder builder(partPath, stagePath, limits, nowUtc);
        const cOldGuide old(path);
        size_t readSources = 0;
        int id = 0;
        for (const std::string& source : sources) {
            ++id;
            cGuideSourceReport report;
            report.source = source;
            builder.addSource(id, source);
            if (stopped()) {
                return stoppedOutcome();
            }
            std::string file;
            cFileRemover removeDownload;
            std::string error;
            bool fetched = true;
            if (isWebAddress(source)) {
                try {
                    fetched = download(source, channelFolder, limits, stop, file, error);
                } catch (const cFetchStopped&) {
                    removeFile(file);
                    return stoppedOutcome();
                }
                removeDownload.path = file;
            } else if (source.find("://") != std::string::npos) {
                fetched = false;
                error = "neither a file nor an http or https address";
            } else {
                file = source;
            }
            size_t inWindow = 0;
            cXmltvResult read;
            if (fetched) {
                cXmltvSink sink;
                sink.channel = [&](const cXmltvChannel& channel) {
                    for (const std::string& name : channel.names) {
                        builder.stageName(channel.id, name, id);
                    }
                };
                sink.programme = [&](const cXmltvProgramme& programme) {
                    if (!builder.stageProgramme(programme, id)) {
                        return false;
                    }
                    inWindow += builder.inWindow(programme) ? 1 : 0;
                    return true;
                };
                builder.begin();
                read = readXmltvFile(file, limits.read, builder.window(), sink, stop);
                if (read.stopped) {
                    builder.rollback();
                    return stoppedOutcome();
                }
                for (const std::string& problem : read.problems) {
                    kestrel::logWarning(Log, "guide " + source + ": " + problem);
                }
                if (read.timesWithoutOffset > 0) {
                    kestrel::logInfo(Log, "guide " + source + ": " +
                                              plural(read.timesWithoutOffset, "time", "times") +
                                              " without a UTC offset read as UTC");
                }
                if (!read.whole) {
                    error = read.error;
                } else if (inWindow == 0) {
                    error = "no programme between " + std::to_string(builder.window().from) + " and " +
                            std::to_string(builder.window().to) + " (UTC seconds)";
                }
            }
            if (fetched && read.whole && inWindow > 0) {
                builder.commit();
                report.read = true;
                ++readSources;
                kestrel::logInfo(Log, "guide " + source + ": " + plural(read.channels, "channel", "channels") + ", " +
                                          plural(inWindow, "programme", "programmes") + " in the window");
            } else {
                builder.rollback();
                report.problem = error;
                const size_t copied = builder.copyOld(old, source, id);
                report.keptOldProgrammes = copied > 0;
                kestrel::logWarning(Log, "guide " + source + " failed: " + error +
                                             (copied > 0 ? "; its " + plural(copied, "programme", "programmes") +
                                                               " of the last guide are kept"
                                                         : ""));
            }
            outcome.sources.push_back(report);
        }
        if (readSources == 0) {
            outcome.problem = "no guide source could be read";
            kestrel::logWarning(Log, "no guide source could be read; the old guide was kept");
            return outcome;
        }
        bool wasStopped = false;
        builder.watchStop(stop);
        const std::vector<size_t> perSource = builder.settle(sources.size(), stop, wasStopped);
        if (wasStopped) {
            return stoppedOutcome();
        }
        builder.logSettling();
        builder.finish(stagePath);
        if (stopped()) {
            return stoppedOutcome();
        }
        for (size_t i = 0; i < outcome.sources.size(); ++i) {
            outcome.sources[i].programmes = perSource[i + 1];
        }
        outcome.channels = builder.channels();
        outcome.programmes = builder.programmes();
    } catch (const cSqlFailure& failure) {
        if (stopped()) {
            return stoppedOutcome();
        }
        outcome.problem = std::string("the new guide cannot be written: ") + failure.what();
        kestrel::logWarning(Log, outcome.problem + "; the old guide was kept");
        return outcome;
    }

    // The finished file must open as a guide before it takes the name.
    if (cGuide::open(kestrel::fromUtf8(partPath)) == nullptr) {
        outcome.problem = "the new guide cannot be read back";
        kestrel::logWarning(Log, outcome.problem + "; the old guide was kept");
        return outcome;
    }
    FILE* file = std::fopen(partPath.c_str(), "rb");
    const bool flushed = file != nullptr && fsync(fileno(file)) == 0;
    if (file != nullptr) {
        std::fclose(file);
    }
    // The last look at the stop before the new guide replaces the old.
    if (stopped()) {
        return stoppedOutcome();
    }
    if (!flushed || std::rename(partPath.c_str(), path.c_str()) != 0) {
        outcome.problem = "cannot install " + partPath + " as " + path + ": " + std::strerror(errno);
        kestrel::logWarning(Log, outcome.problem + "; the old guide was kept");
        return outcome;
    }
    outcome.result = eGuideRefresh::Installed;
    kestrel::logInfo(Log, "installed a guide of " + plural(outcome.programmes, "programme", "programmes") + " on " +
                              plural(outcome.channels, "channel", "channels"));
    return outcome;
}

std::unique_ptr<cGuide> cGuide::open(const std::u16string& path)
{
    std::string native;
    if (!kestrel::toNativePath(path, native) || !kestrel::fileExists(path)) {
        return nullptr;
    }
    std::string problem;
    sqlite3* connection = openCatalogueConnection(native, problem);
    if (connection == nullptr) {
        kestrel::logWarning(Log, "the guide " + native + " cannot be opened: " + problem);
        return nullptr;
    }
    std::unique_ptr<cGuide> guide(new cGuide());
    guide->mConnection = connection;
    const struct {
        sqlite3_stmt** statement;
        const char* sql;
    } Statements[] = {
        {&guide->mById, "select id from channels where id = ?1;"},
        {&guide->mByFoldedId, "select id from channels where folded = ?1 order by rowid limit 1;"},
        {&guide->mByName, "select channel from names where key = ?1 order by rowid limit 1;"},
        {&guide->mNowNext, "select start, stop, title, subtitle, description, category from programmes "
                           "where channel = ?1 and stop > ?2 order by stop limit 2;"},
    };
    for (const auto& statement : Statements) {
        if (sqlite3_prepare_v3(connection, statement.sql, -1, SQLITE_PREPARE_PERSISTENT, statement.statement,
                               nullptr) != SQLITE_OK) {
            kestrel::logWarning(Log, "the guide " + native + " is not a guide: " + sqlite3_errmsg(connection));
            return nullptr;
        }
    }
    return guide;
}

cGuide::~cGuide()
{
    for (sqlite3_stmt* statement : {mById, mByFoldedId, mByName, mNowNext}) {
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(mConnection);
}

namespace {

// The first column of the statement's first row for one text, or empty.
std::string firstText(sqlite3_stmt* statement, const std::string& value)
{
    sqlite3_bind_text(statement, 1, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    std::string found;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        if (text != nullptr) {
            found.assign(text, static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
        }
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return found;
}

std::string columnText(sqlite3_stmt* statement, int index)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, index))) : std::string();
}

} // namespace

std::string cGuide::matchChannel(const std::string& tvgId, const std::string& name) const
{
    if (!tvgId.empty()) {
        std::string found = firstText(mById, tvgId);
        if (found.empty()) {
            found = firstText(mByFoldedId, foldGuideId(tvgId));
        }
        if (!found.empty()) {
            return found;
        }
    }
    const std::string key = guideNameKey(name);
    return key.empty() ? std::string() : firstText(mByName, key);
}

cNowNext cGuide::nowNext(const std::string& guideChannelId, int64_t nowUtc) const
{
    cNowNext result;
    sqlite3_bind_text(mNowNext, 1, guideChannelId.data(), static_cast<int>(guideChannelId.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(mNowNext, 2, nowUtc);
    for (int row = 0; row < 2 && sqlite3_step(mNowNext) == SQLITE_ROW; ++row) {
        cProgramme programme;
        programme.start = sqlite3_column_int64(mNowNext, 0);
        programme.stop = sqlite3_column_int64(mNowNext, 1);
        programme.title = columnText(mNowNext, 2);
        programme.subTitle = columnText(mNowNext, 3);
        programme.description = columnText(mNowNext, 4);
        programme.category = columnText(mNowNext, 5);
        if (row == 0 && programme.start <= nowUtc) {
            result.now = std::move(programme);
        } else if (!result.next) {
            result.next = std::move(programme);
        }
    }
    sqlite3_reset(mNowNext);
    sqlite3_clear_bindings(mNowNext);
    return result;
}

size_t cGuide::channelCount() const
{
    sqlite3_stmt* statement = nullptr;
    size_t count = 0;
    if (sqlite3_prepare_v2(mConnection, "select count(*) from channels;", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        count = static_cast<size_t>(sqlite3_column_int64(statement, 0));
    }
    sqlite3_finalize(statement);
    return count;
}
