#pragma once
// The one door to the scene-graph toolkit. The program keeps using calls
// that the toolkit has since marked as old (groups, anchor points, the
// default stage, the thread lock), so their deprecation warnings are
// silenced here for every file that includes the toolkit through this
// header, and nowhere else.

#ifndef CLUTTER_DISABLE_DEPRECATION_WARNINGS
#define CLUTTER_DISABLE_DEPRECATION_WARNINGS
#endif
#ifndef COGL_DISABLE_DEPRECATION_WARNINGS
#define COGL_DISABLE_DEPRECATION_WARNINGS
#endif

#include <clutter/clutter.h>
