// Keeps the setup program from changing an installation while the product runs. The product is
// taken to be running while its named mutex exists.
#pragma once

#include <windows.h>

// The product's mutex and its main window's class.
extern const char ProductMutexName[];
extern const char ProductWindowClass[];

// Which sequence asks: selects the caption and question, and what happens to the mutex handle.
enum class GuardMode { Install, Uninstall };

// Returns true once the product's mutex does not exist and no process runs productProgram (the
// installed tpz2.exe, when known; null: the mutex alone decides); false when the user gave up (the caller
// then returns at once; nothing has been shown beyond the guard's own questions). While the
// product runs it asks, in boxes owned by owner, whether to show the product's window and then to
// quit the product, as often as the user presses OK. In uninstall mode a true result leaves this
// process holding a handle to the mutex until it ends, so the product cannot start meanwhile; in
// install mode no handle is held afterwards. The product's mutex lives in the session it runs in;
// the path finds it from any session, as an install run as the system account needs. Unattended,
// the run gives up at once and ends with ExitBusy.
bool WaitForProductExit(HWND owner, GuardMode mode, const char* productProgram = nullptr);

// True when a process of any session runs the file productProgram (the same file, whatever the
// spelling of its path).
bool IsProgramRunning(const char* productProgram);

// Takes the machine-wide mutex that one Setup.exe of this product at a time holds, for the rest of
// the process. False when another one holds it.
bool ClaimSetupMutex();

// Plays the caption animation of a window restored from the taskbar's notification area onto
// window's rectangle. Does nothing when there is no taskbar or notification area.
void AnimateFromTray(HWND window);
