#pragma once
// How the scenes join the scene switching: their factories replace the
// shell's placeholders for their kinds, and the player scene becomes the
// one the play-channel procedure builds. The application calls it once at
// start-up, before the first scene request. Any thread.

void installScenes();
