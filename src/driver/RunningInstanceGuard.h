// Keeps the setup program from changing an installation while the product runs. The product is
// taken to be running while its named mutex exists.
#pragma once

#include <windows.h>

// The product's mutex and its main window's class.
extern const char ProductMutexName[];
extern const char ProductWindowClass[];

// Which sequence asks: selects the caption and question, and what happens to the mutex handle.
enum class GuardMode { Install, Uninstall };

// Returns true once the product's mutex does not exist; false when the user gave up (the caller
// then returns at once; nothing has been shown beyond the guard's own questions). While the
// product runs it asks, in boxes owned by owner, whether to show the product's window and then to
// quit the product, as often as the user presses OK. In uninstall mode a true result leaves this
// process holding a handle to the mutex until it ends, so the product cannot start meanwhile; in
// install mode no handle is held afterwards.
bool WaitForProductExit(HWND owner, GuardMode mode);

// Plays the caption animation of a window restored from the taskbar's notification area onto
// window's rectangle. Does nothing when there is no taskbar or notification area.
void AnimateFromTray(HWND window);
