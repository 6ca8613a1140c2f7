#include "catalogue/ListStates.h"

#include "state/Settings.h"

void resetListState(const std::u16string& name)
{
    cSettings* settings = cSettings::instance();
    settings->setInteger(name + u"_active", 0);
    settings->setInteger(name + u"_topElement", 0);
    settings->setInteger(name + u"_scrollY", 0);
}

void resetBrowserListStates()
{
    resetListState(u"countryList");
    resetListState(u"typeList");
    resetListState(u"channelsList");
}
