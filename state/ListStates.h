#pragma once
// The saved selection and scroll position of a named list, kept in the
// settings store under three integer keys: name + "_active",
// name + "_topElement" and name + "_scrollY". A missing key reads as 0, so a
// list that was never saved (or was reset) comes back with its first row
// selected and scrolled to the top.
//
// Plain values only: the list widget reads and writes them through
// restoreListState and saveListState (widgets/ListWidget.h); the catalogue
// update resets the channel browser's three lists after installing a new
// catalogue, whose rows the saved states no longer match. Any thread, as
// the settings store is.

#include <cstdint>
#include <string>

struct sListState {
    int32_t active = 0;     // selected row, -1 when none
    int32_t topElement = 0; // first row scrolled into view
    int32_t scrollY = 0;    // vertical offset of the rows, 0 or negative
};

// The three keys of the named list, each 0 when absent.
sListState readListState(const std::u16string& name);
// Writes the three keys of the named list.
void writeListState(const std::u16string& name, const sListState& state);
// Writes 0 to the three keys of the named list.
void resetListState(const std::u16string& name);
// resetListState for "countryList", "typeList" and "channelsList", in this
// order: the channel browser's three lists.
void resetBrowserListStates();
