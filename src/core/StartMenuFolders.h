// The Start-menu folders the product's shortcuts go to: named once here for the shortcuts that make
// them and for the removal that accepts them.
#pragma once

#include <windows.h>

// Name of the product's folder in a Programs folder of the Start menu.
extern const char StartMenuFolder[];

// Writes the file-system path of the shell folder folderId (a CSIDL_* value) into path
// (MAX_PATH bytes). The empty text when the shell cannot name such a folder.
void GetSpecialFolderPath(HWND owner, int folderId, char* path);

// Writes into path (MAX_PATH bytes) the product's folder in the Programs folder programsId
// (CSIDL_PROGRAMS of the user, CSIDL_COMMON_PROGRAMS of all users). The empty text, and false,
// when that Programs folder is unknown or the join does not fit.
bool GetProductStartMenuFolder(HWND owner, int programsId, char* path);
