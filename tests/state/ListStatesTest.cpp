// The saved list states in the settings store: the three keys of a list,
// their defaults, and the reset of the channel browser's lists.

#include <gtest/gtest.h>

#include "state/ListStates.h"
#include "state/Settings.h"

namespace {

class ListStatesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cSettings::destroyInstance();
        mSettings = cSettings::instance();
    }
    void TearDown() override { cSettings::destroyInstance(); }

    cSettings* mSettings = nullptr;
};

TEST_F(ListStatesTest, WrittenStateReadsBackUnderItsThreeKeys)
{
    writeListState(u"channelsList", sListState{-1, 12, -264});
    EXPECT_EQ(mSettings->getString(u"channelsList_active", u"absent"), u"-1");
    EXPECT_EQ(mSettings->getString(u"channelsList_topElement", u"absent"), u"12");
    EXPECT_EQ(mSettings->getString(u"channelsList_scrollY", u"absent"), u"-264");

    const sListState state = readListState(u"channelsList");
    EXPECT_EQ(state.active, -1);
    EXPECT_EQ(state.topElement, 12);
    EXPECT_EQ(state.scrollY, -264);
}

TEST_F(ListStatesTest, MissingKeysReadAsFirstRowAtTheTop)
{
    mSettings->setInteger(u"typeList_topElement", 3); // another list's key
    const sListState state = readListState(u"countryList");
    EXPECT_EQ(state.active, 0);
    EXPECT_EQ(state.topElement, 0);
    EXPECT_EQ(state.scrollY, 0);
}

TEST_F(ListStatesTest, BrowserResetWritesZeroToTheNineKeysAndNothingElse)
{
    const char16_t* const lists[] = {u"countryList", u"typeList", u"channelsList"};
    for (const char16_t* list : lists) {
        writeListState(list, sListState{4, 5, -110});
    }
    writeListState(u"favoritesList", sListState{2, 1, -22});

    resetBrowserListStates();

    for (const char16_t* list : lists) {
        for (const char16_t* suffix : {u"_active", u"_topElement", u"_scrollY"}) {
            const std::u16string key = std::u16string(list) + suffix;
            // Written as 0, not removed: the file then says so too.
            EXPECT_EQ(mSettings->getString(key, u"absent"), u"0");
        }
    }
    const sListState other = readListState(u"favoritesList");
    EXPECT_EQ(other.active, 2);
    EXPECT_EQ(other.topElement, 1);
    EXPECT_EQ(other.scrollY, -22);
}

} // namespace
