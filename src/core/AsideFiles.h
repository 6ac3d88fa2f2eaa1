// Old files set aside for a replacement: renamed in their own folder under a "~vo" name, recorded
// in the install journal before the rename, kept until the run commits (core/InstallJournal), so
// that a replaced file is never lost.
#pragma once

#include <windows.h>

// A name in target's folder, "~vo" and four hex digits ".tmp", under which nothing exists, in
// aside (MAX_PATH bytes). False when the folder holds no free name or the path does not fit. While
// a journal is active, the names a folder holds are read once, when the run first sets a file of
// it aside: a look for a missing name reads the whole folder on some systems, and the names the
// run itself chooses come from one sequence that meets itself only after 0x10000 of them.
bool ChooseAsideName(const char* target, char* aside);

// Renames the file at path aside, under aside (MAX_PATH bytes) when that names a free name already
// recorded in the journal (as replacement number *replacement), else under a name chosen and
// recorded now (into aside and *replacement), by move (MoveFileExA, or a test's own); the journal
// is told (JournalAsideMade). Throws
// ZorvaneException ErrWriteError with path when the file cannot be set aside, or with the
// journal's path when the journal cannot take the record.
void SetAside(const char* path, char* aside, int* replacement, BOOL(WINAPI* move)(LPCSTR, LPCSTR, DWORD));

// Done with an old file set aside for a replacement that succeeded: with a journal active it is
// kept until the run commits; with none it is deleted now (it goes once others let go of it).
void ReleaseAside(const char* aside);

// Before a file at path is created or replaced by its caller: an existing file is renamed aside and
// recorded, a missing one recorded as created; a folder of that name is left for the caller's own
// write to fail on. Nothing with no journal active. Throws
// ZorvaneException ErrWriteError with path when the file cannot be set aside, or with the
// journal's path when the journal cannot take the record.
void PrepareFileChange(const char* path);
