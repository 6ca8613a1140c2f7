// The skin as the build rendered it beside the executable: every image the
// scenes and widgets load exists, loads, and has the size their layouts
// are made for; the window icons too.

#include <gtest/gtest.h>

#include <string>

#include "SceneDriver.h"
#include "app/Scene.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"

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
