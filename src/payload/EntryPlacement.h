// An entry's expanded content put in place by its overwrite rule: a missing target written, an
// existing one kept, replaced when newer or replaced always, the old file renamed aside first so
// that it is never lost; the file versions the rule compares.
#pragma once

#include "core/FileAccess.h"
#include "payload/EntryExpansion.h"

#include <windows.h>

#include <stdint.h>

// The longest folder path, its trailing backslash included, in which an existing file can be
// replaced or the temporaries made: the system wants room for a 13-character name after it.
const size_t ReplaceableFolderLength = MAX_PATH - 14;

// The renames of a replacement (MoveFileExA): the old file aside, the new one in, and after a
// failure the old one back. Tests put a failing one here to see that a failed replacement leaves
// the old file whole.
extern BOOL(WINAPI* MoveFileForReplacement)(LPCSTR, LPCSTR, DWORD);

// An entry's expanded content: in memory when Held->Whole, else in the expansion temporary.
struct NewContent {
    ExpansionFile* Expanded;
    const HeldContent* Held;
    PacedStatus* Status; // may be null
};

// What the journal holds of an entry before it is extracted (JournalEntryTargets).
struct EntryJournal {
    bool Created;         // its missing target is recorded as created
    char Aside[MAX_PATH]; // its existing target is recorded as replaced with this aside name; or ""
    int Replacement;      // that record's number (JournalReplacement), or -1
};

// Puts content in place at targetPath by the overwrite rule mode, appending to log what the
// removal is to take away: new files, those replaced unconditionally and those an uninstall left
// for the restart (IsDeletedAtRestart, when noted before); the record goes first, so a file in
// place is never missing from the log. A target that already holds exactly the content is left
// as it is. journalled is what the journal holds of the entry already. Throws ErrWriteError (the
// target, or the journal that could not record) and what the log and the expansion temporary
// throw.
void InstallExpandedFile(const NewContent& content, const char* targetPath, uint16_t mode, FileWriter& log,
                         const EntryJournal& journalled);

// The file version of the fixed file information in path's version resource: high is
// dwFileVersionMS, low dwFileVersionLS. False, outputs untouched, when path is missing, a folder
// or has no readable version resource.
bool ReadFileVersion(const char* path, DWORD* high, DWORD* low);
