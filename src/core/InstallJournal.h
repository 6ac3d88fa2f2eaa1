// The journal of what one install run changed, so that a failed run can be undone: each change is
// recorded before it is made, kept in memory and mirrored to a small file that a later run finds
// when this one was killed. Played backwards it removes what the run made and puts back what it
// replaced; a run that succeeds or is undone whole leaves no journal behind.
//
// A replaced file is never overwritten: the old file is renamed aside in its own folder (under a
// "~vo" name) and stays there until the run succeeds. Registry values keep their previous state
// (absent, or type and data), keys the run made are noted, and so are folders and files it created.
#pragma once

#include <windows.h>

// The journal's file name in the Windows folder, where every run looks for one left behind.
extern const char InstallJournalName[];

// Fills path (MAX_PATH bytes) with the journal's path in the Windows folder. False when the
// Windows folder cannot be named within MAX_PATH.
bool DefaultJournalPath(char* path);

// Starts recording into a new journal file at path (MAX_PATH bytes at most), held without sharing
// while the run lasts. False, with the system's error and nothing recorded, when the file exists
// already (another run, or one left behind) or cannot be created.
bool StartInstallJournal(const char* path);

// True between StartInstallJournal (or OpenLeftJournal) and the end of the journal.
bool InstallJournalActive();

// The journal file's path; empty when none is active.
const char* InstallJournalPath();

// Each records one change about to be made and returns true; false, with the system's error,
// when the journal file cannot take the record (the change must then not be made). With no
// journal active they record nothing and return true.
bool JournalFolderCreation(const char* folder);
bool JournalFileCreation(const char* path);
bool JournalReplacement(const char* target, const char* aside);
// Notes the key path's missing keys (those a create will make) and the value's present state.
// False also when the previous data are longer than the journal keeps (MaxJournalledValue).
bool JournalRegistryValue(HKEY root, const char* keyPath, const char* valueName);
const DWORD MaxJournalledValue = 2048;

// Notes that a registry write of the run was refused (status: the system's code). Only the first
// is kept. Nothing with no journal active.
void NoteRegistryWriteRefused(HKEY root, const char* keyPath, LONG status);
// The first refused write as "HKEY_LOCAL_MACHINE\key path" in where (MAX_PATH bytes), with the
// system's code as the thread's last error; false when none was refused.
bool RegistryWriteRefused(char* where);

// A name in target's folder, "~vo" and four hex digits ".tmp", under which nothing exists, in
// aside (MAX_PATH bytes). False when the folder holds no free name or the path does not fit.
bool ChooseAsideName(const char* target, char* aside);

// Done with an old file set aside for a replacement that succeeded: with a journal active it is
// kept until the run ends; with none it is deleted now (it goes once others let go of it).
void ReleaseAside(const char* aside);

// Before a file at path is created or replaced by its caller: an existing file is renamed aside and
// recorded, a missing one recorded as created; a folder of that name is left for the caller's own
// write to fail on. Nothing with no journal active. Throws
// ZorvaneException ErrWriteError with path when the file cannot be set aside, or with the
// journal's path when the journal cannot take the record.
void PrepareFileChange(const char* path);

// What undoing a journal left behind.
struct UndoResult {
    bool Complete;   // everything that mattered was put back; the journal is gone
    int KeptAside;   // old files that could not be moved back and stay under their aside names
    char Kept[1024]; // "target <- aside" lines (CR between them) of the first of those, cut to fit
};

// Plays the active journal backwards: registry values back to their previous state, keys made by
// the run deleted, replaced files moved back from aside, created files and folders deleted (a
// folder only when empty). Each step that fails goes to the diagnostic log. When every old file
// is back, the journal file is deleted; otherwise it keeps only the replacements still to be put
// back, for the next run. Either way no journal is active afterwards.
void UndoInstallJournal(UndoResult* result);

// Ends the active journal of a run that succeeded: every aside copy is deleted, and one that
// cannot be (a program holds it) is handed to deleteAtRestart. Deletes the journal file. Returns
// how many were handed on.
int CommitInstallJournal(void (*deleteAtRestart)(const char* path));

// What OpenLeftJournal found.
enum class LeftJournal { None, InUse, Unreadable, Opened };

// Looks for a journal at path left by a run that did not end. Opened: it is the active journal,
// for UndoInstallJournal. InUse: another run holds it, and it is left alone.
LeftJournal OpenLeftJournal(const char* path);
