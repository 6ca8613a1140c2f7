#include "catalogue/RequestHeaders.h"

#include <cstdio>
#include <cstdlib>

#include <sqlite3.h>

#include "catalogue/PlayerDatabase.h"
#include "kestrel/Tasks.h"
#include "kestrel/Unicode.h"

namespace {

bool equalsNoCase(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        char c = a[i];
        char d = b[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (d >= 'A' && d <= 'Z') {
            d = static_cast<char>(d - 'A' + 'a');
        }
        if (c != d) {
            return false;
        }
    }
    return i == a.size() && b[i] == 0;
}

} // namespace

tHeaderFields headerFields(const cRequestHeaders& headers)
{
    tHeaderFields fields;
    if (!headers.userAgent.empty()) {
        fields.emplace_back("User-Agent", headers.userAgent);
    }
    if (!headers.referrer.empty()) {
        fields.emplace_back("Referer", headers.referrer);
    }
    if (!headers.origin.empty()) {
        fields.emplace_back("Origin", headers.origin);
    }
    return fields;
}

cRequestHeaders headersFromFields(const tHeaderFields& fields)
{
    cRequestHeaders headers;
    for (const auto& [name, value] : fields) {
        if (equalsNoCase(name, "User-Agent")) {
            headers.userAgent = value;
        } else if (equalsNoCase(name, "Referer")) {
            headers.referrer = value;
        } else if (equalsNoCase(name, "Origin")) {
            headers.origin = value;
        }
    }
    return headers;
}

bool isSendableHeaderValue(const std::string& value)
{
    if (value.size() > MaxHeaderValueBytes) {
        return false;
    }
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

std::u16string headersKey(const std::u16string& address)
{
    std::u16string key;
    key.reserve(address.size() * 4);
    char digits[8];
    for (char16_t unit : address) {
        std::snprintf(digits, sizeof(digits), "%04x", static_cast<unsigned>(unit));
        key.append(digits, digits + 4);
    }
    return key;
}

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
