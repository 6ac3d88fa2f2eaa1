// The windows of a passive run on a thread of their own. Nobody answers anything in a passive
// run, so no modal loop ever runs on the install thread: this thread handles the backdrop's and
// the progress dialog's messages all the time, through long entries and waits alike, and takes a
// close (Alt+F4, Cancel) at once.
#pragma once

#include <windows.h>

// Starts the thread, which makes the backdrop (CreateBackdropWindow; its class must be registered)
// and then handles its thread's messages, showing the progress handed over to it every
// PassiveRoundMs. Returns the backdrop, or null when the thread or the window cannot be made (no
// thread is left running then).
HWND StartPassiveWindows();

// Destroys the windows of StartPassiveWindows and waits for its thread to end. Nothing when none
// was started.
void StopPassiveWindows();

// How often the progress handed over is shown.
const UINT PassiveRoundMs = 20;
