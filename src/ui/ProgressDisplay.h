// The modeless progress dialog shown while the package is extracted and the final install steps
// run: a status text and a bar from 0 to 100, both written synchronously by the install thread.
#pragma once

#include <windows.h>

// Initialises the bar (range 0 to 100, position 0) and returns 1 on WM_INITDIALOG. In a passive run
// the Cancel button sets CancelRequested; otherwise it has no effect, as nothing else is handled.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Creates the dialog from template IDD_PROGRESS of the program's own module, owned by owner,
// visible and centred. The common controls must be initialised. Returns null when the dialog
// cannot be made, and in a quiet run, which shows no window; every update below then does
// nothing. The caller destroys it with DestroyWindow.
HWND CreateProgressDisplay(HWND owner);

// Shows text (zero-terminated) as the status text.
void SetProgressStatus(HWND progress, const char* text);

// Moves the bar to percent (0 to 100).
void SetProgressPosition(HWND progress, unsigned percent);

// Both updates above, in a passive run, first handle the window messages waiting for this thread,
// at most every 20 ms: nobody answers a box there, so no modal loop would ever do it. When the
// user has closed the run by then, they record ExitCancelled and throw ZorvaneException ErrOwnText
// with the text CancelledText; what was installed so far stays.
extern const char CancelledText[];
