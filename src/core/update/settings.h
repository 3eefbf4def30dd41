#pragma once
// The periodic-check settings ("Config.ini" beside the program, section "Download", keys
// "Auto" and "Time") and the window handlers that use them. All run on the window thread.

struct Globals;

inline constexpr const char kSettingsFile[] = "Config.ini";
inline constexpr const char kRootsSection[] = "Roots";
inline constexpr int kCheckTimerPeriodMs = 5000;  // any period well below an hour serves

// The window's created event: sets programDir and processorCount, starts the update check
// (which hashes the local archives on its own thread), restores the settings and restarts
// the check interval.
void onMainWindowCreated(Globals& g);
// The check box's click and the interval box's loss of focus: writes both settings and, when
// the box is ticked, restarts the check interval.
void saveAutoCheckSettings(Globals& g);
// The directory boxes' loss of focus and the window's closing: writes the text of each
// package's directory box to section "Roots" (key: the package's alias), lines joined by "|".
void saveServerRoots(Globals& g);
// Start-up: puts each saved text back into its box; a box without a saved value keeps its
// default text.
void restoreServerRoots(Globals& g);
// The timer's tick: starts the update check once strictly more than the interval has passed.
void onCheckTimer(Globals& g);

// The leading decimal number of a text ("12h" gives 12); 0 without one.
long leadingNumber(const char* text);
