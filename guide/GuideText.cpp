#include "guide/GuideText.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int digits(const std::string& text, size_t at, size_t count)
{
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        value = value * 10 + (text[at + i] - '0');
    }
    return value;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month)
{
    static const int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : Days[month - 1];
}

// What each letter of U+00C0..U+017F becomes in a name key; empty for a
// sign that is left out (× and ÷).
const std::array<std::string, 0x180 - 0xC0>& latinFolds()
{
    static const std::array<std::string, 0x180 - 0xC0> Folds = [] {
        std::array<std::string, 0x180 - 0xC0> folds;
        // U+00C0..U+00DF, and U+00E0..U+00FF in the same order.
        static const char* const Latin1[32] = {"a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e",
                                                "e", "i", "i", "i", "i", "d", "n", "o", "o", "o", "o",
                                                "o", "",  "o", "u", "u", "u", "u", "y", "th", "ss"};
        for (int i = 0; i < 32; ++i) {
            folds[static_cast<size_t>(i)] = Latin1[i];
            folds[static_cast<size_t>(32 + i)] = Latin1[i];
        }
        folds[0xFF - 0xC0] = "y"; // ÿ, where upper case has ß
        // U+0100..U+017F in runs of one base letter.
        static const struct {
            int count;
            const char* fold;
        } Runs[] = {{6, "a"}, {8, "c"}, {4, "d"},  {10, "e"}, {8, "g"}, {4, "h"}, {10, "i"}, {2, "ij"},
                    {2, "j"}, {3, "k"}, {10, "l"}, {9, "n"},  {6, "o"}, {2, "oe"}, {6, "r"}, {8, "s"},
                    {6, "t"}, {12, "u"}, {2, "w"}, {3, "y"},  {6, "z"}, {1, "s"}};
        size_t at = 0x100 - 0xC0;
        for (const auto& run : Runs) {
            for (int i = 0; i < run.count; ++i) {
                folds[at++] = run.fold;
            }
        }
        return folds;
    }();
    return Folds;
}

// The next code point of the UTF-8 text at pos (advanced past it); -1 for a
// malformed byte, which is stepped over alone.
long nextCodePoint(const std::string& text, size_t& pos)
{
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    size_t length = 0;
    long value = 0;
    long minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        ++pos;
        return -1;
    }
    if (pos + length > text.size()) {
        ++pos;
        return -1;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return -1;
        }
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++pos;
        return -1;
    }
    pos += length;
    return value;
}

void appendUtf8(std::string& out, long c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Blanks, punctuation and symbols that a name key leaves out, outside
// ASCII and Latin-1.
bool isSeparator(long c)
{
    return (c >= 0x2000 && c <= 0x206F) || // general punctuation and blanks
           (c >= 0x20A0 && c <= 0x20CF) || // currency signs
           (c >= 0x2100 && c <= 0x214F) || // letter-like symbols
           (c >= 0x2190 && c <= 0x2BFF) || // arrows, mathematical and other symbols
           (c >= 0x3000 && c <= 0x303F) || // CJK blanks and punctuation
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF01 && c <= 0xFF0F) || c == 0xFEFF || c == 0xFFFD;
}

} // namespace

int64_t utcSeconds(int year, int month, int day, int hour, int minute, int second)
{
    // Days since 1970-01-01 of a proleptic Gregorian date.
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<cXmltvTime> parseXmltvTime(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) {
        --end;
    }
    size_t count = 0;
    while (begin + count < end && isDigit(text[begin + count])) {
        ++count;
    }
    if (count != 12 && count != 14) {
        return std::nullopt;
    }
    const int year = digits(text, begin, 4);
    const int month = digits(text, begin + 4, 2);
    const int day = digits(text, begin + 6, 2);
    const int hour = digits(text, begin + 8, 2);
    const int minute = digits(text, begin + 10, 2);
    const int second = count == 14 ? digits(text, begin + 12, 2) : 0;
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    cXmltvTime time;
    time.utc = utcSeconds(year, month, day, hour, minute, second);
    size_t pos = begin + count;
    while (pos < end && text[pos] == ' ') {
        ++pos;
    }
    if (pos == end) {
        return time;
    }
    if (end - pos == 1 && text[pos] == 'Z') {
        time.hadOffset = true;
        return time;
    }
    const char sign = text[pos];
    const std::string offset = text.substr(pos + 1, end - pos - 1);
    int offsetHours = 0;
    int offsetMinutes = 0;
    if (offset.size() == 4 && isDigit(offset[0]) && isDigit(offset[1]) && isDigit(offset[2]) && isDigit(offset[3])) {
        offsetHours = digits(offset, 0, 2);
        offsetMinutes = digits(offset, 2, 2);
    } else if (offset.size() == 5 && isDigit(offset[0]) && isDigit(offset[1]) && offset[2] == ':' &&
               isDigit(offset[3]) && isDigit(offset[4])) {
        offsetHours = digits(offset, 0, 2);
        offsetMinutes = digits(offset, 3, 2);
    } else {
        return std::nullopt;
    }
    if ((sign != '+' && sign != '-') || offsetHours > 14 || offsetMinutes > 59) {
        return std::nullopt;
    }
    // Local time minus its offset is UTC.
    const int64_t seconds = offsetHours * 3600 + offsetMinutes * 60;
    time.utc += sign == '+' ? -seconds : seconds;
    time.hadOffset = true;
    return time;
}

namespace {

bool isQualityMark(std::string word)
{
    for (char& c : word) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    static const char* const Marks[] = {"hd", "fhd", "uhd", "sd", "hq", "4k", "8k", "hevc", "h265", "h.265"};
    for (const char* mark : Marks) {
        if (word == mark) {
            return true;
        }
    }
    // A picture height: 576i, 720p, 1080p50.
    size_t digits = 0;
    while (digits < word.size() && word[digits] >= '0' && word[digits] <= '9') {
        ++digits;
    }
    if ((digits != 3 && digits != 4) || digits >= word.size() || (word[digits] != 'p' && word[digits] != 'i')) {
        return false;
    }
    for (size_t i = digits + 1; i < word.size(); ++i) {
        if (word[i] < '0' || word[i] > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

std::string withoutQualityMarks(const std::string& name)
{
    std::string text = name;
    for (;;) {
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
            text.pop_back();
        }
        size_t cut = std::string::npos;
        if (!text.empty() && text.back() == ']') {
            cut = text.rfind('[');
        } else if (!text.empty() && text.back() == ')') {
            const size_t open = text.rfind('(');
            if (open != std::string::npos && isQualityMark(text.substr(open + 1, text.size() - open - 2))) {
                cut = open;
            }
        } else {
            const size_t space = text.find_last_of(" \t");
            const size_t start = space == std::string::npos ? 0 : space + 1;
            if (isQualityMark(text.substr(start))) {
                cut = start;
            }
        }
        // A name that is nothing but marks keeps what is left of it.
        if (cut == std::string::npos || text.find_first_not_of(" \t") >= cut) {
            return text;
        }
        text.resize(cut);
    }
}

std::string guideNameKey(const std::string& name)
{
    const std::string utf8 = withoutQualityMarks(name);
    std::string key;
    key.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const long c = nextCodePoint(utf8, pos);
        if (c < 0) {
            continue;
        }
        if (c < 0x80) {
            if (c >= 'A' && c <= 'Z') {
                key += static_cast<char>(c - 'A' + 'a');
            } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
                key += static_cast<char>(c);
            }
        } else if (c < 0xC0) {
            // C1 controls, Latin-1 punctuation and signs.
        } else if (c < 0x180) {
            key += latinFolds()[static_cast<size_t>(c - 0xC0)];
        } else if (isSeparator(c)) {
        } else if ((c >= 0x391 && c <= 0x3A9) || (c >= 0x410 && c <= 0x42F)) {
            appendUtf8(key, c + 0x20); // Greek and Cyrillic capitals
        } else if (c >= 0x400 && c <= 0x40F) {
            appendUtf8(key, c + 0x50);
        } else {
            appendUtf8(key, c);
        }
    }
    return key;
}

std::string foldGuideId(const std::string& id)
{
    std::string folded = id;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

std::string formatLocalClock(int64_t utc)
{
    const time_t when = static_cast<time_t>(utc);
    struct tm local {};
    if (localtime_r(&when, &local) == nullptr) {
        return "--:--";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", local.tm_hour, local.tm_min);
    return text;
}

std::string formatXmltvTime(int64_t utc)
{
    const time_t when = static_cast<time_t>(utc);
    struct tm parts {};
    if (gmtime_r(&when, &parts) == nullptr) {
        return std::string();
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S +0000", &parts);
    return text;
}

void cutUtf8(std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return;
    }
    size_t end = maxBytes;
    // Back to the lead byte of a sequence the cut would split.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
}
