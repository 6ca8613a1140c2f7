#pragma once
// What the catalogue server sends for a file: its content type, and the
// part a byte range asks for. Plain functions, checked by tables.

#include <cstdint>
#include <string>

struct cByteRange {
    uint64_t first = 0;
    uint64_t last = 0; // inclusive
};

enum class eRangeKind { Whole, Part, Unsatisfiable };

// One "bytes=first-last", "bytes=first-" or "bytes=-suffix" range of a file
// of `size` bytes. Anything else (several ranges, other units, malformed
// text) is ignored and the whole file is sent, as HTTP allows; a range that
// starts past the end cannot be satisfied.
eRangeKind parseRange(const std::string& header, uint64_t size, cByteRange& range);

// The content type the server sends for a file name (by its extension,
// case-insensitive); application/octet-stream when unknown.
std::string contentTypeFor(const std::string& fileName);
