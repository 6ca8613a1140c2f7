#include "catalogue/CatalogueBuilder.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <istream>
#include <ostream>

#include <sqlite3.h>
#include <unistd.h>

#include "catalogue/AddressCodec.h"
#include "catalogue/CatalogueCheck.h"
#include "catalogue/CatalogueConnection.h"
#include "kestrel/Exception.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"

namespace {

// One input line longer than this is refused rather than stored: no field
// of a real channel comes near it.
constexpr size_t MaxLineBytes = 64 * 1024;

// The statements of the browser (country, type, name filters and groups)
// each find a matching index here. Rows with equal keys stay in table order
// inside an index, so "the first row" of a lookup is the same with the
// indexes as without them.
const char* const IndexStatements[] = {
    "create index channels_country_type_name on channels (country, type, name);",
    "create index channels_type_name on channels (type, name);",
    "create index channels_country_name on channels (country, name);",
    "create index channels_name on channels (name);",
};

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

bool isValidUtf8(const std::string& text)
{
    try {
        kestrel::fromUtf8(text);
        return text.find('\0') == std::string::npos;
    } catch (const kestrel::cUnicodeConversionException&) {
        return false;
    }
}

class cConnection {
public:
    ~cConnection() { sqlite3_close(mHandle); }
    sqlite3* mHandle = nullptr; // owned
};

class cStatement {
public:
    ~cStatement() { sqlite3_finalize(mHandle); }
    sqlite3_stmt* mHandle = nullptr; // owned
};

bool execute(sqlite3* connection, const char* statement, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(connection, statement, nullptr, nullptr, &message) != SQLITE_OK) {
        error = std::string(statement) + ": " + (message ? message : "failed");
        sqlite3_free(message);
        return false;
    }
    return true;
}

// A field as one printable piece of a line: valid UTF-8, tabs and line
// breaks as blanks, other control characters escaped, so that a catalogue
// from elsewhere cannot break the listing's lines or drive the terminal.
std::string oneLine(const std::string& text) { return kestrel::printableText(text, true); }

std::string columnText(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

// A table of values kept once per address beside `channels` (the first
// entry's), keyed by headersKey() of the address, made only when some entry
// has such values: a catalogue of channels without any is the same file as
// it always was. values(entry) gives the columns after the key, or nothing
// for an entry without them.
bool writeAddressTable(sqlite3* connection, const std::vector<cListingEntry>& entries, const std::string& table,
                       const std::vector<std::string>& columns,
                       const std::function<std::vector<const std::string*>(const cListingEntry&)>& values,
                       std::string& error)
{
    const bool any = std::any_of(entries.begin(), entries.end(),
                                 [&values](const cListingEntry& entry) { return !values(entry).empty(); });
    if (!any) {
        return true;
    }
    std::string create = "create table " + table + " (url text";
    std::string insertText = "insert into " + table + " (url";
    std::string parameters = "?1";
    for (size_t i = 0; i < columns.size(); ++i) {
        create += ", " + columns[i] + " text";
        insertText += ", " + columns[i];
        parameters += ", ?" + std::to_string(i + 2);
    }
    const std::string index = "create index " + table + "_url on " + table + " (url);";
    if (!execute(connection, (create + ");").c_str(), error) || !execute(connection, index.c_str(), error)) {
        return false;
    }
    cStatement insert;
    if (sqlite3_prepare_v2(connection, (insertText + ") values (" + parameters + ");").c_str(), -1, &insert.mHandle,
                           nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(connection);
        return false;
    }
    std::set<std::string> written;
    for (const cListingEntry& entry : entries) {
        std::vector<const std::string*> row = values(entry);
        if (row.empty() || !written.insert(entry.address).second) {
            continue;
        }
        const std::string key = kestrel::toUtf8(headersKey(kestrel::fromUtf8(entry.address)));
        row.insert(row.begin(), &key);
        for (size_t i = 0; i < row.size(); ++i) {
            sqlite3_bind_text(insert.mHandle, static_cast<int>(i + 1), row[i]->data(),
                              static_cast<int>(row[i]->size()), SQLITE_TRANSIENT);
        }
        if (sqlite3_step(insert.mHandle) != SQLITE_DONE) {
            error = sqlite3_errmsg(connection);
            return false;
        }
        sqlite3_reset(insert.mHandle);
    }
    return true;
}

// The guide shifts of the channels, as text of whole minutes.
bool writeShiftTable(sqlite3* connection, const std::vector<cListingEntry>& entries, std::string& error)
{
    std::vector<std::string> minutes(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        minutes[i] = std::to_string(entries[i].guideShiftMinutes);
    }
    return writeAddressTable(connection, entries, "channel_guide_shift", {"minutes"},
                             [&entries, &minutes](const cListingEntry& entry) {
                                 const size_t index = static_cast<size_t>(&entry - entries.data());
                                 return entry.guideShiftMinutes == 0
                                            ? std::vector<const std::string*>()
                                            : std::vector<const std::string*>{&minutes[index]};
                             },
                             error);
}

// The request headers and the guide ids of the channels.
bool writeChannelTables(sqlite3* connection, const std::vector<cListingEntry>& entries, std::string& error)
{
    return writeAddressTable(connection, entries, "channel_headers", {"user_agent", "referrer", "origin"},
                             [](const cListingEntry& entry) {
                                 return entry.headers.empty()
                                            ? std::vector<const std::string*>()
                                            : std::vector<const std::string*>{&entry.headers.userAgent,
                                                                              &entry.headers.referrer,
                                                                              &entry.headers.origin};
                             },
                             error) &&
           writeAddressTable(connection, entries, "channel_guide", {"guide_id"}, [](const cListingEntry& entry) {
               return entry.guideId.empty() ? std::vector<const std::string*>()
                                            : std::vector<const std::string*>{&entry.guideId};
           }, error) &&
           writeShiftTable(connection, entries, error);
}

} // namespace

bool parseListing(std::istream& listing, std::vector<cListingEntry>& entries, std::string& error)
{
    std::vector<cListingEntry> parsed;
    std::string line;
    for (size_t number = 1; std::getline(listing, line); ++number) {
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.size() > MaxLineBytes) {
            error = where + "longer than " + std::to_string(MaxLineBytes) + " bytes";
            return false;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (!isValidUtf8(line)) {
            error = where + "not valid UTF-8 text";
            return false;
        }
        const std::vector<std::string> fields = splitTabs(line);
        if (fields.size() != 5) {
            error = where + "expected 5 tab-separated fields (country, type, name, description, address), found " +
                    std::to_string(fields.size());
            return false;
        }
        cListingEntry entry{fields[0], fields[1], fields[2], fields[3], fields[4]};
        if (entry.country.empty() || entry.type.empty() || entry.name.empty()) {
            error = where + "country, type and name must not be empty";
            return false;
        }
        if (entry.address.empty()) {
            error = where + "the address is empty";
            return false;
        }
        for (unsigned char c : entry.address) {
            if (c < 0x20 || c >= 0x7F) {
                error = where + "the address must be printable ASCII";
                return false;
            }
        }
        parsed.push_back(std::move(entry));
    }
    if (listing.bad()) {
        error = "the listing could not be read";
        return false;
    }
    entries = std::move(parsed);
    return true;
}

bool buildCatalogue(const std::vector<cListingEntry>& entries, const std::string& outputPath,
                    const cBuildOptions& options, std::string& error)
{
    const std::string partPath = outputPath + ".part";
    std::remove(partPath.c_str());
    bool built = false;
    {
        cConnection connection;
        if (sqlite3_open_v2(partPath.c_str(), &connection.mHandle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            error = "cannot create " + partPath;
        } else {
            built = [&] {
                // The part file is thrown away on any failure, so the build
                // needs no journal.
                if (!execute(connection.mHandle, "pragma journal_mode = off;", error) ||
                    !execute(connection.mHandle, "pragma synchronous = off;", error) ||
                    !execute(connection.mHandle,
                             "create table channels (country text, type text, name text, description text, "
                             "url text);",
                             error) ||
                    !execute(connection.mHandle, "begin;", error)) {
                    return false;
                }
                cStatement insert;
                if (sqlite3_prepare_v2(connection.mHandle,
                                       "insert into channels (country, type, name, description, url) "
                                       "values (?1, ?2, ?3, ?4, ?5);",
                                       -1, &insert.mHandle, nullptr) != SQLITE_OK) {
                    error = sqlite3_errmsg(connection.mHandle);
                    return false;
                }
                if (!writeChannelTables(connection.mHandle, entries, error)) {
                    return false;
                }
                cAddressGenerator generator;
                for (const cListingEntry& entry : entries) {
                    const std::string url =
                        kestrel::toUtf8(encodeAddress(kestrel::fromUtf8(entry.address), generator));
                    const std::string* values[] = {&entry.country, &entry.type, &entry.name, &entry.description,
                                                   &url};
                    for (int i = 0; i < 5; ++i) {
                        sqlite3_bind_text(insert.mHandle, i + 1, values[i]->data(),
                                          static_cast<int>(values[i]->size()), SQLITE_TRANSIENT);
                    }
                    if (sqlite3_step(insert.mHandle) != SQLITE_DONE) {
                        error = sqlite3_errmsg(connection.mHandle);
                        return false;
                    }
                    sqlite3_reset(insert.mHandle);
                }
                if (options.indexes) {
                    for (const char* statement : IndexStatements) {
                        if (!execute(connection.mHandle, statement, error)) {
                            return false;
                        }
                    }
                }
                return execute(connection.mHandle, "commit;", error);
            }();
        }
    }
    std::string problem;
    if (built && !checkCatalogueFile(kestrel::fromUtf8(partPath), problem)) {
        error = "the built catalogue fails its check: " + problem;
        built = false;
    }
    if (built) {
        // Flush the finished file before it takes the target's name.
        FILE* file = std::fopen(partPath.c_str(), "rb");
        built = file && fsync(fileno(file)) == 0;
        if (file) {
            std::fclose(file);
        }
        if (!built) {
            error = "cannot flush " + partPath;
        }
    }
    if (built && std::rename(partPath.c_str(), outputPath.c_str()) != 0) {
        error = "cannot rename " + partPath + " to " + outputPath;
        built = false;
    }
    if (!built) {
        std::remove(partPath.c_str());
    }
    return built;
}

bool listCatalogue(const std::string& catalogPath, std::ostream& out, std::string& error)
{
    std::string problem;
    if (!checkCatalogueFile(kestrel::fromUtf8(catalogPath), problem)) {
        // The reason may quote the file (a view's name): printable, like
        // the listing.
        error = catalogPath + " is not a catalogue: " + oneLine(problem);
        return false;
    }
    cConnection connection;
    cStatement select;
    connection.mHandle = openCatalogueConnection(catalogPath, problem);
    if (!connection.mHandle) {
        error = "cannot open " + catalogPath + ": " + problem;
        return false;
    }
    if (sqlite3_prepare_v2(connection.mHandle,
                           "select country, type, name, description, url from channels order by rowid;", -1,
                           &select.mHandle, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(connection.mHandle);
        return false;
    }
    int result;
    while ((result = sqlite3_step(select.mHandle)) == SQLITE_ROW) {
        for (int column = 0; column < 4; ++column) {
            out << oneLine(columnText(select.mHandle, column)) << '\t';
        }
        // Column 4 holds hexadecimal digits; the decoded address is ASCII,
        // control characters included.
        const std::string digits = columnText(select.mHandle, 4);
        out << oneLine(kestrel::toUtf8(decodeAddress(std::u16string(digits.begin(), digits.end())))) << '\n';
    }
    if (result != SQLITE_DONE) {
        error = sqlite3_errmsg(connection.mHandle);
        return false;
    }
    return static_cast<bool>(out);
}
