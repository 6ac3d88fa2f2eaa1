// The single actions the install sequence takes besides its steps' own work: where the
// installation goes, the uninstaller's copy, the product's registration, and the earlier restart
// deletions of files this installation keeps.
#pragma once

#include "core/ZorvaneException.h"

#include <windows.h>

// The product's program and the uninstaller, in the installation folder.
extern const char ProductProgramName[];
extern const char UninstallerName[];

// True when every name the installation forms inside DestinationFolder fits MAX_PATH, and an
// existing file there can be replaced (which needs room for a temporary name beside it).
bool DestinationHoldsItsNames();

// Where the installation goes. folder: the installation folder itself, decided by the caller (/dir,
// or the folder of the product installed before), or null. Interactive: the wizard, proposing
// folder when given, else the base folder in DestinationFolder, with its result (-1: it could not
// be shown). Unattended: DestinationFolder becomes folder when given, else the default base folder
// joined with ProductFolderSuffix, and the result is 1; 0, unchanged, when the suffix does not fit.
int ChooseDestination(HWND owner, const char* folder);

// The error for a package path that does not fit MAX_PATH (a program renamed to a longer name
// without an extension): it names the package meant, this program's path with the extension "z".
ZorvaneException PackagePathTooLong();

// The folder of the product installed before, into folder (MAX_PATH bytes), when its entry names
// one the uninstaller would accept and the install could use; false otherwise.
bool ReadInstalledFolder(char* folder);

// True when this process runs as the local system account, as management agents run installers:
// its own Start menu is seen by nobody.
bool RunsAsSystemAccount();

// Copies this program to the uninstaller's path. Started from that very file (a reinstall run
// from the installation folder, under whatever spelling of its path) there is nothing to copy.
// Throws ZorvaneException.
void CopySelfAsUninstaller(const char* uninstallerPath);

// Runs the product's COM registration and logs how it ended. One that cannot be started is
// reported; unattended, so is one still running when the wait ends (it is ended then, so that an
// undo can remove its file): either fails the run.
void RegisterProduct(HWND backdrop, const char* registration);

// After the commit, so that an undone run leaves the requests of the uninstall before it in place:
// withdraws the restart's deletions of files of the new installation (its log's files, its
// uninstaller, its log).
void WithdrawEarlierRestartDeletions();
