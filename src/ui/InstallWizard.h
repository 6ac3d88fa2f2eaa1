// The install wizard: a modal three-page property sheet (welcome, licence agreement, destination
// folder) owned by the backdrop. It reads and changes DestinationFolder and shows WizardBitmap on
// every page; it validates nothing, creates no folder and shows no message box.
#pragma once

#include <windows.h>

// The product's folder below the chosen one: "TALVIQ\Project Zorvane PE" (25 characters).
extern const char ProductFolderSuffix[];

// The licence agreement shown unchanged on the licence page: Windows ANSI text with CR LF line
// breaks, zero-terminated.
extern const char LicenseText[];

// Runs the wizard modally over owner and returns the property sheet's result: 0 when the user
// cancelled, -1 when the sheet could not be shown (the common controls library did not load; the
// thread's last error says why), a positive value when the user finished.
// On finishing, DestinationFolder becomes the chosen folder joined with ProductFolderSuffix. A
// folder that cannot take the suffix within MAX_PATH bytes (only a proposed one: browsing refuses
// them) makes the result 0 with DestinationFolder unchanged, so nothing installs into a cut path.
// On 0 DestinationFolder holds the last chosen folder, without the suffix.
// With proposedIsWhole, DestinationFolder on entry is the installation folder itself (the folder of
// the product installed before): the page shows it as it is and Finish keeps it. Browsing to that
// same folder (IsSameFile) keeps it so; any other folder chosen by browsing is a base folder, as
// always.
int RunInstallWizard(HWND owner, bool proposedIsWhole = false);

// Dialog procedures of the three pages. Each shows WizardBitmap, enables its wizard buttons when
// it becomes active and returns 1 for WM_INITDIALOG, 0 for everything else. The welcome page
// centres the sheet; the licence page shows LicenseText; the destination page shows
// DestinationFolder with the suffix and runs the folder browser on its Browse button.
INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LicensePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DestinationPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Moves a top-level window, keeping its size, so that it is centred over its owner (over the
// desktop when it has none), and brings it to the top.
void CenterWindow(HWND window);

// Sets the text of the dialog's control to folder joined with ProductFolderSuffix, shortened in
// the middle with an ellipsis to fit the control's width in its own font. False, with the control
// unchanged, when folder (a zero-terminated text of under MAX_PATH bytes) cannot take the suffix
// within MAX_PATH bytes.
bool ShowDestinationPath(HWND dialog, int controlId, const char* folder);

// Runs the shell's folder browser over owner with folder (a MAX_PATH buffer) pre-selected, its
// status line showing each selected folder joined with the suffix (the installed product's
// folder proposed whole: as it is). True when the user chose a file-system folder that with
// ProductFolderSuffix makes a destination of at most InstallFolderLimit characters, or the
// installed product's folder: folder then holds its path. False when the browser was
// cancelled, the shell's allocator or the folder's path was not available, or the path is too
// long for the suffix or for the install; folder's content is then undefined and
// the caller restores it.
bool BrowseForDestination(HWND owner, char* folder);

// The folder browser's callback: pre-selects the folder text in data when the browser opens and
// shows where the product would go as the selection moves. Always returns 0.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data);
