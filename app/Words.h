#pragma once
// The words the interface shows, in the loaded language, for the toolkit:
// captions and titles as UTF-8, and the skin's buttons with their word.
//
// The 180 x 56 button images carry their shape and icon (at x 20 to 44)
// only; the word is a label laid over the image, drawn as the images drew
// it: white, bold sans of 16 px with 0.5 px between letters, centred on
// x 102 with its baseline on y 35. A longer word first moves left, up to
// x 52 beside the icon, and may reach x 166, short of the rounded rim;
// one longer still is drawn smaller, half a pixel at a time, until it
// fits, its middle kept at the same height. It is never cut.
//
// Main loop only.

#include <functional>
#include <string>

#include "app/Toolkit.h"

// interfaceText(name) (state/Language.h) in UTF-8.
std::string shownText(const char16_t* name);
// The same, with the characters that Pango markup gives a meaning escaped,
// for a label that shows markup.
std::string shownMarkup(const char16_t* name);

// The size of a button image and the place its word may take.
constexpr float ButtonImageWidth = 180.0f;
constexpr float ButtonImageHeight = 56.0f;
constexpr float ButtonWordCentreX = 102.0f;
constexpr float ButtonWordLeft = 52.0f;
constexpr float ButtonWordRight = 166.0f;
constexpr float ButtonWordBaseline = 35.0f;
constexpr double ButtonWordPixels = 16.0;

// Where a word stands on its button and at which size.
struct sButtonWordLayout {
    double pixelSize; // font size in pixels, ButtonWordPixels when it fits
    float width;      // the word's width at that size
    float x;          // its left edge, in the button's coordinates
    float baselineY;  // its baseline
};
// The rule above, given the word's width at a font size in pixels.
sButtonWordLayout layOutButtonWord(const std::function<float(double pixelSize)>& widthAt);

// The skin button image fileName (folder "skin", 180 x 56; its grey
// stand-in when it cannot be loaded) with the word of the interface text
// textName on it: a new actor that holds the image, then the label. The
// caller owns it (destroying it destroys both), places it and makes it
// reactive; the image and the label are not, so pointer events over the
// button have the returned actor as their source, and hover effects on it
// move the word with the image.
ClutterActor* loadLabelledButton(const char* fileName, const char16_t* textName);
// The label of a button made by loadLabelledButton (for tests).
ClutterActor* buttonWordLabel(ClutterActor* button);

// Words that follow the language: a label made or set here, the word of a
// button made by loadLabelledButton and a title set here take the text of
// a newly loaded language in relayWords.
//
// A label of the interface text `name` (its name is kept, not the pointer).
ClutterActor* newWordLabel(const char* font, const char16_t* name, const ClutterColor* colour);
// An existing label shows the interface text `name` from now on.
void setWordLabel(ClutterActor* label, const char16_t* name);
// The stage title shows the interface text `name`.
void setTitleWord(const char16_t* name);
// Every such label and button word under root takes the loaded language's
// text (a button's word laid out again by its rule), and so does the title
// unless something else has been set as the title since. Positions that
// depend on a label's width are the scene's to lay out again.
void relayWords(ClutterActor* root);

// Labels of outside text (channel names, a media framework's reasons,
// guide titles), which may be of any length: they never run off the
// window and are never cut mid-word without an ellipsis.
//
// One line: as wide as the text, but no wider than maxWidth; a longer
// text ends in an ellipsis. Sets the label's width: lay it out after.
void fitLineWithin(ClutterActor* label, float maxWidth);
// Over lines: wrapped where words end (a single word longer than a line
// where its characters do), as wide as its longest line and no wider than
// maxWidth. Sets the label's width: lay it out after.
void wrapWithin(ClutterActor* label, float maxWidth);
