// Arbitrary bytes through the strict UTF-8 decoder: it either throws the
// conversion exception or returns text that encodes back to the same bytes
// (up to the first U+0000).
#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string narrow(reinterpret_cast<const char*>(data), size);
    std::u16string wide;
    try {
        wide = kestrel::fromUtf8(narrow);
    } catch (const kestrel::cUnicodeConversionException&) {
        return 0;
    }
    const std::string back = kestrel::toUtf8(wide);
    if (back != narrow.substr(0, narrow.find('\0'))) {
        std::abort();
    }
    // The same bytes read as UTF-16 exercise the encoder's own checks.
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        units += char16_t(data[i] | (data[i + 1] << 8));
    }
    try {
        const std::string encoded = kestrel::toUtf8(units);
        const std::u16string decoded = kestrel::fromUtf8(encoded);
        if (decoded != units.substr(0, units.find(u'\0'))) {
            std::abort();
        }
    } catch (const kestrel::cUnicodeConversionException&) {
    }
    return 0;
}
