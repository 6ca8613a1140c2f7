#include "catalogue/RequestHeaders.h"

#include <cstdio>

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
