// The uninstall run: from the installation's uninstall entry to the final report.
#pragma once

#include <windows.h>

// Finds the installation through "InstallLocation" of the uninstall entry, waits until the product
// is not running, asks for confirmation, has tpz2.exe unregister its COM server (waiting at most
// 10 seconds), removes what the install log lists and, when that succeeded, the product's registry
// entries, then reports. Every message box is owned by backdrop. A missing entry, a give-up at the
// guard or a No at the confirmation ends the run with nothing changed. Once past the guard this
// process holds the product's mutex until it ends.
void RunUninstall(HWND backdrop);
