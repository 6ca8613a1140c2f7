#include "catalogue/DistinctRows.h"

#include <functional>

uint64_t cDistinctRows::digest(std::string_view country, std::string_view type, std::string_view name,
                               std::string_view address)
{
    uint64_t value = 0;
    for (std::string_view field : {country, type, name, address}) {
        // Each field's hash mixed in turn, so that the same text moved from
        // one field to the next digests differently.
        value = (value ^ std::hash<std::string_view>()(field)) * 0x100000001B3ULL + field.size();
    }
    return value;
}

bool cDistinctRows::isNew(std::string_view country, std::string_view type, std::string_view name,
                          std::string_view address) const
{
    const auto [first, last] = mByDigest.equal_range(digest(country, type, name, address));
    for (auto item = first; item != last; ++item) {
        const cListingEntry& row = mRows[item->second];
        if (row.country == country && row.type == type && row.name == name && row.address == address) {
            return false;
        }
    }
    return true;
}

void cDistinctRows::remember(size_t index)
{
    const cListingEntry& row = mRows[index];
    mByDigest.emplace(digest(row.country, row.type, row.name, row.address), index);
}

size_t rowTextBytes(const cListingEntry& row)
{
    return row.country.size() + row.type.size() + row.name.size() + row.description.size() + row.address.size() +
           row.headers.userAgent.size() + row.headers.referrer.size() + row.headers.origin.size() +
           row.guideId.size();
}
