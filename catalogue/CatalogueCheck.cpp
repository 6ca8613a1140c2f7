#include "catalogue/CatalogueCheck.h"

#include <sqlite3.h>

#include "kestrel/File.h"

namespace {

class cConnection {
public:
    ~cConnection() { sqlite3_close(mHandle); }
    sqlite3* mHandle = nullptr; // owned; closed on destruction
};

} // namespace

bool checkCatalogueFile(const std::u16string& path, std::string& problem)
{
    std::string nativePath;
    if (!kestrel::toNativePath(path, nativePath) || !kestrel::fileExists(path)) {
        problem = "no such file";
        return false;
    }
    cConnection connection;
    if (sqlite3_open_v2(nativePath.c_str(), &connection.mHandle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        problem = connection.mHandle ? sqlite3_errmsg(connection.mHandle) : "cannot open";
        return false;
    }

    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection.mHandle, "pragma quick_check;", -1, &statement, nullptr) != SQLITE_OK) {
        problem = sqlite3_errmsg(connection.mHandle);
        sqlite3_finalize(statement);
        return false;
    }
    const int result = sqlite3_step(statement);
    const unsigned char* verdict = result == SQLITE_ROW ? sqlite3_column_text(statement, 0) : nullptr;
    const bool intact = verdict && std::string(reinterpret_cast<const char*>(verdict)) == "ok";
    if (!intact) {
        problem = verdict ? reinterpret_cast<const char*>(verdict) : sqlite3_errmsg(connection.mHandle);
    }
    sqlite3_finalize(statement);
    if (!intact) {
        return false;
    }

    // Preparing a statement over every column the program reads proves that
    // the table and its columns exist.
    statement = nullptr;
    if (sqlite3_prepare_v2(connection.mHandle, "select country, type, name, description, url from channels limit 1;",
                           -1, &statement, nullptr) != SQLITE_OK) {
        problem = sqlite3_errmsg(connection.mHandle);
        sqlite3_finalize(statement);
        return false;
    }
    sqlite3_finalize(statement);
    return true;
}
