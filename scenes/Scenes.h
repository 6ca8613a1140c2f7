#pragma once
// How the scenes join the scene switching: their factories replace the
// shell's placeholders for their kinds. The application calls it once at
// start-up, before the first scene request. Any thread.

void installScenes();
