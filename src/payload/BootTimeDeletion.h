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

// Asks Windows to delete path at the next start, both ways: "NUL=" and its short path in
// Wininit.ini, and the system's pending deletions. True when at least one of them took it.
bool DeleteAtNextRestart(const char* path);

// For a file of the product that cannot be deleted now (held open by another program): asks for
// its deletion at the next start (DeleteAtNextRestart), writes its path to the diagnostic log and
// counts it, so that the run can say that a restart finishes it.
void LeaveForRestart(const char* path);

// How many files LeaveForRestart took in this run.
unsigned FilesLeftForRestart();

// An install that writes a file at a path where an uninstall asked for a deletion at the next start
// (its uninstaller, or a file that was held open) withdraws that request, or the restart would
// delete the new file. Each is handed the path as the request names it (the short form, as a rule)
// and withdraws the requests for which isWithdrawn is true; other lines, renames and requests stay
// as they were. They return how many requests they withdrew.

// The "NUL=" lines of the "[rename]" sections of Wininit.ini in windowsFolder (section and key
// read in any case, blanks around them ignored, as the system reads them). Wininit.ini is rewritten
// through a complete working copy, as AddWininitRenameLine does, and only when a line goes.
int WithdrawWininitDeletionsIn(const char* windowsFolder, bool (*isWithdrawn)(const char* path));

// The deletions among the system's pending renames (HKLM Session Manager,
// PendingFileRenameOperations); the value goes when nothing is left in it.
int WithdrawPendingDeletions(bool (*isWithdrawn)(const char* path));

// Both, with Wininit.ini in the Windows folder.
int WithdrawRestartDeletions(bool (*isWithdrawn)(const char* path));

// Notes, by their long paths, the files that exist now and are to be deleted at the next start
// (both ways above), for IsDeletedAtRestart; at most 32 of them. Changes nothing.
void NoteRestartDeletions();

// True when path (a full path, compared as the system reads paths) is one NoteRestartDeletions
// noted: a file an uninstall left for the restart, which is the product's.
bool IsDeletedAtRestart(const char* path);
