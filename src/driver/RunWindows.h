// Which windows a run makes, decided here from its options: the backdrop and the wizard's picture
// in the interactive run, the same on a thread of their own in a passive run, none in a quiet run;
// and whether a close of them asks the run to stop (a passive run only).
#pragma once

#include <windows.h>

// Tells the backdrop its title (UninstallMode) and whether a close means stop, then puts up what
// the run shows: registers the backdrop class, loads WizardBitmap and makes the backdrop (on the
// passive windows' thread in a passive run). Returns the backdrop; null in a quiet run, which
// shows no window, and when it cannot be made.
HWND PutUpRunWindows();

// Takes down what PutUpRunWindows put up: the passive windows' thread, the wizard's picture.
void TakeDownRunWindows();

// The progress dialog owned by backdrop (CreateProgressDisplay); null in a quiet run, whose
// updates then do nothing.
HWND ShowProgress(HWND backdrop);
