// The texture reflection on the real toolkit, checked on a screenshot: the
// mirrored image appears below the texture, fades out, keeps to its band and
// follows new texture content.

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "TestSupport.h"
#include "app/Reflection.h"
#include "app/Stage.h"

namespace {

constexpr int Side = 64;
constexpr float TextureX = 100.0f;
constexpr float TextureY = 100.0f;
constexpr int ReflectionTop = 100 + Side + 5; // 5 pixels below the texture

// A texture whose upper half is `top` and lower half `bottom` (RGB).
void fillTexture(ClutterTexture* texture, const guchar top[3], const guchar bottom[3])
{
    std::vector<guchar> pixels(Side * Side * 3);
    for (int y = 0; y < Side; ++y) {
        const guchar* colour = y < Side / 2 ? top : bottom;
        for (int x = 0; x < Side; ++x) {
            std::copy(colour, colour + 3, &pixels[(y * Side + x) * 3]);
        }
    }
    clutter_texture_set_from_rgb_data(texture, pixels.data(), FALSE, Side, Side, Side * 3, 3, CLUTTER_TEXTURE_NONE,
                                      nullptr);
}

class ReflectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        clutter_actor_show(stageActor());
        mTexture = clutter_texture_new();
        fillTexture(CLUTTER_TEXTURE(mTexture), Red, Blue);
        clutter_actor_set_position(mTexture, TextureX, TextureY);
        clutter_actor_set_size(mTexture, Side, Side);
        clutter_actor_add_child(stageActor(), mTexture);

        mReflection = lumivex_texture_reflection_new(CLUTTER_TEXTURE(mTexture));
        clutter_actor_set_position(mReflection, TextureX, ReflectionTop);
        clutter_actor_set_size(mReflection, Side, Side);
        clutter_actor_add_child(stageActor(), mReflection);
    }

    void TearDown() override
    {
        if (mReflection != nullptr) {
            clutter_actor_destroy(mReflection);
            clutter_actor_destroy(mTexture);
        }
    }

    // The colour in the middle of the reflection's row `row` (0 = its top).
    void reflectionRow(const sScreenshot& shot, int row, int& red, int& green, int& blue)
    {
        shot.at(static_cast<int>(TextureX) + Side / 2, ReflectionTop + row, red, green, blue);
    }

    static constexpr guchar Red[3] = {255, 0, 0};
    static constexpr guchar Blue[3] = {0, 0, 255};
    static constexpr guchar Green[3] = {0, 255, 0};

    ClutterActor* mTexture = nullptr;
    ClutterActor* mReflection = nullptr;
};

TEST_F(ReflectionTest, MirroredImageAppearsBelowAndFadesOut)
{
    lumivex_texture_reflection_set_reflection_height(LUMIVEX_TEXTURE_REFLECTION(mReflection), 50);
    EXPECT_EQ(lumivex_texture_reflection_get_reflection_height(LUMIVEX_TEXTURE_REFLECTION(mReflection)), 50);
    const sScreenshot shot = takeScreenshot();
    ASSERT_GT(shot.width, 0);

    int r = 0;
    int g = 0;
    int b = 0;
    // The texture itself: red above blue.
    shot.at(static_cast<int>(TextureX) + 10, static_cast<int>(TextureY) + 10, r, g, b);
    EXPECT_GT(r, 200);
    EXPECT_LT(b, 50);
    shot.at(static_cast<int>(TextureX) + 10, static_cast<int>(TextureY) + Side - 10, r, g, b);
    EXPECT_GT(b, 200);

    // The gap between texture and reflection stays black.
    shot.at(static_cast<int>(TextureX) + 10, ReflectionTop - 2, r, g, b);
    EXPECT_LT(r + g + b, 10);

    // Near edge: the texture's bottom (blue), nearly at full strength.
    reflectionRow(shot, 2, r, g, b);
    EXPECT_GT(b, 200);
    EXPECT_LT(r, 30);
    int nearBlue = b;
    // Further down the band still blue, but fainter.
    reflectionRow(shot, 25, r, g, b);
    EXPECT_GT(b, 40);
    EXPECT_LT(b, nearBlue);
    // Past the texture's middle the mirrored upper half (red) shows.
    reflectionRow(shot, 38, r, g, b);
    EXPECT_GT(r, 15);
    EXPECT_GT(r, b);
    // Below the band of 50 pixels nothing is drawn.
    reflectionRow(shot, 55, r, g, b);
    EXPECT_LT(r + g + b, 10);

    if (HasFailure()) {
        const std::string path = makeTempFolder() + "/reflection.ppm";
        if (shot.writePpm(path)) {
            std::printf("screenshot kept in %s\n", path.c_str());
        }
    }
}

// The texture is red above blue as stored. Turned half a turn about the x
// axis (as the bottom-up frames and pictures are), the viewer sees blue
// above red. A negative height mirrors what the viewer sees; a positive one
// always mirrors the stored image's last rows.
TEST_F(ReflectionTest, NegativeHeightMirrorsTheTextureAsShown)
{
    struct sCase {
        int height;
        bool turned;
        bool nearRed; // the band's near edge: red (else blue)
    } cases[] = {
        {30, false, false},
        {-30, false, false},
        {30, true, false},
        {-30, true, true},
    };
    auto* reflection = LUMIVEX_TEXTURE_REFLECTION(mReflection);
    for (const sCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "height " << c.height << (c.turned ? " turned" : " upright"));
        clutter_actor_set_rotation(mTexture, CLUTTER_X_AXIS, c.turned ? 180.0 : 0.0, 0.0f, Side / 2.0f, 0.0f);
        lumivex_texture_reflection_set_reflection_height(reflection, c.height);
        EXPECT_EQ(lumivex_texture_reflection_get_reflection_height(reflection), c.height);
        const sScreenshot shot = takeScreenshot();
        int r = 0;
        int g = 0;
        int b = 0;
        // What the viewer sees at the texture's bottom edge is what the
        // reflection's near edge should show for a negative height.
        shot.at(static_cast<int>(TextureX) + Side / 2, static_cast<int>(TextureY) + Side - 4, r, g, b);
        EXPECT_EQ(r > b, c.turned) << "texture's visible bottom";
        for (int row : {1, 10, 20}) {
            reflectionRow(shot, row, r, g, b);
            if (c.nearRed) {
                EXPECT_GT(r, b + 20) << "row " << row;
            } else {
                EXPECT_GT(b, r + 20) << "row " << row;
            }
        }
        // The band keeps to its 30 rows either way.
        for (int row : {31, 40}) {
            reflectionRow(shot, row, r, g, b);
            EXPECT_LT(r + g + b, 10) << "row " << row;
        }
    }
    clutter_actor_set_rotation(mTexture, CLUTTER_X_AXIS, 0.0, 0.0f, 0.0f, 0.0f);
}

TEST_F(ReflectionTest, FollowsNewTextureContentAndActorOpacity)
{
    lumivex_texture_reflection_set_reflection_height(LUMIVEX_TEXTURE_REFLECTION(mReflection), 30);
    takeScreenshot();
    fillTexture(CLUTTER_TEXTURE(mTexture), Red, Green);
    sScreenshot shot = takeScreenshot();
    int r = 0;
    int g = 0;
    int b = 0;
    reflectionRow(shot, 1, r, g, b);
    EXPECT_GT(g, 200);
    EXPECT_LT(b, 30);

    // The opacity every caller gives the reflection: a quarter strength.
    clutter_actor_set_opacity(mReflection, 64);
    shot = takeScreenshot();
    reflectionRow(shot, 0, r, g, b);
    EXPECT_GT(g, 40);
    EXPECT_LT(g, 80);
}

TEST_F(ReflectionTest, SurvivesTheDestructionOfItsTexture)
{
    clutter_actor_destroy(mTexture);
    EXPECT_EQ(lumivex_texture_reflection_get_parent_texture(LUMIVEX_TEXTURE_REFLECTION(mReflection)), nullptr);
    const sScreenshot shot = takeScreenshot();
    int r = 0;
    int g = 0;
    int b = 0;
    reflectionRow(shot, 2, r, g, b);
    EXPECT_LT(r + g + b, 10);
    mTexture = clutter_texture_new(); // for TearDown
}

} // namespace
