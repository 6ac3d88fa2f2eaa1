// Where the installation goes: the wizard asks in the interactive run; an unattended run takes
// /dir, or the default base folder with the product's folder suffix.
#pragma once

#include <windows.h>

// Interactive run: RunInstallWizard over owner, with its result (-1: the wizard could not be shown).
// Unattended run: no window; DestinationFolder becomes RunOptions.Folder when given, else DestinationFolder
// (the default base folder) joined with ProductFolderSuffix, and the result is 1; 0, with DestinationFolder
// unchanged, when the suffix does not fit MAX_PATH.
int ChooseDestination(HWND owner);
