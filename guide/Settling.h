#pragma once
// The settling rule of a guide: how one channel's programmes, as the
// sources gave them, become the programmes the guide keeps. Plain rules
// over plain values, so that a table of cases can check them.
//
// The programmes come in start order (sources in their order for equal
// starts). A programme with the start of an earlier one is left out; a
// programme without a stop ends where the next one starts; a later start
// cuts an overlap short; a programme without a stop and without a next one
// is left out. Only the programmes that show between `from` and `to` (UTC
// seconds) are kept.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct cStagedTimes {
    int64_t start = 0;
    std::optional<int64_t> stop;
};

struct cSettledTimes {
    size_t index = 0; // of the programme in the channel's list
    int64_t start = 0;
    int64_t stop = 0;
};

// What the rule left out or changed, counted for the log. Overlaps and
// programmes without an end are counted only when they would show.
struct cSettleCounts {
    size_t sameStart = 0;
    size_t overlapsCut = 0;
    size_t withoutEnd = 0;
};

std::vector<cSettledTimes> settleChannel(const std::vector<cStagedTimes>& programmes, int64_t from, int64_t to,
                                         cSettleCounts& counts);
