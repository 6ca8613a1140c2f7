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

std::u16string fromUtf8(const std::string& narrow)
{
    std::u16string out;
    out.reserve(narrow.size() + 1);
    const size_t count = narrow.size();
    size_t i = 0;
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
            throw cUnicodeConversionException();
        }
        if (length > count - i) {
            throw cUnicodeConversionException();
        }
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(narrow[i + k]);
            // Only the second byte has the narrowed range.
            const unsigned char min = k == 1 ? low : 0x80;
            const unsigned char max = k == 1 ? high : 0xBF;
            if (next < min || next > max) {
                throw cUnicodeConversionException();
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < 0x10000) {
            out += char16_t(cp);
        } else {
            out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        i += length;
    }
    const size_t zero = out.find(u'\0');
    if (zero != std::u16string::npos) {
        out.resize(zero);
    }
    return out;
}

} // namespace kestrel
