// A file made or looked at moments ago may still be held by whoever looked at it last: a virus
// scanner, the system's loader after a failed start, Wine's menu builder reading a new shortcut.
// Such a hold ends within moments, so a move or delete the system refuses as in use is tried
// again, every 50 ms for up to limitMs, before it counts as failed.
#pragma once

#include <windows.h>

// MoveFileExA(from, to, flags), tried again while it fails with ERROR_SHARING_VIOLATION (and, with
// deniedIsHeld, ERROR_ACCESS_DENIED: a file still mapped as a running program's image answers so).
// The thread's last error is the last attempt's.
bool MoveWhenLetGo(const char* from, const char* to, DWORD flags, DWORD limitMs, bool deniedIsHeld = false);

// DeleteFileA(path), tried again as MoveWhenLetGo is.
bool DeleteWhenLetGo(const char* path, DWORD limitMs, bool deniedIsHeld = false);
