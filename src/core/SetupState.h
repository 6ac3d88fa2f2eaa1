// Process-wide state of one setup run that the layers below the driver read: the module, the
// wizard's picture and the two buffers the driver fills before it hands them on.
#pragma once

#include <windows.h>

// The program's own module: resources and its own path come from it.
extern HINSTANCE ModuleInstance;
// Bitmap resource 105, shown on every wizard page; loaded and freed by the entry.
extern HBITMAP WizardBitmap;
// The installation folder: the registry default, changed by the wizard, then read by extraction,
// registration and shortcut creation.
extern char DestinationFolder[MAX_PATH];
// The Windows registered owner, written into the uninstall entry.
extern char RegisteredOwnerName[128];
