// Process-wide state of one setup run, shared by the sequences and the parts they call: set by the
// entry, read by every layer, so it lives at the bottom.
#pragma once

#include <windows.h>

// The program's own module: resources and its own path come from it.
extern HINSTANCE ModuleInstance;
// 1 when the command line asked for uninstall, else 0.
extern int UninstallMode;
// Bitmap resource 105, shown on every wizard page; loaded and freed by the entry.
extern HBITMAP WizardBitmap;
// The installation folder: the registry default, changed by the wizard, then read by extraction,
// registration and shortcut creation.
extern char DestinationFolder[MAX_PATH];
// The Windows registered owner, written into the uninstall entry.
extern char RegisteredOwnerName[128];
