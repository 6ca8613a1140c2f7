#pragma once
// The favourites scene: the user's favourite channels in one list, in their
// stored order, at the place of the browser's channel list. Choosing a row
// makes that favourite the catalogue's current channel; the play orb then
// asks for the player scene. The list starts without a selection at every
// visit, and the favourites button of the shared frame stays hidden.
// Typing narrows the list as in the browser (SearchLine.h). Under the list,
// the chosen favourite's programme now, as the browser shows it.
//
// Keys: the list has the keyboard; Up and Down move its selection, Enter
// plays as the orb does, Escape and Backspace go back.
//
// Everything here runs on the main loop.

#include <memory>

#include "app/Scene.h"
#include "catalogue/NameSearch.h"
#include "scenes/ChannelsScene.h"
#include "scenes/GuideLines.h"
#include "scenes/SearchLine.h"
#include "widgets/ListWidget.h"

class cFavoritesScene : public cScene {
public:
    explicit cFavoritesScene(ClutterActor* root);
    ~cFavoritesScene() override;

    void show() override;
    void hide() override;
    // The search line and the guide line in the new language, then the
    // frame laid out again.
    void wordsChanged() override;

protected:
    void layOutForStage(float width, float height) override;

public:
    // For checks.
    cListWidget& favouritesList() const { return *mList; }
    const cPickerFrame& frame() const { return mFrame; }
    const cSearchLine& searchLine() const { return mSearchLine; }
    ClutterActor* guideLine() const { return mGuideLine.actor(); }

private:
    void chooseFavourite();
    // Plays the chosen favourite, if there is one (the play orb, Enter).
    void playChosenFavourite();
    bool handleEvent(const ClutterEvent* event, ClutterEventType type, ClutterActor* source);
    bool handleKey(const ClutterKeyEvent& key);
    // The search line's text changed: the list follows it.
    void searchChanged(cSearchLine::eChange change);
    // The favourite's index of a row of the list as it stands.
    int favouriteOfRow(int row) const;
    // The guide line for the chosen favourite (hidden without one).
    void updateGuideLine();

    // All fields: main loop only. The list is deleted before the frame.
    cPickerFrame mFrame;
    cSearchLine mSearchLine;
    std::unique_ptr<cListWidget> mList;
    cNameSearch mNameSearch;  // over the favourites' names while a search is open
    int mChosenInSearch = -1; // the favourite chosen in the narrowed list
    cKeyPressHandler mKeys;
    cStageHandlers mHandlers;
    cGuideLine mGuideLine; // in the frame's scene group
};
