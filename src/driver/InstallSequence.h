// The install: guard, defaults, wizard, extraction with progress, registration, the uninstaller
// copy, shortcuts, the product's own registration and data conversion, and two closing questions.
#pragma once

#include <windows.h>

// Runs the whole installation with backdrop as the owner of every window it shows. Fills
// DestinationFolder and RegisteredOwnerName. Reports every failure itself, in one message box, and
// returns; from the destination folder on, every change is journalled and a failure undoes them
// all (InstallRollback), as does an unattended run that ends with a failure.
void RunInstall(HWND backdrop);

// When the previous major version's installation folder holds its data ("Zorvane.prm" or
// "Zorvane.prd"), shows "Converting Old Project File..." on progress and runs the installed
// product with " /c" and that folder, waiting for it without a time limit. Reports nothing.
void ConvertOldProjectFile(HWND progress);
