// Feeds arbitrary UTF-16 text to the XML scanner: it must reach TokenEnd
// without crashing or reading past its buffers, whatever the input.
#include "kestrel/XHScanner.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::u16string text;
    text.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) {
        text += char16_t(data[i] | (data[i + 1] << 8));
    }
    kestrel::cXHScannerStringInputStream stream(text);
    kestrel::cXHScanner scanner(stream);
    // Every call consumes input or reports the end, so the token count is
    // bounded by the input length (plus the closing tokens of a construct).
    const size_t limit = 2 * text.size() + 8;
    size_t count = 0;
    while (scanner.getToken() != kestrel::cXHScanner::TokenEnd) {
        if (++count > limit) {
            std::abort();
        }
        // Touch the buffers so that a missing terminator shows.
        std::char_traits<char16_t>::length(scanner.getValue());
        std::char_traits<char16_t>::length(scanner.getTagName());
        std::char_traits<char16_t>::length(scanner.getAttrName());
    }
    return 0;
}
