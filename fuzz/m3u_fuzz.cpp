// Arbitrary bytes as an extended M3U channel list: the reader must import
// them or refuse them without crashing, and whatever it imports must be
// what the catalogue can hold: non-empty UTF-8 names, countries and types
// without NUL, printable ASCII addresses with a scheme the player takes,
// no row twice, skipped lines inside the text with a reason.
#include "catalogue/M3uImport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void requireText(const std::string& text, bool mayBeEmpty)
{
    require(mayBeEmpty || !text.empty());
    require(text.find('\0') == std::string::npos);
    try {
        kestrel::fromUtf8(text);
    } catch (const kestrel::cUnicodeConversionException&) {
        std::abort();
    }
}

// The scheme is matched without regard to case, as the reader does.
bool hasScheme(const std::string& address)
{
    std::string lower = address.substr(0, 8);
    for (char& c : lower) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    for (const std::string prefix : {"http://", "https://", "rtsp://", "rtmp://", "udp://"}) {
        if (address.size() > prefix.size() && lower.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    cM3uImport result;
    std::string error;
    const bool imported = parseM3u(text, result, error);
    require(imported == !result.entries.empty());
    require(imported || !error.empty());

    size_t lines = 1;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    for (const cM3uSkip& skip : result.skipped) {
        require(skip.line >= 1 && skip.line <= lines && !skip.reason.empty());
    }

    std::set<std::tuple<std::string, std::string, std::string, std::string>> rows;
    for (const cListingEntry& entry : result.entries) {
        requireText(entry.country, false);
        requireText(entry.type, false);
        requireText(entry.name, false);
        requireText(entry.description, true);
        require(hasScheme(entry.address));
        for (unsigned char c : entry.address) {
            require(c > 0x20 && c < 0x7F);
        }
        require(rows.insert({entry.country, entry.type, entry.name, entry.address}).second);
    }
    require(result.channels <= result.entries.size());
    return 0;
}
