// The catalogue's side tables, each keyed by a channel's address (its
// headersKey): `channel_headers` (the request headers a list gives a
// channel), `channel_guide` (its guide id, the list's tvg-id) and
// `channel_guide_shift` (the list's tvg-shift). A catalogue without a table
// reads as no value for every channel.

#include <cstdlib>

#include <sqlite3.h>

#include "catalogue/PlayerDatabase.h"
#include "catalogue/RequestHeaders.h"
#include "kestrel/Tasks.h"
#include "kestrel/Unicode.h"

std::vector<std::string> cPlayerDatabase::addressRow(const char* statementText, const std::u16string& address,
                                                     int columns)
{
    std::vector<std::string> row;
    if (mConnection == nullptr || address.empty()) {
        return row;
    }
    // A catalogue without the table (every catalogue of a server, and any
    // built from lists without such values) fails to prepare: no row.
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(mConnection, statementText, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return row;
    }
    const std::u16string key = headersKey(address);
    sqlite3_bind_text16(statement, 1, key.c_str(), -1, SQLITE_STATIC);
    int result = sqlite3_step(statement);
    for (int retry = 0; result == SQLITE_BUSY && retry < 1000; ++retry) {
        kestrel::sleepMilliseconds(retry < 10 ? 0 : 1);
        result = sqlite3_step(statement);
    }
    if (result == SQLITE_ROW) {
        for (int column = 0; column < columns; ++column) {
            const unsigned char* text = sqlite3_column_text(statement, column);
            row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
    }
    sqlite3_finalize(statement);
    return row;
}

cRequestHeaders cPlayerDatabase::catalogueHeaders(const std::u16string& address)
{
    cRequestHeaders headers;
    const std::vector<std::string> row =
        addressRow("select user_agent, referrer, origin from channel_headers where url = ?1;", address, 3);
    if (row.size() == 3) {
        std::string* fields[] = {&headers.userAgent, &headers.referrer, &headers.origin};
        for (size_t column = 0; column < 3; ++column) {
            // A catalogue is outside data: a value that could break a
            // request line is never sent.
            if (isSendableHeaderValue(row[column])) {
                *fields[column] = row[column];
            }
        }
    }
    return headers;
}

std::string cPlayerDatabase::catalogueGuideId(const std::u16string& address)
{
    const std::vector<std::string> row = addressRow("select guide_id from channel_guide where url = ?1;", address, 1);
    return row.empty() ? std::string() : row.front();
}

int cPlayerDatabase::catalogueGuideShiftMinutes(const std::u16string& address)
{
    const std::vector<std::string> row =
        addressRow("select minutes from channel_guide_shift where url = ?1;", address, 1);
    if (row.empty()) {
        return 0;
    }
    // Outside data: anything but a small whole number is no shift.
    char* end = nullptr;
    const long minutes = std::strtol(row.front().c_str(), &end, 10);
    return end != nullptr && *end == '\0' && minutes >= -MaxGuideShiftMinutes && minutes <= MaxGuideShiftMinutes
               ? static_cast<int>(minutes)
               : 0;
}

cRequestHeaders cPlayerDatabase::currentHeaders()
{
    if (mMode == ModeFavourite) {
        return favouriteChosen() && static_cast<size_t>(mFavouriteIndex) < mFavouriteHeaders.size()
                   ? mFavouriteHeaders[static_cast<size_t>(mFavouriteIndex)]
                   : cRequestHeaders();
    }
    return catalogueHeaders(currentAddress());
}
