// The skin as the build rendered it beside the executable: every image the
// scenes and widgets load exists, loads, and has the size their layouts
// are made for; the window icons too. The words laid over the buttons fit
// them in every language.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SceneDriver.h"
#include "app/Scene.h"
#include "app/Stage.h"
#include "app/Words.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
#include "state/Language.h"

TEST(Skin, EveryImageIsRenderedAtItsSize)
{
    ASSERT_TRUE(ensureUi()) << uiFailure();
    struct sImage {
        const char* path;
        int width, height;
    };
    const sImage images[] = {
        {"skin/list-bg.png", 256, 256},        {"skin/list-selection.png", 256, 26},
        {"skin/list-scroll-up.png", 48, 20},   {"skin/list-scroll-down.png", 48, 20},
        {"skin/scaler-bg.png", 256, 32},       {"skin/scaler-slider.png", 20, 32},
        {"skin/volume-button.png", 96, 96},    {"skin/volume-bg.png", 96, 96},
        {"skin/idle-bg.png", 800, 600},        {"skin/logo.png", 400, 150},
        {"skin/channels-button.png", 180, 56}, {"skin/fav-button.png", 180, 56},
        {"skin/movie.png", 256, 256},          {"skin/channels-by-type-bg.png", 800, 600},
        {"skin/back-button.png", 180, 56},     {"skin/play-orb.png", 96, 96},
        {"skin/player-bg.png", 800, 600},      {"skin/empty.png", 256, 256},
        {"skin/busy.png", 96, 96},             {"skin/fullscreen.png", 48, 48},
        {"skin/add2fav.png", 48, 48},          {"skin/update-bg.png", 800, 600},
        {"skin/continue-button.png", 180, 56}, {"icons/lumivex-48.png", 48, 48},
        {"icons/lumivex-32.png", 32, 32},
    };
    const std::string folder = kestrel::toUtf8(kestrel::cSystem::getApplicationPath());
    for (const sImage& image : images) {
        GError* error = nullptr;
        ClutterActor* texture = clutter_texture_new_from_file((folder + image.path).c_str(), &error);
        ASSERT_NE(texture, nullptr) << image.path << ": " << (error != nullptr ? error->message : "");
        gint width = 0, height = 0;
        clutter_texture_get_base_size(CLUTTER_TEXTURE(texture), &width, &height);
        EXPECT_EQ(width, image.width) << image.path;
        EXPECT_EQ(height, image.height) << image.path;
        clutter_actor_destroy(texture);
    }
}

// Every button of every shipped language, laid out as the scenes lay it
// out: the whole word (nothing cut off) between the icon and the rim, at
// full size where it fits and never smaller than a readable size; English
// words centred where the images once drew them.
TEST(Skin, EveryLanguagesButtonWordsFitTheirButtons)
{
    ASSERT_TRUE(ensureUi()) << uiFailure();
    const struct {
        const char* image;
        const char16_t* text;
    } buttons[] = {{"channels-button.png", u"button_channels"},
                   {"fav-button.png", u"button_favourites"},
                   {"back-button.png", u"button_back"},
                   {"continue-button.png", u"button_continue"}};
    const std::u16string applicationFolder = kestrel::cSystem::getApplicationPath();
    const std::vector<std::u16string> languages = availableLanguages(applicationFolder);
    ASSERT_EQ(languages.size(), 11u);
    for (const std::u16string& language : languages) {
        clearLanguage();
        ASSERT_TRUE(loadLanguage(languageFilePath(applicationFolder, language)));
        for (const auto& button : buttons) {
            SCOPED_TRACE(kestrel::toUtf8(language) + " " + kestrel::toUtf8(button.text));
            ClutterActor* actor = loadLabelledButton(button.image, button.text);
            clutter_actor_add_child(stageActor(), actor);
            ClutterActor* label = buttonWordLabel(actor);
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(clutter_text_get_text(CLUTTER_TEXT(label)), kestrel::toUtf8(interfaceText(button.text)));
            EXPECT_NE(kestrel::toUtf8(interfaceText(button.text)), kestrel::toUtf8(button.text));
            EXPECT_FLOAT_EQ(clutter_actor_get_width(actor), ButtonImageWidth);
            EXPECT_FLOAT_EQ(clutter_actor_get_height(actor), ButtonImageHeight);

            float x = 0, y = 0, naturalWidth = 0, naturalHeight = 0, minimum = 0;
            clutter_actor_get_position(label, &x, &y);
            clutter_actor_get_preferred_width(label, -1, &minimum, &naturalWidth);
            clutter_actor_get_preferred_height(label, naturalWidth, &minimum, &naturalHeight);
            // Laid out at its natural size, so nothing of it is cut.
            EXPECT_FLOAT_EQ(clutter_actor_get_width(label), naturalWidth);
            EXPECT_GE(x, ButtonWordLeft);
            EXPECT_LE(x + naturalWidth, ButtonWordRight);
            EXPECT_GE(y, 0.0f);
            EXPECT_LE(y + naturalHeight, ButtonImageHeight);
            const double pixels =
                pango_font_description_get_size(clutter_text_get_font_description(CLUTTER_TEXT(label))) /
                double(PANGO_SCALE);
            EXPECT_GE(pixels, 12.0);
            if (language == u"english") {
                EXPECT_DOUBLE_EQ(pixels, ButtonWordPixels);
                EXPECT_NEAR(x + naturalWidth / 2, ButtonWordCentreX, 0.5);
            }
            clutter_actor_destroy(actor);
        }
    }
    clearLanguage();
}
