// The modeless progress dialog shown while the package is extracted and the final install steps
// run: a status text and a bar from 0 to 100. In the interactive run the install thread writes
// them itself; in a passive run the dialog lives on the thread of the passive windows, and the
// updates are handed to that thread, which shows them at its next round.
#pragma once

#include <windows.h>

// Initialises the bar (range 0 to 100, position 0) and returns 1 on WM_INITDIALOG. While a close
// means stop (SetCloseMeansStop) the Cancel button is noted as the user's request (NoteStopAsked);
// otherwise it has no effect, as nothing else is handled.
// ProgressCloseMessage destroys the dialog.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Destroys the dialog on the thread it belongs to.
const UINT ProgressCloseMessage = WM_APP + 7;

// Creates the dialog from template IDD_PROGRESS of the program's own module, owned by owner,
// visible and centred: on owner's thread when owner belongs to another thread (the passive
// windows' thread, which must be handling its messages). The common controls must be initialised.
// Returns null when the dialog cannot be made; every update below then does nothing (a null dialog,
// as a run without windows passes, too).
HWND CreateProgressDisplay(HWND owner);

// Destroys the dialog made by CreateProgressDisplay, whichever thread it belongs to. Nothing for null.
void CloseProgressDisplay(HWND progress);

// Shows text (zero-terminated) as the status text. Never throws and processes no messages.
void SetProgressStatus(HWND progress, const char* text);

// Moves the bar to percent (0 to 100). Never throws and processes no messages.
void SetProgressPosition(HWND progress, unsigned percent);

// On the thread the dialog belongs to: shows the updates handed over since the last call.
void ShowHandedOverProgress();
