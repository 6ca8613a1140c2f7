#include "app/Words.h"

#include <algorithm>

#include "app/Scene.h"
#include "app/Stage.h"
#include "kestrel/Unicode.h"
#include "state/Language.h"

namespace {

const ClutterColor White = {255, 255, 255, 255};

// The face the button images drew their words in, then what stands in for
// it where it is not installed.
const char* const ButtonWordFamilies = "DejaVu Sans,Verdana,Sans";
constexpr double LetterSpacingPixels = 0.5;
constexpr double ShrinkStepPixels = 0.5;
constexpr double SmallestPixels = 1.0;
// The middle of the capitals lies this share of the font size above the
// baseline; a smaller word keeps that middle where the full-size word has
// it.
constexpr double CapitalMiddle = 0.3645;

// Marks the label among the button's children.
const char* const WordLabelName = "button-word";

// The interface text a label shows, kept on the label for relayWords.
const char* const WordKey = "lumivex-word";

void tagWord(ClutterActor* label, const char16_t* name)
{
    g_object_set_data_full(G_OBJECT(label), WordKey, new std::u16string(name),
                           [](gpointer text) { delete static_cast<std::u16string*>(text); });
}

const std::u16string* wordOf(ClutterActor* label)
{
    return static_cast<const std::u16string*>(g_object_get_data(G_OBJECT(label), WordKey));
}

// The stage title set by setTitleWord: its text's name and the text.
std::u16string titleWord;  // main loop only
std::string titleText;     // main loop only

void setWordSize(ClutterText* label, double pixelSize)
{
    PangoFontDescription* font = pango_font_description_from_string(ButtonWordFamilies);
    pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
    pango_font_description_set_absolute_size(font, pixelSize * PANGO_SCALE);
    clutter_text_set_font_description(label, font);
    pango_font_description_free(font);
}

float naturalWidth(ClutterActor* actor)
{
    float minimum = 0.0f;
    float natural = 0.0f;
    clutter_actor_get_preferred_width(actor, -1.0f, &minimum, &natural);
    return natural;
}

} // namespace

std::string shownText(const char16_t* name)
{
    return kestrel::toUtf8(interfaceText(name));
}

std::string shownMarkup(const char16_t* name)
{
    const std::string text = shownText(name);
    gchar* escaped = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
    std::string result(escaped);
    g_free(escaped);
    return result;
}

sButtonWordLayout layOutButtonWord(const std::function<float(double pixelSize)>& widthAt)
{
    const float room = ButtonWordRight - ButtonWordLeft;
    sButtonWordLayout layout;
    layout.pixelSize = ButtonWordPixels;
    layout.width = widthAt(layout.pixelSize);
    while (layout.width > room && layout.pixelSize - ShrinkStepPixels >= SmallestPixels) {
        layout.pixelSize -= ShrinkStepPixels;
        layout.width = widthAt(layout.pixelSize);
    }
    layout.x = std::max(ButtonWordLeft, ButtonWordCentreX - layout.width / 2.0f);
    layout.x = std::min(layout.x, std::max(ButtonWordLeft, ButtonWordRight - layout.width));
    layout.baselineY = static_cast<float>(ButtonWordBaseline - CapitalMiddle * (ButtonWordPixels - layout.pixelSize));
    return layout;
}

namespace {

// The button word's text and its place on the button, by the rule above.
void setButtonWord(ClutterActor* label, const std::u16string& textName)
{
    ClutterText* text = CLUTTER_TEXT(label);
    clutter_text_set_text(text, shownText(textName.c_str()).c_str());
    const sButtonWordLayout layout = layOutButtonWord([label, text](double pixelSize) {
        setWordSize(text, pixelSize);
        return naturalWidth(label);
    });
    setWordSize(text, layout.pixelSize);
    const float baseline = static_cast<float>(pango_layout_get_baseline(clutter_text_get_layout(text))) / PANGO_SCALE;
    clutter_actor_set_position(label, layout.x, layout.baselineY - baseline);
}

} // namespace

ClutterActor* loadLabelledButton(const char* fileName, const char16_t* textName)
{
    ClutterActor* button = clutter_actor_new();
    ClutterActor* image = loadSkinTexture(fileName, ButtonImageWidth, ButtonImageHeight);
    ClutterActor* label = clutter_text_new();
    clutter_actor_set_name(label, WordLabelName);
    tagWord(label, textName);
    ClutterText* text = CLUTTER_TEXT(label);
    clutter_text_set_color(text, &White);
    clutter_text_set_single_line_mode(text, TRUE);
    PangoAttrList* spacing = pango_attr_list_new();
    pango_attr_list_insert(spacing, pango_attr_letter_spacing_new(static_cast<int>(LetterSpacingPixels * PANGO_SCALE)));
    clutter_text_set_attributes(text, spacing);
    pango_attr_list_unref(spacing);
    setButtonWord(label, textName);

    clutter_actor_add_child(button, image);
    clutter_actor_add_child(button, label);
    return button;
}

ClutterActor* newWordLabel(const char* font, const char16_t* name, const ClutterColor* colour)
{
    ClutterActor* label = clutter_text_new_full(font, "", colour);
    setWordLabel(label, name);
    return label;
}

void setWordLabel(ClutterActor* label, const char16_t* name)
{
    tagWord(label, name);
    clutter_text_set_text(CLUTTER_TEXT(label), shownText(name).c_str());
}

void setTitleWord(const char16_t* name)
{
    titleWord = name;
    titleText = shownText(name);
    clutter_stage_set_title(stage(), titleText.c_str());
}

void relayWords(ClutterActor* root)
{
    for (ClutterActor* child = clutter_actor_get_first_child(root); child != nullptr;
         child = clutter_actor_get_next_sibling(child)) {
        if (const std::u16string* word = wordOf(child); word != nullptr && CLUTTER_IS_TEXT(child)) {
            const char* name = clutter_actor_get_name(child);
            if (name != nullptr && std::string(name) == WordLabelName) {
                setButtonWord(child, *word);
            } else {
                clutter_text_set_text(CLUTTER_TEXT(child), shownText(word->c_str()).c_str());
            }
        }
        relayWords(child);
    }
    // A title another scene has set since (a channel's name) is not a word.
    const char* title = clutter_stage_get_title(stage());
    if (!titleWord.empty() && title != nullptr && titleText == title) {
        setTitleWord(titleWord.c_str());
    }
}

ClutterActor* buttonWordLabel(ClutterActor* button)
{
    for (ClutterActor* child = clutter_actor_get_first_child(button); child != nullptr;
         child = clutter_actor_get_next_sibling(child)) {
        const char* name = clutter_actor_get_name(child);
        if (name != nullptr && std::string(name) == WordLabelName) {
            return child;
        }
    }
    return nullptr;
}

void fitLineWithin(ClutterActor* label, float maxWidth)
{
    ClutterText* text = CLUTTER_TEXT(label);
    clutter_text_set_line_wrap(text, FALSE);
    clutter_text_set_ellipsize(text, PANGO_ELLIPSIZE_END);
    clutter_actor_set_width(label, -1.0f); // its natural width first
    clutter_actor_set_width(label, std::min(naturalWidth(label), std::max(maxWidth, 1.0f)));
}

void wrapWithin(ClutterActor* label, float maxWidth)
{
    ClutterText* text = CLUTTER_TEXT(label);
    clutter_text_set_ellipsize(text, PANGO_ELLIPSIZE_NONE);
    clutter_text_set_line_wrap(text, TRUE);
    clutter_text_set_line_wrap_mode(text, PANGO_WRAP_WORD_CHAR);
    clutter_actor_set_width(label, -1.0f);
    const float room = std::max(maxWidth, 1.0f);
    if (naturalWidth(label) <= room) {
        return;
    }
    // Wrapped at the room's width, then as narrow as its longest line, so
    // that a centred label stays centred.
    clutter_actor_set_width(label, room);
    PangoRectangle logical = {};
    pango_layout_get_pixel_extents(clutter_text_get_layout(text), nullptr, &logical);
    clutter_actor_set_width(label, std::min(room, static_cast<float>(logical.width)));
}
