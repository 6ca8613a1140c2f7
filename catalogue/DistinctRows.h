#pragma once
// Which rows of a gathering list were met before, by country, type, name
// and address, without a second copy of their text: a row is known by a
// digest of those fields, and compared in full only where digests meet.
// The index refers to the rows it is given, which must outlive it; rows
// are only ever appended to them.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalogue/CatalogueBuilder.h"

class cDistinctRows {
public:
    explicit cDistinctRows(const std::vector<cListingEntry>& rows) : mRows(rows) {}

    // True when no remembered row has these fields.
    bool isNew(std::string_view country, std::string_view type, std::string_view name,
               std::string_view address) const;
    // Remembers the row at this index of the rows.
    void remember(size_t index);

private:
    static uint64_t digest(std::string_view country, std::string_view type, std::string_view name,
                           std::string_view address);

    const std::vector<cListingEntry>& mRows;
    std::unordered_multimap<uint64_t, size_t> mByDigest;
};

// The bytes of text a row holds (its fields, headers and guide id), which
// is what an import's budget counts.
size_t rowTextBytes(const cListingEntry& row);
