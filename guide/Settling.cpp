#include "guide/Settling.h"

std::vector<cSettledTimes> settleChannel(const std::vector<cStagedTimes>& programmes, int64_t from, int64_t to,
                                         cSettleCounts& counts)
{
    std::vector<cSettledTimes> kept;
    // The programme waiting for the next start, which may end it.
    std::optional<size_t> pending;
    const auto flush = [&](std::optional<int64_t> nextStart) {
        if (!pending) {
            return;
        }
        const cStagedTimes& programme = programmes[*pending];
        std::optional<int64_t> end = programme.stop;
        if (nextStart && (!end || *nextStart < *end)) {
            if (end && programme.start < to && *end > from) {
                ++counts.overlapsCut;
            }
            end = nextStart;
        }
        const size_t index = *pending;
        pending.reset();
        if (!end) {
            if (programme.start < to && programme.start >= from) {
                ++counts.withoutEnd;
            }
            return;
        }
        if (*end <= from || programme.start >= to) {
            return;
        }
        kept.push_back({index, programme.start, *end});
    };
    for (size_t i = 0; i < programmes.size(); ++i) {
        if (pending) {
            if (programmes[i].start == programmes[*pending].start) {
                ++counts.sameStart;
                continue;
            }
            flush(programmes[i].start);
        }
        pending = i;
    }
    flush(std::nullopt);
    return kept;
}
