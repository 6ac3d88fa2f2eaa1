// The product's Start-menu folder and its three shortcut files, and the two shell operations
// they need. COM must be initialised on the calling thread.
#pragma once

#include "core/FileAccess.h"
#include "core/StartMenuFolders.h"

#include <windows.h>

// Creates or replaces the shortcut file linkPath to targetPath. The icon location (inside the
// target) is set only for a non-zero iconIndex; arguments and description only when not null.
// Returns the result of saving the file, or of the first step that failed (negative).
HRESULT CreateShellLink(const char* linkPath, const char* targetPath, int iconIndex, const char* arguments,
                        const char* description);

// Creates StartMenuFolder in the Programs folder programsId (CSIDL_PROGRAMS of the current user, or
// CSIDL_COMMON_PROGRAMS of all users) and the shortcuts to tpz2.exe,
// Wendlor.exe and the uninstaller (Setup.exe " /r") in DestinationFolder; logs the folder ('#')
// and each shortcut file ('+'), whether or not the file could be made. linkPath and targetPath are
// MAX_PATH scratch buffers, both overwritten. Throws ErrFailedToCreateFolder with the folder when
// the Programs folder is unknown, a path would not fit MAX_PATH or the folder cannot be created;
// nothing is then made or logged. A failed log write propagates and stops the rest, and so does
// PrepareFileChange's ErrWriteError for a shortcut that cannot be set aside or recorded.
void CreateStartMenuShortcuts(HWND owner, int programsId, FileWriter& log, char* linkPath, char* targetPath);

// How the folder and the files the shortcuts make go into the install log: the driver hands in
// the log's own writer, so that the shortcuts need nothing of the log's format. Until then
// nothing is logged.
void SetShortcutLogging(void (*logFolder)(FileWriter& log, const char* folder),
                        void (*logFile)(FileWriter& log, const char* path));

// The part of CreateStartMenuShortcuts after the Programs folder is known: on entry linkPath holds
// that folder (an absolute path; an empty or relative one is refused as above).
void CreateShortcutsInProgramsFolder(FileWriter& log, char* linkPath, char* targetPath);
