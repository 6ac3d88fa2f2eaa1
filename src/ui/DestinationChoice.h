// Where the installation goes: the wizard asks in the interactive run; an unattended run takes
// the folder it is given, or the default base folder with the product's folder suffix.
#pragma once

#include <windows.h>

// folder: the installation folder itself, decided by the caller (/dir, or the folder of the
// product installed before), or null. Interactive run: RunInstallWizard over owner, proposing
// folder when given, else the base folder in DestinationFolder, with its result (-1: the wizard
// could not be shown). Unattended run: no window; DestinationFolder becomes folder when given,
// else DestinationFolder (the default base folder) joined with ProductFolderSuffix, and the result
// is 1; 0, with DestinationFolder unchanged, when the suffix does not fit MAX_PATH.
int ChooseDestination(HWND owner, const char* folder);
