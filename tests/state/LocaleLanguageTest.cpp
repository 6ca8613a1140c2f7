// The language of a first start, from the desktop's locale variables.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "kestrel/Unicode.h"
#include "state/LocaleLanguage.h"

namespace {

struct sLocaleCase {
    const char* lcAll;      // null: unset
    const char* lcMessages; // null: unset
    const char* lang;       // null: unset
    const char16_t* language;
};

} // namespace

TEST(LocaleLanguageTest, TheMessagesLocaleChoosesAmongTheFiles)
{
    const std::vector<std::u16string> available = {u"dutch",  u"english", u"french",     u"german",
                                                   u"italian", u"polish", u"portuguese", u"russian",
                                                   u"spanish", u"turkish", u"ukrainian"};
    const sLocaleCase cases[] = {
        {nullptr, nullptr, nullptr, u"english"},
        {nullptr, nullptr, "de_DE.UTF-8", u"german"},
        {nullptr, nullptr, "pt_BR.UTF-8", u"portuguese"},
        {nullptr, nullptr, "pt_PT", u"portuguese"},
        {nullptr, nullptr, "fr_CA.utf8@euro", u"french"},
        {nullptr, nullptr, "nl_BE@euro", u"dutch"},
        {nullptr, nullptr, "uk_UA.UTF-8", u"ukrainian"},
        {nullptr, nullptr, "tr_TR.ISO-8859-9", u"turkish"},
        {nullptr, nullptr, "ru", u"russian"},
        {nullptr, nullptr, "ES_es.UTF-8", u"spanish"},
        {nullptr, nullptr, "C", u"english"},
        {nullptr, nullptr, "C.UTF-8", u"english"},
        {nullptr, nullptr, "POSIX", u"english"},
        {nullptr, nullptr, "ja_JP.UTF-8", u"english"},
        // Low German is not German; Ukrainian is not the United Kingdom.
        {nullptr, nullptr, "nds_DE.UTF-8", u"english"},
        {nullptr, nullptr, "en_GB.UTF-8", u"english"},
        {nullptr, nullptr, "", u"english"},
        // LC_ALL before LC_MESSAGES before LANG; empty counts as unset.
        {"it_IT.UTF-8", "pl_PL.UTF-8", "de_DE.UTF-8", u"italian"},
        {nullptr, "pl_PL.UTF-8", "de_DE.UTF-8", u"polish"},
        {"", "", "de_DE.UTF-8", u"german"},
        {"", "pl_PL.UTF-8", "de_DE.UTF-8", u"polish"},
        // The variable that decides names a language without a file, or
        // English itself: English, not the language of a lower variable.
        {"ja_JP.UTF-8", nullptr, "de_DE.UTF-8", u"english"},
        {nullptr, "C", "de_DE.UTF-8", u"english"},
        {"en_US.UTF-8", nullptr, "fr_FR.UTF-8", u"english"},
    };
    for (const sLocaleCase& c : cases) {
        const std::map<std::string, const char*> variables = {
            {"LC_ALL", c.lcAll}, {"LC_MESSAGES", c.lcMessages}, {"LANG", c.lang}};
        SCOPED_TRACE(std::string("LC_ALL=") + (c.lcAll ? c.lcAll : "(unset)") + " LC_MESSAGES=" +
                     (c.lcMessages ? c.lcMessages : "(unset)") + " LANG=" + (c.lang ? c.lang : "(unset)"));
        const auto environment = [&variables](const char* name) -> const char* {
            const auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second;
        };
        EXPECT_EQ(kestrel::toUtf8(languageForLocale(environment, available)), kestrel::toUtf8(c.language));
    }

    // A language whose file is missing from the installation gives English.
    const auto german = [](const char* name) -> const char* {
        return std::string(name) == "LANG" ? "de_DE.UTF-8" : nullptr;
    };
    EXPECT_EQ(languageForLocale(german, {u"english", u"french"}), u"english");
}
