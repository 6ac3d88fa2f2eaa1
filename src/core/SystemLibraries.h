// The system DLLs that are not "known DLLs" (version, comctl32), loaded at run time from the
// system folder only. Setup.exe runs elevated from folders anyone may write to, such as a download
// folder; a DLL it imported statically, or loaded by the default search, could be taken from there.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

// Restricts every later DLL search of this process, the shell's included, to the system folder.
// Call first thing in the entry. Does nothing where the system lacks SetDefaultDllDirectories.
void RestrictDllSearchToSystemFolder();

// The same operations as the system's, from the DLL in the system folder. Where that DLL or the
// function cannot be loaded they fail as the system's would on a bad argument: the version calls
// return 0 or FALSE, PropertySheetA -1; InitCommonControls does nothing.
DWORD SystemGetFileVersionInfoSize(LPCSTR path, LPDWORD handle);
BOOL SystemGetFileVersionInfo(LPCSTR path, DWORD handle, DWORD size, LPVOID data);
BOOL SystemVerQueryValue(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);
void SystemInitCommonControls();
INT_PTR SystemPropertySheet(LPCPROPSHEETHEADERA header);
