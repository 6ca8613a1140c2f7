#include "kestrel/Unicode.h"
#include "catalogue/M3uImport.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "catalogue/CountryNames.h"
#include "catalogue/DistinctRows.h"
#include "fetch/Fetch.h"
#include "catalogue/RequestHeaders.h"

const char* const UnknownCategory = "Unknown";

namespace {

const char* const Schemes[] = {"http", "https", "rtsp", "rtmp", "udp"};

// The characters of Windows-1252 in 0x80-0x9F; the five codes it leaves
// undefined become U+FFFD. Latin-1 proper has control codes there, which
// no playlist means.
const char16_t Cp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        char32_t value;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            value = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            value = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            value = c & 0x07;
        } else {
            return false;
        }
        if (end - p < length) {
            return false;
        }
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return false;
            }
            value = (value << 6) | (p[i] & 0x3F);
        }
        if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
            (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
            return false;
        }
        p += length;
    }
    return true;
}

// UTF-16 bytes (without their mark) as UTF-8; a unit that is not part of
// a well-formed pair becomes U+FFFD, and an odd last byte is dropped.
std::string utf16ToUtf8(const std::string& bytes, bool littleEndian)
{
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [&](size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(littleEndian ? (a | (b << 8)) : ((a << 8) | b));
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t first = unit(i);
        if (first >= 0xD800 && first <= 0xDBFF && i + 3 < bytes.size()) {
            const char16_t second = unit(i + 2);
            if (second >= 0xDC00 && second <= 0xDFFF) {
                const char32_t c = 0x10000 + ((char32_t(first) - 0xD800) << 10) + (char32_t(second) - 0xDC00);
                out += static_cast<char>(0xF0 | (c >> 18));
                out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
                i += 2;
                continue;
            }
        }
        appendUtf8(out, (first >= 0xD800 && first <= 0xDFFF) ? char32_t(0xFFFD) : char32_t(first));
    }
    return out;
}

std::string fromLatin1(const std::string& text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        if (c >= 0x80 && c < 0xA0) {
            appendUtf8(out, Cp1252High[c - 0x80]);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

bool isSpace(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && isSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// Control characters (a tab inside a title, for one) would break the
// listing form; they become spaces.
std::string cleanField(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    return trim(text);
}

std::string lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool startsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t length = std::char_traits<char>::length(prefix);
    return text.size() >= length && lower(text.substr(0, length)) == prefix;
}

struct cExtInf {
    size_t line = 0;
    std::string title;
    std::string country; // tvg-country as written
    std::string group;   // group-title as written
    std::string tvgName;
    std::string guideId; // tvg-id as written
    std::string shift;   // tvg-shift as written
    cRequestHeaders headers; // from the attributes, unchecked
};

// The headers one entry's lines give, checked as they are read.
class cHeaderReader {
public:
    explicit cHeaderReader(std::vector<cM3uSkip>& refused) : mRefused(refused) {}

    // Takes value for the header (when it can be sent), found on `line`.
    void take(std::string cRequestHeaders::*header, const char* name, const std::string& value, size_t line)
    {
        if (value.empty()) {
            return;
        }
        if (!isSendableHeaderValue(value) || !isUtf8(value)) {
            mRefused.push_back({line, std::string("the ") + name + " value " +
                                          (value.size() > MaxHeaderValueBytes ? "is too long"
                                           : isUtf8(value) ? "contains a line break or another control character"
                                                           : "is not text") +
                                          "; dropped"});
            return;
        }
        mHeaders.*header = value;
    }
    // The attributes of an #EXTINF line.
    void takeAll(const cRequestHeaders& headers, size_t line)
    {
        take(&cRequestHeaders::userAgent, "User-Agent", headers.userAgent, line);
        take(&cRequestHeaders::referrer, "Referer", headers.referrer, line);
        take(&cRequestHeaders::origin, "Origin", headers.origin, line);
    }
    // The headers other has (already checked) replace these.
    void overrideWith(const cRequestHeaders& other)
    {
        for (auto field : {&cRequestHeaders::userAgent, &cRequestHeaders::referrer, &cRequestHeaders::origin}) {
            if (!(other.*field).empty()) {
                mHeaders.*field = other.*field;
            }
        }
    }
    const cRequestHeaders& headers() const { return mHeaders; }
    void clear() { mHeaders = cRequestHeaders(); }

private:
    std::vector<cM3uSkip>& mRefused;
    cRequestHeaders mHeaders;
};

// The header an option or suffix key names; nullptr for any other key.
std::string cRequestHeaders::*headerNamed(const std::string& lowerKey, const char*& name)
{
    if (lowerKey == "http-user-agent" || lowerKey == "user-agent") {
        name = "User-Agent";
        return &cRequestHeaders::userAgent;
    }
    if (lowerKey == "http-referrer" || lowerKey == "http-referer" || lowerKey == "referrer" ||
        lowerKey == "referer") {
        name = "Referer";
        return &cRequestHeaders::referrer;
    }
    if (lowerKey == "http-origin" || lowerKey == "origin") {
        name = "Origin";
        return &cRequestHeaders::origin;
    }
    return nullptr;
}

// %XX sequences become their bytes; anything else stays as written.
std::string percentDecoded(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && kestrel::hexDigitValue(text[i + 1]) >= 0 && kestrel::hexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(kestrel::hexDigitValue(text[i + 1]) * 16 + kestrel::hexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// An "address|Key=value&Key=value" line: the headers of the suffix are
// taken and the suffix is removed. A '|' without any "=" after it is part
// of the address.
void takeAddressSuffix(std::string& line, cHeaderReader& reader, size_t number)
{
    const size_t bar = line.find('|');
    if (bar == std::string::npos || line.find('=', bar) == std::string::npos) {
        return;
    }
    const std::string suffix = line.substr(bar + 1);
    line = trim(line.substr(0, bar));
    size_t start = 0;
    while (start <= suffix.size()) {
        size_t stop = suffix.find('&', start);
        if (stop == std::string::npos) {
            stop = suffix.size();
        }
        const std::string pair = suffix.substr(start, stop - start);
        const size_t equals = pair.find('=');
        if (equals != std::string::npos) {
            const char* name = nullptr;
            if (auto header = headerNamed(lower(trim(pair.substr(0, equals))), name)) {
                reader.take(header, name, percentDecoded(pair.substr(equals + 1)), number);
            }
        }
        start = stop + 1;
    }
}

// Reads `key=value` attributes (values quoted with " or ', or bare) from
// position i until a comma outside quotes or the end; calls take with each
// key in lower case. Returns the comma's position, or npos when none.
size_t readAttributes(const std::string& text, size_t i,
                      const std::function<void(const std::string& key, std::string value)>& take)
{
    const size_t n = text.size();
    for (;;) {
        while (i < n && isSpace(text[i])) {
            ++i;
        }
        if (i >= n) {
            return std::string::npos;
        }
        if (text[i] == ',') {
            return i;
        }
        const size_t keyStart = i;
        while (i < n && text[i] != '=' && text[i] != ',' && !isSpace(text[i])) {
            ++i;
        }
        const std::string key = lower(text.substr(keyStart, i - keyStart));
        if (i >= n || text[i] != '=') {
            continue; // a bare word: nothing to keep
        }
        ++i;
        std::string value;
        if (i < n && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i++];
            const size_t close = text.find(quote, i);
            const size_t stop = close == std::string::npos ? n : close;
            value = text.substr(i, stop - i);
            i = close == std::string::npos ? n : close + 1;
        } else {
            const size_t valueStart = i;
            while (i < n && text[i] != ',' && !isSpace(text[i])) {
                ++i;
            }
            value = text.substr(valueStart, i - valueStart);
        }
        take(key, std::move(value));
    }
}

// The part after "#EXTINF:": a duration, attributes, then the title after
// the first comma that is not inside a quoted value.
cExtInf parseExtInf(const std::string& text, size_t line)
{
    cExtInf entry;
    entry.line = line;
    size_t i = 0;
    while (i < text.size() && text[i] != ',' && !isSpace(text[i])) {
        ++i; // the duration
    }
    const size_t comma = readAttributes(text, i, [&entry](const std::string& key, std::string value) {
        if (key == "tvg-country") {
            entry.country = std::move(value);
        } else if (key == "group-title") {
            entry.group = std::move(value);
        } else if (key == "tvg-name") {
            entry.tvgName = std::move(value);
        } else if (key == "tvg-id") {
            entry.guideId = std::move(value);
        } else if (key == "tvg-shift") {
            entry.shift = std::move(value);
        } else if (key == "user-agent" || key == "http-user-agent") {
            entry.headers.userAgent = std::move(value);
        } else if (key == "http-referrer" || key == "referrer" || key == "referer" || key == "http-referer") {
            entry.headers.referrer = std::move(value);
        } else if (key == "http-origin") {
            entry.headers.origin = std::move(value);
        }
    });
    if (comma != std::string::npos) {
        entry.title = text.substr(comma + 1);
    }
    return entry;
}

// The guide addresses of an "#EXTM3U" line: url-tvg and x-tvg-url, each
// one address or several separated by commas. Only web addresses are taken
// (a list from the web must not make the player read a local file), each
// once, up to MaxGuideAddresses.
void readGuideAddresses(const std::string& header, size_t line, cM3uImport& result)
{
    size_t i = 0;
    std::string beyondCap; // the addresses past the cap, for one line naming them
    const auto take = [&](const std::string& key, std::string value) {
        if (key != "url-tvg" && key != "x-tvg-url") {
            return;
        }
        size_t start = 0;
        while (start <= value.size()) {
            size_t end = value.find(',', start);
            if (end == std::string::npos) {
                end = value.size();
            }
            const std::string address = trim(value.substr(start, end - start));
            start = end + 1;
            if (address.empty()) {
                continue;
            }
            if (!isWebAddress(address) || address.size() > MaxGuideAddressBytes) {
                result.skipped.push_back({line, "a guide address that is not an http or https address; ignored"});
                continue;
            }
            if (std::find(result.guideAddresses.begin(), result.guideAddresses.end(), address) !=
                result.guideAddresses.end()) {
                continue;
            }
            if (result.guideAddresses.size() == MaxGuideAddresses) {
                if (beyondCap.size() < 1024) {
                    beyondCap += (beyondCap.empty() ? "" : " ") + address;
                }
                continue;
            }
            result.guideAddresses.push_back(address);
        }
    };
    // A comma outside quotes would end readAttributes; go on after it.
    for (;;) {
        const size_t comma = readAttributes(header, i, take);
        if (comma == std::string::npos) {
            break;
        }
        i = comma + 1;
    }
    if (!beyondCap.empty()) {
        result.skipped.push_back({line, "more than " + std::to_string(MaxGuideAddresses) +
                                            " guide addresses; these were ignored: " + beyondCap});
    }
}

// A tvg-shift (hours, possibly fractional or negative: "2", "-1.5",
// "+0.5") in whole minutes; 0 for anything else or more than a day.
int shiftMinutes(const std::string& text)
{
    const std::string value = trim(text);
    if (value.empty() || value.size() > 16) {
        return 0;
    }
    // Read by hand: the decimal separator is a full stop whatever the
    // locale.
    size_t i = 0;
    const bool negative = value[0] == '-';
    if (value[0] == '-' || value[0] == '+') {
        ++i;
    }
    double hours = 0;
    bool digits = false;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        hours = hours * 10 + (value[i] - '0');
        digits = true;
    }
    if (i < value.size() && value[i] == '.') {
        double scale = 0.1;
        for (++i; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i, scale /= 10) {
            hours += (value[i] - '0') * scale;
            digits = true;
        }
    }
    if (!digits || i != value.size() || hours > 24.0) {
        return 0;
    }
    const int minutes = static_cast<int>(hours * 60.0 + 0.5);
    return negative ? -minutes : minutes;
}

// What one group names: a country at its head, followed by a separator
// ("UK | Sports", "|DE| News", "FR: Films", "[ES] Deportes", "Italy - Sport"),
// and the type that follows; without such a head, the whole group is the
// type. The country is its English name, or empty.
struct cGroupParts {
    std::string country;
    std::string type;
};

cGroupParts splitGroup(const std::string& group)
{
    const std::string text = trim(group);
    std::string head;
    std::string rest;
    bool found = false;
    if (!text.empty() && (text[0] == '|' || text[0] == '[' || text[0] == '(')) {
        const char close = text[0] == '|' ? '|' : text[0] == '[' ? ']' : ')';
        const size_t end = text.find(close, 1);
        if (end != std::string::npos) {
            head = text.substr(1, end - 1);
            rest = text.substr(end + 1);
            found = true;
        }
    } else {
        const size_t mark = text.find_first_of("|:");
        const size_t dash = text.find(" - ");
        const size_t cut = std::min(mark, dash);
        if (cut != std::string::npos) {
            head = text.substr(0, cut);
            rest = text.substr(cut + (cut == dash ? 3 : 1));
            found = true;
        }
    }
    const std::string country = found ? countryNamed(trim(head)) : std::string();
    if (country.empty()) {
        return {std::string(), text};
    }
    std::string type = trim(rest);
    while (!type.empty() && (type[0] == '|' || type[0] == ':' || type[0] == '-')) {
        type = trim(type.substr(1));
    }
    return {country, type};
}

// The country a guide id names at its end, before any "@" ("ORF1.at@SD":
// Austria), when that is an ISO 3166 code; otherwise empty.
std::string countryOfGuideId(const std::string& id)
{
    const std::string base = id.substr(0, id.find('@'));
    const size_t dot = base.rfind('.');
    if (dot == std::string::npos) {
        return std::string();
    }
    const std::string code = base.substr(dot + 1);
    return isCountryCode(code) ? countryName(code) : std::string();
}

// A JSON string at text[i] (the opening quote), its escapes read; i ends
// after the closing quote. False when it is not one.
bool readJsonString(const std::string& text, size_t& i, std::string& out)
{
    if (i >= text.size() || text[i] != '"') {
        return false;
    }
    ++i;
    while (i < text.size()) {
        const char c = text[i++];
        if (c == '"') {
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= text.size()) {
            return false;
        }
        const char escaped = text[i++];
        switch (escaped) {
        case '"':
        case '\\':
        case '/':
            out += escaped;
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'u': {
            long code = 0;
            for (int digit = 0; digit < 4; ++digit) {
                const int value = i < text.size() ? kestrel::hexDigitValue(text[i++]) : -1;
                if (value < 0) {
                    return false;
                }
                code = code * 16 + value;
            }
            // A lone surrogate is no character: it becomes U+FFFD.
            appendUtf8(out, static_cast<char32_t>(code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : code));
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

// A JSON object whose values are all strings ({"User-Agent": "..."}), as
// #EXTHTTP lines carry; false when the text is anything else.
bool readJsonStringObject(const std::string& text, std::vector<std::pair<std::string, std::string>>& pairs)
{
    size_t i = 0;
    const auto skipSpace = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
            ++i;
        }
    };
    skipSpace();
    if (i >= text.size() || text[i++] != '{') {
        return false;
    }
    skipSpace();
    if (i < text.size() && text[i] == '}') {
        ++i;
    } else {
        for (;;) {
            std::string key;
            std::string value;
            skipSpace();
            if (!readJsonString(text, i, key)) {
                return false;
            }
            skipSpace();
            if (i >= text.size() || text[i++] != ':') {
                return false;
            }
            skipSpace();
            if (!readJsonString(text, i, value)) {
                return false;
            }
            pairs.emplace_back(std::move(key), std::move(value));
            skipSpace();
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            if (i < text.size() && text[i] == '}') {
                ++i;
                break;
            }
            return false;
        }
    }
    skipSpace();
    return i == text.size();
}

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t stop = text.find(';', start);
        const std::string item = cleanField(text.substr(start, stop == std::string::npos ? std::string::npos
                                                                                         : stop - start));
        if (!item.empty() && std::find(items.begin(), items.end(), item) == items.end()) {
            items.push_back(item);
        }
        if (stop == std::string::npos) {
            return items;
        }
        start = stop + 1;
    }
}

// The address as the catalogue stores it (printable ASCII): bytes beyond
// ASCII and spaces are percent-encoded, which names the same resource.
// False with a reason when it is not a stream address we take.
bool normaliseAddress(const std::string& line, std::string& address, std::string& reason)
{
    const size_t separator = line.find("://");
    if (separator == std::string::npos || separator == 0) {
        reason = "not a network address (no scheme://)";
        return false;
    }
    const std::string scheme = lower(line.substr(0, separator));
    if (std::find(std::begin(Schemes), std::end(Schemes), scheme) == std::end(Schemes)) {
        reason = "address scheme \"" + line.substr(0, separator) + "\" is not http, https, rtsp, rtmp or udp";
        return false;
    }
    if (separator + 3 == line.size()) {
        reason = "address has nothing after " + scheme + "://";
        return false;
    }
    static const char Hex[] = "0123456789ABCDEF";
    address.clear();
    for (unsigned char c : line) {
        if (c < 0x20 || c == 0x7F) {
            reason = "address contains a control character";
            return false;
        }
        if (c >= 0x80 || c == ' ') {
            address += '%';
            address += Hex[c >> 4];
            address += Hex[c & 0x0F];
        } else {
            address += static_cast<char>(c);
        }
    }
    return true;
}

} // namespace

bool parseM3u(const std::string& text, cM3uImport& result, std::string& error)
{
    result = cM3uImport();
    cDistinctRows rows(result.entries);
    size_t importedBytes = 0;
    std::unordered_set<std::string> channels;
    std::set<std::string> countries;
    std::set<std::string> types;
    bool pending = false;
    bool sawEntry = false; // an #EXTINF line was met
    cExtInf entry;
    const auto skip = [&](size_t line, std::string reason) { result.skipped.push_back({line, std::move(reason)}); };
    // The option lines since the last address, which belong to the next.
    cHeaderReader options(result.refusedHeaders);
    std::string pendingGroup; // an #EXTGRP line's group, for the next address
    int headerShift = 0;      // the "#EXTM3U" line's tvg-shift, for entries without their own

    // A UTF-16 list (marked by its byte-order mark) is read as UTF-8.
    std::string decoded;
    const bool littleEndian = text.compare(0, 2, "\xFF\xFE") == 0;
    if (littleEndian || text.compare(0, 2, "\xFE\xFF") == 0) {
        decoded = utf16ToUtf8(text.substr(2), littleEndian);
    }
    const std::string& source = decoded.empty() ? text : decoded;
    size_t position = 0;
    if (source.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        position = 3;
    }
    for (size_t number = 1; position < source.size(); ++number) {
        size_t end = source.find('\n', position);
        if (end == std::string::npos) {
            end = source.size();
        }
        std::string line = source.substr(position, end - position);
        position = end + 1;
        if (line.size() > MaxPlaylistLineBytes) {
            skip(number, "longer than " + std::to_string(MaxPlaylistLineBytes) + " bytes");
            continue;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find('\0') != std::string::npos) {
            skip(number, "contains a NUL byte");
            continue;
        }
        if (!isUtf8(line)) {
            line = fromLatin1(line);
            result.latin1Lines.push_back(number);
        }
        line = trim(line);
        if (line.empty()) {
            continue;
        }
        if (line[0] == '#') {
            if (startsWithNoCase(line, "#extinf:")) {
                if (pending) {
                    skip(entry.line, "entry without an address");
                }
                entry = parseExtInf(line.substr(8), number);
                pending = true;
                sawEntry = true;
            } else if (startsWithNoCase(line, "#extvlcopt:") && line.find('=') != std::string::npos) {
                const std::string option = line.substr(11);
                const size_t equals = option.find('=');
                const char* name = nullptr;
                if (auto header = headerNamed(lower(trim(option.substr(0, equals))), name)) {
                    options.take(header, name, option.substr(equals + 1), number);
                } else {
                    ++result.ignoredLines;
                }
            } else if (startsWithNoCase(line, "#kodiprop:inputstream.adaptive.stream_headers=")) {
                // "Name=value&Name=value", each part percent-encoded.
                const std::string pairs = line.substr(46);
                size_t start = 0;
                while (start <= pairs.size()) {
                    const size_t stop = std::min(pairs.find('&', start), pairs.size());
                    const std::string pair = pairs.substr(start, stop - start);
                    const size_t equals = pair.find('=');
                    const char* name = nullptr;
                    if (equals != std::string::npos) {
                        if (auto header = headerNamed(lower(trim(percentDecoded(pair.substr(0, equals)))), name)) {
                            options.take(header, name, percentDecoded(pair.substr(equals + 1)), number);
                        }
                    }
                    start = stop + 1;
                }
            } else if (startsWithNoCase(line, "#exthttp:")) {
                std::vector<std::pair<std::string, std::string>> pairs;
                if (!readJsonStringObject(line.substr(9), pairs)) {
                    result.refusedHeaders.push_back(
                        {number, "the #EXTHTTP line is not a JSON object of strings; ignored"});
                    continue;
                }
                for (const auto& [key, value] : pairs) {
                    const char* name = nullptr;
                    if (auto header = headerNamed(lower(trim(key)), name)) {
                        options.take(header, name, value, number);
                    }
                }
            } else if (startsWithNoCase(line, "#extgrp:")) {
                pendingGroup = trim(line.substr(8));
            } else if (startsWithNoCase(line, "#extm3u")) {
                readGuideAddresses(line.substr(7), number, result);
                readAttributes(line.substr(7), 0, [&headerShift](const std::string& key, const std::string& value) {
                    if (key == "tvg-shift") {
                        headerShift = shiftMinutes(value);
                    }
                });
            } else {
                ++result.ignoredLines;
            }
            continue;
        }
        if (!pending) {
            skip(number, "address without an #EXTINF line before it");
            options.clear();
            pendingGroup.clear();
            continue;
        }
        pending = false;
        // group-title names the types; an #EXTGRP line stands in for it.
        const std::string groups = entry.group.empty() ? pendingGroup : entry.group;
        pendingGroup.clear();
        // The attributes first, the option lines over them, the address's
        // own suffix over both.
        cHeaderReader headers(result.refusedHeaders);
        headers.takeAll(entry.headers, entry.line);
        headers.overrideWith(options.headers());
        options.clear();
        takeAddressSuffix(line, headers, number);
        std::string address;
        std::string reason;
        if (!normaliseAddress(line, address, reason)) {
            skip(number, reason);
            continue;
        }
        std::string name = cleanField(entry.title);
        const std::string description = cleanField(entry.tvgName);
        if (name.empty()) {
            name = description;
        }
        if (name.empty()) {
            skip(entry.line, "entry without a title");
            continue;
        }
        if (name.size() > MaxFieldBytes || description.size() > MaxFieldBytes || address.size() > MaxAddressBytes ||
            entry.country.size() > MaxFieldBytes || groups.size() > MaxFieldBytes) {
            skip(entry.line, "a name, description, country, type or address longer than a catalogue takes");
            continue;
        }
        const auto addOnce = [](std::vector<std::string>& names, const std::string& name) {
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
        };
        // The countries: tvg-country, else the code at the end of the
        // tvg-id, else the countries at the heads of the groups. The
        // types: the groups without their country heads.
        std::vector<std::string> countryNames;
        for (const std::string& code : splitList(entry.country)) {
            addOnce(countryNames, countryName(code));
        }
        std::vector<std::string> groupCountries;
        std::vector<std::string> typeNames;
        for (const std::string& group : splitList(groups)) {
            const cGroupParts parts = splitGroup(group);
            if (!parts.country.empty()) {
                addOnce(groupCountries, parts.country);
            }
            const bool undefined = parts.type.empty() || lower(parts.type) == "undefined";
            addOnce(typeNames, undefined ? std::string(UnknownCategory) : parts.type);
        }
        if (countryNames.empty()) {
            const std::string fromId = countryOfGuideId(cleanField(entry.guideId));
            if (!fromId.empty()) {
                countryNames.push_back(fromId);
            }
        }
        if (countryNames.empty()) {
            countryNames = groupCountries;
        }
        if (countryNames.empty()) {
            countryNames.push_back(UnknownCategory);
        }
        if (typeNames.empty()) {
            typeNames.push_back(UnknownCategory);
        }
        if (countryNames.size() * typeNames.size() > MaxRowsPerEntry) {
            skip(entry.line, "lists " + std::to_string(countryNames.size() * typeNames.size()) +
                                 " countries by types; only the first " + std::to_string(MaxRowsPerEntry) +
                                 " were kept");
        }
        if (result.entries.size() >= MaxImportedRows) {
            skip(entry.line, "the list holds more than " + std::to_string(MaxImportedRows) +
                                 " rows; the rest was left out");
            break;
        }
        // A guide id that no guide could name (too long, control
        // characters) is left out; the channel is still imported.
        std::string guideId = cleanField(entry.guideId);
        if (guideId.size() > MaxGuideIdBytes) {
            guideId.clear();
        }
        channels.insert(name + '\0' + address);
        if (!headers.headers().empty()) {
            ++result.channelsWithHeaders;
        }
        size_t made = 0;
        for (const std::string& country : countryNames) {
            for (const std::string& type : typeNames) {
                if (made == MaxRowsPerEntry || result.entries.size() >= MaxImportedRows) {
                    break;
                }
                ++made;
                if (!rows.isNew(country, type, name, address)) {
                    ++result.duplicates;
                    continue;
                }
                result.entries.push_back({country, type, name, description, address, headers.headers(), guideId,
                                          entry.shift.empty() ? headerShift : shiftMinutes(entry.shift)});
                importedBytes += rowTextBytes(result.entries.back());
                if (importedBytes > MaxImportedBytes) {
                    // Not a list any real catalogue makes: nothing of it is
                    // kept, so that it fails like any unreadable list.
                    result.entries.clear();
                    result.entries.shrink_to_fit();
                    error = "the list's channels hold more than " + std::to_string(MaxImportedBytes >> 20) +
                            " MiB of text (the limit is reached at line " + std::to_string(entry.line) + ")";
                    return false;
                }
                rows.remember(result.entries.size() - 1);
                countries.insert(country);
                types.insert(type);
            }
        }
    }
    if (pending) {
        skip(entry.line, "entry without an address");
    }
    result.channels = channels.size();
    result.countries.assign(countries.begin(), countries.end());
    result.types.assign(types.begin(), types.end());
    if (result.entries.empty()) {
        // A page of HTML or any other text without a single entry is not a
        // list at all; a list whose every entry was refused says the first
        // reason.
        error = result.skipped.empty() || !sawEntry
                    ? "no channel entries found (expected #EXTINF lines, each followed by an address)"
                    : "no channel could be imported: " + std::to_string(result.skipped.size()) +
                          " line(s) skipped, the first (line " + std::to_string(result.skipped.front().line) +
                          "): " + result.skipped.front().reason;
        return false;
    }
    return true;
}

bool readPlaylist(const std::string& path, std::string& text, std::string& error)
{
    error.clear();
    const bool standardInput = path == "-";
    // Not blocking: opening a named pipe must not wait for a writer.
    const int descriptor = standardInput ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (!standardInput && (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        close(descriptor);
        error = "cannot read " + path + ": not a plain file";
        return false;
    }
    if (!standardInput && static_cast<unsigned long long>(status.st_size) > MaxPlaylistBytes) {
        close(descriptor);
        error = path + " is larger than " + std::to_string(MaxPlaylistBytes / (1024 * 1024)) + " MiB";
        return false;
    }
    text.clear();
    if (!standardInput && S_ISREG(status.st_mode)) {
        text.reserve(static_cast<size_t>(status.st_size));
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(descriptor, buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = "cannot read " + path;
            break;
        }
        if (got == 0) {
            break;
        }
        if (text.size() + static_cast<size_t>(got) > MaxPlaylistBytes) {
            error = path + " is larger than " + std::to_string(MaxPlaylistBytes / (1024 * 1024)) + " MiB";
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    if (!standardInput) {
        close(descriptor);
    }
    if (!error.empty()) {
        text.clear();
        return false;
    }
    return true;
}
