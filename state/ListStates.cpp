#include "state/ListStates.h"

#include "state/Settings.h"

namespace {

const char16_t* const ActiveSuffix = u"_active";
const char16_t* const TopElementSuffix = u"_topElement";
const char16_t* const ScrollYSuffix = u"_scrollY";

} // namespace

sListState readListState(const std::u16string& name)
{
    const cSettings* settings = cSettings::instance();
    sListState state;
    state.active = settings->getInteger(name + ActiveSuffix, 0);
    state.topElement = settings->getInteger(name + TopElementSuffix, 0);
    state.scrollY = settings->getInteger(name + ScrollYSuffix, 0);
    return state;
}

void writeListState(const std::u16string& name, const sListState& state)
{
    cSettings* settings = cSettings::instance();
    settings->setInteger(name + ActiveSuffix, state.active);
    settings->setInteger(name + TopElementSuffix, state.topElement);
    settings->setInteger(name + ScrollYSuffix, state.scrollY);
}

void resetListState(const std::u16string& name)
{
    writeListState(name, sListState{});
}

void resetBrowserListStates()
{
    resetListState(u"countryList");
    resetListState(u"typeList");
    resetListState(u"channelsList");
}
