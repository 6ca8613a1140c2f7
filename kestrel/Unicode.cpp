#include "kestrel/Unicode.h"

#include "kestrel/Exception.h"

namespace kestrel {

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string toUtf8(const std::u16string& wide)
{
    std::string out;
    out.reserve(wide.size() * 3 + 1);
    const size_t count = wide.size();
    for (size_t i = 0; i < count; ++i) {
        char32_t cp = wide[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= count || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF) {
                throw cUnicodeConversionException();
            }
            cp = 0x10000 + (cp - 0xD800) * 0x400 + (wide[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            throw cUnicodeConversionException();
        }
        appendUtf8(out, cp);
    }
    // The whole input is checked first; the result then ends at U+0000.
    const size_t zero = out.find('\0');
    if (zero != std::string::npos) {
        out.resize(zero);
    }
    return out;
}

namespace {

constexpr char16_t Replacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t cp)
{
    if (cp < 0x10000) {
        out += char16_t(cp);
    } else {
        out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
        out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
}

// Strict: the first malformed sequence throws. Lenient: each maximal
// malformed part (a bad lead byte, or a lead byte with the continuation
// bytes that were still valid for it) becomes one U+FFFD, as the Unicode
// standard recommends, and decoding goes on after it.
std::u16string decodeUtf8(const std::string& narrow, bool lenient)
{
    std::u16string out;
    out.reserve(narrow.size() + 1);
    const size_t count = narrow.size();
    size_t i = 0;
    const auto malformed = [&](size_t consumed) {
        if (!lenient) {
            throw cUnicodeConversionException();
        }
        out += Replacement;
        i += consumed;
    };
    while (i < count) {
        const unsigned char lead = static_cast<unsigned char>(narrow[i]);
        size_t length = 0;
        char32_t cp = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            length = 1;
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
            if (lead == 0xE0) {
                low = 0xA0;
            } else if (lead == 0xED) {
                high = 0x9F;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;
            }
        } else {
            malformed(1);
            continue;
        }
        size_t valid = 1;
        for (; valid < length && i + valid < count; ++valid) {
            const unsigned char next = static_cast<unsigned char>(narrow[i + valid]);
            // Only the second byte has the narrowed range.
            const unsigned char min = valid == 1 ? low : 0x80;
            const unsigned char max = valid == 1 ? high : 0xBF;
            if (next < min || next > max) {
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        if (valid < length) {
            // A continuation byte out of range, or the input ends inside
            // the sequence.
            malformed(valid);
            continue;
        }
        appendUtf16(out, cp);
        i += length;
    }
    const size_t zero = out.find(u'\0');
    if (zero != std::u16string::npos) {
        out.resize(zero);
    }
    return out;
}

} // namespace

std::u16string fromUtf8(const std::string& narrow) { return decodeUtf8(narrow, false); }

std::u16string fromUtf8Lenient(const std::string& narrow) { return decodeUtf8(narrow, true); }

std::u16string repairUtf16(const char16_t* text)
{
    std::u16string out;
    if (!text) {
        return out;
    }
    for (size_t i = 0; text[i] != 0; ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const char16_t next = text[i + 1];
            if (next >= 0xDC00 && next <= 0xDFFF) {
                out += unit;
                out += next;
                ++i;
            } else {
                out += Replacement;
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            out += Replacement;
        } else {
            out += unit;
        }
    }
    return out;
}

std::u16string repairUtf16(const std::u16string& text)
{
    // Cut at the first U+0000 like the conversions; c_str() ends the text.
    return repairUtf16(text.c_str());
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace kestrel
