// Where the records of an install log may point: the folders the removal of one installation acts
// in, and the form a folder must have to serve as such a boundary. Shared by the removal and by
// the install that carries an earlier log's records forward.
#pragma once

#include <windows.h>

// The folders whose content a log may name for the removal of one installation; an entry is empty
// when the folder is unknown or cannot serve as a boundary. Each is folded (FoldSeparators) and has
// no trailing backslash (a drive root keeps it).
struct AllowedFolders {
    char Installation[MAX_PATH];
    char System[MAX_PATH];
    char StartMenu[MAX_PATH];
    char CommonStartMenu[MAX_PATH]; // the all-users one, where an install for all users put its shortcuts
};

// Fills allowed for installationFolder: that folder, the system folder and the product's folders
// in the Start menu of the user and of all users (shell calls owned by owner).
void FindAllowedFolders(HWND owner, const char* installationFolder, AllowedFolders* allowed);

// True when the removal acts on a record of path (its separators folded already): absolute, no
// "." or ".." component, inside one of the allowed folders (letter case ignored, only at a
// backslash, so that C:\Foo2 is not inside C:\Foo).
bool IsRemovable(const char* path, const AllowedFolders& allowed);

// True when path (folded) lies in one of the product's Start-menu folders: a shortcut's record.
bool IsInStartMenu(const char* path, const AllowedFolders& allowed);

// Brings folder (a MAX_PATH buffer) into the form the removal compares records with: each run of
// backslashes after the root folded into one, no trailing backslash (a drive root keeps it).
// False, folder unchanged, when it cannot be trusted as the boundary of a removal: not absolute,
// a "." or ".." component, or unterminated within MAX_PATH bytes.
bool NormalizeInstallationFolder(char* folder);
