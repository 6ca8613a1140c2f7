// The settling rule of one channel's programmes, as a table: missing
// stops, overlaps, equal starts, zero lengths and the window.

#include "guide/Settling.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string shown(const std::vector<cSettledTimes>& kept)
{
    std::string text;
    for (const cSettledTimes& programme : kept) {
        text += (text.empty() ? "" : " ") + std::to_string(programme.index) + ":" + std::to_string(programme.start) +
                "-" + std::to_string(programme.stop);
    }
    return text;
}

} // namespace

TEST(Settling, OneChannelsProgrammesBecomeTheKeptOnes)
{
    constexpr int64_t From = 100;
    constexpr int64_t To = 1000;
    const std::optional<int64_t> none;
    const struct {
        const char* what;
        std::vector<cStagedTimes> programmes;
        const char* kept;
        cSettleCounts counts;
    } cases[] = {
        {"programmes one after another stay as they are", {{200, 300}, {300, 400}}, "0:200-300 1:300-400", {}},
        {"a missing stop ends at the next start", {{200, none}, {260, 300}}, "0:200-260 1:260-300", {}},
        {"the last one without a stop is left out and counted", {{200, 300}, {300, none}}, "0:200-300", {0, 0, 1}},
        {"a later start cuts an overlap short", {{200, 400}, {300, 500}}, "0:200-300 1:300-500", {0, 1, 0}},
        {"equal starts keep the first (the earlier source)", {{200, 300}, {200, 350}, {300, 400}},
         "0:200-300 2:300-400", {1, 0, 0}},
        {"a zero length is kept as it is", {{200, 200}, {300, 400}}, "0:200-200 1:300-400", {}},
        {"outside the window nothing is kept or counted", {{10, 50}, {1000, none}, {1100, 1200}}, "", {}},
        {"a programme that runs into the window is kept whole", {{50, 150}, {150, 200}}, "0:50-150 1:150-200", {}},
        {"an overlap before the window is not counted", {{10, 60}, {40, 90}}, "", {}},
        {"no programmes", {}, "", {}},
    };
    for (const auto& c : cases) {
        cSettleCounts counts;
        EXPECT_EQ(shown(settleChannel(c.programmes, From, To, counts)), c.kept) << c.what;
        EXPECT_EQ(counts.sameStart, c.counts.sameStart) << c.what;
        EXPECT_EQ(counts.overlapsCut, c.counts.overlapsCut) << c.what;
        EXPECT_EQ(counts.withoutEnd, c.counts.withoutEnd) << c.what;
    }
}
