// The full-screen backdrop behind every window of a setup run: a blue gradient, the product's
// title with a shadow, the version line and the maker's notice. It owns the wizard, the progress
// dialog and the message boxes, takes no input and is drawn whenever its background is erased.
#pragma once

#include <windows.h>

// Window text of the backdrop in both modes, and the title it paints when installing.
extern const char SetupTitle[];
// The title it paints when uninstalling.
extern const char UninstallTitle[];
// "PZSetupClass".
extern const char BackdropClassName[];
// The maker's notice in the bottom line: 31 characters of the ANSI code page.
extern const char MakerNotice[];

// Paints the backdrop on WM_ERASEBKGND into the device context in wParam and returns 1. While a close
// means stop (SetCloseMeansStop), WM_CLOSE is noted as the user's request (NoteStopAsked) and leaves
// the window in place. Runs the work that
// RunOnWindowThread hands it. Passes every other message to DefWindowProcA.
LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Work run on the backdrop's own thread by RunOnWindowThread.
typedef LRESULT (*WindowThreadWork)(HWND backdrop, WPARAM argument);

// Runs work(backdrop, argument) on the thread the backdrop belongs to, which must be handling its
// messages, and returns its result.
LRESULT RunOnWindowThread(HWND backdrop, WindowThreadWork work, WPARAM argument);

// Registers BackdropClassName for ModuleInstance, with the setup icon and the black stock brush.
// The result is not examined: without the class, CreateBackdropWindow returns null.
void RegisterBackdropClass();

// Which title every painting from now on shows: UninstallTitle when uninstall, else SetupTitle
// (the window text stays SetupTitle). SetupTitle until told.
void SetBackdropTitle(bool uninstall);

// Creates the visible, borderless backdrop over the whole primary screen (size read now, not
// followed later), with the window text SetupTitle. Null when the class is missing.
HWND CreateBackdropWindow();

// Draws the whole picture into dc over client (logical units; the texts are placed from the
// origin and from client.bottom): 255 bands from blue 255 down to 1, the title of the current
// mode at (35, 35) in white over a black shadow at (39, 39), and near the bottom the version line
// and the maker's notice in white. Leaves the background mode transparent and the text colour
// white; the dc's font is restored.
void PaintBackdrop(HDC dc, const RECT& client);
