// Deletion of a file at the next start of Windows, through the "[rename]" section of Wininit.ini.
#pragma once

// Inserts line (for instance "NUL=" and a path) below every "[rename]" line of Wininit.ini in the
// Windows folder, or appends an empty line, "[rename]" and line when there is no such section;
// creates the file with the section when it is missing. Reports nothing. Wininit.ini is replaced
// only by a complete working copy: when that cannot be made, written or moved into place, the
// former file stays as it was and no working copy remains.
void AddWininitRenameLine(const char* line);

// As AddWininitRenameLine, with Wininit.ini and its working copy Wininit.~in in windowsFolder.
// Nothing is written when a path there would not fit MAX_PATH.
void AddWininitRenameLineIn(const char* windowsFolder, const char* line);

// Asks Windows to delete path at its next start, in both ways it may read: a "NUL=" line of
// Wininit.ini naming the short path, and the system's own pending deletions. Reports nothing.
void RequestDeletionAtRestart(const char* path);
