#include "catalogue/CatalogueCheck.h"

#include <string>

#include <sqlite3.h>

#include "kestrel/File.h"

namespace {

// Every statement of the check reads at most the whole file once.
constexpr std::chrono::milliseconds CheckStatementTime{5000};

class cConnection {
public:
    ~cConnection() { sqlite3_close(mHandle); }
    sqlite3* mHandle = nullptr; // owned; closed on destruction
};

class cStatement {
public:
    ~cStatement() { sqlite3_finalize(mHandle); }
    sqlite3_stmt* mHandle = nullptr; // owned
};

std::string columnText(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

// The header is read before SQLite opens the file. A file too short for a
// header, or without SQLite's magic, is left to SQLite to refuse.
bool checkHeader(const std::string& nativePath, std::string& problem)
{
    const cCatalogueHeader header = readCatalogueHeader(nativePath);
    if (!header.sqlite) {
        return true;
    }
    if (header.writeVersion != 1 || header.readVersion != 1) {
        problem = header.writeVersion == 2 || header.readVersion == 2
                      ? "the file is in WAL mode, not in rollback-journal mode"
                      : "the file's journal format is unknown";
        return false;
    }
    if (header.encoding > 1) {
        problem = header.encoding == 2   ? "the file's text is UTF-16 little-endian, not UTF-8"
                  : header.encoding == 3 ? "the file's text is UTF-16 big-endian, not UTF-8"
                                         : "the file's text encoding is unknown";
        return false;
    }
    return true;
}

// Runs a statement with the bound integers and hands each row to the
// visitor until it returns false. False with the reason when the statement
// cannot run to its end.
template <typename tVisitor>
bool eachRow(sqlite3* connection, const char* text, std::initializer_list<int64_t> values, std::string& problem,
             tVisitor visit)
{
    cStatement statement;
    if (sqlite3_prepare_v2(connection, text, -1, &statement.mHandle, nullptr) != SQLITE_OK) {
        problem = sqlite3_errmsg(connection);
        return false;
    }
    int position = 1;
    for (const int64_t value : values) {
        sqlite3_bind_int64(statement.mHandle, position++, value);
    }
    int result;
    while ((result = sqlite3_step(statement.mHandle)) == SQLITE_ROW) {
        if (!visit(statement.mHandle)) {
            return true;
        }
    }
    if (result != SQLITE_DONE) {
        problem = sqlite3_errmsg(connection);
        return false;
    }
    return true;
}

// A plain table: not a view, not a virtual table, with rowids (the
// browser's "first row" is the first in rowid order), and no generated or
// hidden column. A table that is not there passes unless it is required.
bool checkPlainTable(sqlite3* db, const std::string& table, bool required, std::string& problem)
{
    std::string kind;
    bool withoutRowid = false;
    const std::string list = "select type, wr from pragma_table_list where schema = 'main' and name = '" + table +
                             "' collate nocase;";
    if (!eachRow(db, list.c_str(), {}, problem, [&](sqlite3_stmt* row) {
            kind = columnText(row, 0);
            withoutRowid = sqlite3_column_int(row, 1) != 0;
            return false;
        })) {
        return false;
    }
    if (kind.empty()) {
        if (required) {
            problem = "no such table: " + table;
            return false;
        }
        return true;
    }
    if (kind != "table" || withoutRowid) {
        problem = table + " is not a plain table (" + (withoutRowid ? std::string("without rowid") : kind) + ")";
        return false;
    }
    // Hidden 2 and 3 are generated columns, 1 a virtual table's hidden one.
    std::string generated;
    const std::string columns = "select name from pragma_table_xinfo('" + table + "') where hidden != 0;";
    if (!eachRow(db, columns.c_str(), {}, problem, [&generated](sqlite3_stmt* row) {
            generated = columnText(row, 0);
            return false;
        })) {
        return false;
    }
    if (!generated.empty()) {
        problem = table + " has a generated or hidden column: " + generated;
        return false;
    }
    return true;
}

} // namespace

cCatalogueBounds catalogueCheckBounds()
{
    cCatalogueBounds bounds;
    bounds.statementTime = CheckStatementTime;
    return bounds;
}

bool checkCatalogueFile(const std::u16string& path, std::string& problem)
{
    return checkCatalogueFile(path, problem, cCatalogueCaps());
}

bool checkCatalogueFile(const std::u16string& path, std::string& problem, const cCatalogueCaps& caps)
{
    std::string nativePath;
    if (!kestrel::toNativePath(path, nativePath) || !kestrel::fileExists(path)) {
        problem = "no such file";
        return false;
    }
    if (!checkHeader(nativePath, problem)) {
        return false;
    }
    cConnection connection;
    connection.mHandle = openCatalogueConnection(nativePath, problem, catalogueCheckBounds());
    if (!connection.mHandle) {
        return false;
    }
    sqlite3* db = connection.mHandle;

    // No virtual table anywhere (full-text, r-tree or any module's): its
    // code would run on every query.
    std::string virtualTable;
    if (!eachRow(db, "select name from pragma_table_list where type in ('virtual', 'shadow') order by type != 'virtual' limit 1;", {}, problem,
                 [&virtualTable](sqlite3_stmt* row) {
                     virtualTable = columnText(row, 0);
                     return false;
                 })) {
        return false;
    }
    if (!virtualTable.empty()) {
        problem = virtualTable + " is a virtual table";
        return false;
    }
    // Every table the player reads must be plain: `channels` always, the
    // side tables of request headers and guide ids when they are there.
    for (const char* table : {"channels", "channel_headers", "channel_guide", "channel_guide_shift"}) {
        const bool required = std::string(table) == "channels";
        if (!checkPlainTable(db, table, required, problem)) {
            return false;
        }
    }
    std::string code;
    if (!eachRow(db, "select type, name from sqlite_schema where type in ('view', 'trigger');", {}, problem,
                 [&code](sqlite3_stmt* row) {
                     code = columnText(row, 0) + " " + columnText(row, 1);
                     return false;
                 })) {
        return false;
    }
    if (!code.empty()) {
        problem = "the file holds code: " + code;
        return false;
    }

    // The integrity check evaluates what the schema holds (constraints), so
    // it runs once the schema is known to be plain.
    std::string verdict;
    if (!eachRow(db, "pragma quick_check;", {}, problem, [&verdict](sqlite3_stmt* row) {
            verdict = columnText(row, 0);
            return false;
        })) {
        return false;
    }
    if (verdict != "ok") {
        problem = verdict.empty() ? "the integrity check gave no answer" : verdict;
        return false;
    }

    // Preparing a statement over every column the program reads proves that
    // the columns exist.
    if (!eachRow(db, "select country, type, name, description, url from channels limit 1;", {}, problem,
                 [](sqlite3_stmt*) { return false; })) {
        return false;
    }

    int64_t rows = 0;
    if (!eachRow(db, "select count(*) from channels;", {}, problem, [&rows](sqlite3_stmt* row) {
            rows = sqlite3_column_int64(row, 0);
            return false;
        })) {
        return false;
    }
    if (rows > caps.maxRows) {
        problem = "more than " + std::to_string(caps.maxRows) + " rows (" + std::to_string(rows) + ")";
        return false;
    }
    bool tooLong = false;
    std::string longRow;
    if (!eachRow(db,
                 "select rowid from channels where length(cast(country as blob)) > ?1 or "
                 "length(cast(type as blob)) > ?1 or length(cast(name as blob)) > ?1 or "
                 "length(cast(description as blob)) > ?1 or length(cast(url as blob)) > ?2 limit 1;",
                 {caps.maxTextBytes, caps.maxEncodedAddressBytes}, problem, [&](sqlite3_stmt* row) {
                     tooLong = true;
                     longRow = columnText(row, 0);
                     return false;
                 })) {
        return false;
    }
    if (tooLong) {
        problem = "row " + longRow + " has a value longer than " + std::to_string(caps.maxTextBytes) +
                  " bytes (" + std::to_string(caps.maxEncodedAddressBytes) + " for an encoded address)";
        return false;
    }
    return true;
}
