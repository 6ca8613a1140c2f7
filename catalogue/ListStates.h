#pragma once
// The saved scroll and selection states of the channel browser's three
// lists live in the settings store as name + "_active", "_topElement" and
// "_scrollY". A new catalogue makes them meaningless, so the update resets
// them.

#include <string>

// Writes 0 to the three keys of the named list.
void resetListState(const std::u16string& name);
// resetListState for "countryList", "typeList" and "channelsList", in order.
void resetBrowserListStates();
