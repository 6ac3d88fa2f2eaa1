// The journal of what one run changed, so that a run that fails or is cut can be undone, and one
// that committed is never undone: each change is recorded before it is made, kept in memory and
// mirrored to a small file, flushed to the disk before the change it protects, that a later run
// finds when this one was cut.
//
// The file begins with what it belongs to (product, registry view, system folder, destination), so
// that a run of another build or product never plays it. A replaced file is never overwritten: the
// old file is renamed aside in its own folder (under a "~vo" name) and stays there until the run
// commits. What the run made of a file (its size and last-write time) follows the change, so that
// undo leaves a file somebody changed since. Registry values keep their previous state (absent, or
// type and data), keys the run made are noted, and so are folders, files and temporaries it made.
//
// The commit is one record, flushed; only then are the aside copies deleted, and then the journal.
// A journal found with that record is finished (its aside copies deleted), never played back.
#pragma once

#include <windows.h>

// The journal's file name, in JournalFolderName below the machine-wide application-data folder,
// where every administrator's run of either build looks for one left behind.
extern const char InstallJournalName[];
extern const char JournalFolderName[];

// Fills path (MAX_PATH bytes) with the journal's path, creating its folder when missing with an
// access list of Administrators and SYSTEM only. False when the folder cannot be named within
// MAX_PATH or made.
bool DefaultJournalPath(char* path);

// What a journal is for: an install (undone when cut) or an uninstall (finished when cut).
enum class JournalPurpose { Install, Uninstall };

// Starts recording into a new journal file at path (MAX_PATH bytes at most), held without sharing
// while the run lasts, its header naming this build and destination, flushed. False, with the
// system's error and nothing recorded, when the file exists already or cannot be created.
bool StartInstallJournal(const char* path, const char* destination,
                         JournalPurpose purpose = JournalPurpose::Install);

// True between StartInstallJournal (or OpenLeftJournal) and the end of the journal.
bool InstallJournalActive();

// The journal file's path; empty when none is active.
const char* InstallJournalPath();

// Each records one change about to be made, on the disk before it returns true; false, with the
// system's error, when the journal file cannot take the record (the change must then not be made).
// With no journal active they record nothing and return true.
bool JournalFolderCreation(const char* folder);
bool JournalFileCreation(const char* path);
// Records the folders of folder's chain that are missing now (within a batch: under its flush), so
// that making them later asks no record of JournalFolderCreation.
bool JournalMissingFolders(const char* folder);
// A replacement's number (for JournalAsideMade) goes to replacement when given: -1 when there is
// none.
bool JournalReplacement(const char* target, const char* aside, int* replacement = nullptr);
// A replacement recorded ahead (target, aside) whose rename will not be made, its aside name taken by
// another file since: undo and commit leave that file alone. Made durable by the next record.
bool JournalReplacementWithdrawn(const char* target, const char* aside);
// After the old file of replacement (JournalReplacement's number) was renamed aside to make room
// for target's new file.
void JournalAsideMade(int replacement, const char* target);
// Notes the key path's missing keys (those a create will make) and the value's present state.
// False also when the previous data are longer than the journal keeps (MaxJournalledValue).
bool JournalRegistryValue(HKEY root, const char* keyPath, const char* valueName);
const DWORD MaxJournalledValue = 2048;

// Between these, records wait in memory and EndJournalBatch writes and flushes them once: for a
// batch of changes recorded before any of them is made. False when the batch cannot be flushed.
void BeginJournalBatch();
bool EndJournalBatch();

// How the registry writes of the run use the journal: each recorded just before it is made
// (Each); only recorded, not made (RecordOnly: a first pass over a batch of writes); or made
// without a record (Recorded: the second pass, whose records the first pass flushed).
enum class RegistryJournalMode { Each, RecordOnly, Recorded };
void SetRegistryJournalMode(RegistryJournalMode mode);
RegistryJournalMode CurrentRegistryJournalMode();

// After the change just recorded has been made: what the run left at path (size, last-write time)
// goes into the journal, for undo to tell it from a file changed since. Not flushed: undo without
// it acts as before. Nothing with no journal active.
// When path's old file was the one set aside last (JournalAsideMade), the new file is then flushed
// on threads of their own while the run goes on, so that the commit finds it on the disk.
void JournalFileMade(const char* path);
// An extraction temporary the run made, for the next run to delete when this one is cut.
void JournalTemporary(const char* path);
// Marks that one change has been made (for the test seam that cuts the run after the N-th).
void JournalChangeDone();

// Waits until the files that replaced aside copies so far are flushed (before the product's program
// is started, say, which the flushing holds open for writing a moment).
void WaitForReplacingFiles();

// Where undo and the finishing of a journal may act: files and folders inside these folders (the
// journal's own destination is added), keys at or below these keys (and the missing ancestors a
// run made of them), all of HKEY_LOCAL_MACHINE.
struct UndoBounds {
    const char* Folders[4]; // system folder, Start-menu folders; null or empty for none
    const char* const* Keys;
    int KeyCount;
};

// What undoing a journal left behind.
struct UndoResult {
    bool Complete;   // everything that mattered was put back; the journal is gone
    int KeptAside;   // old files that could not be moved back and stay under their aside names
    char Kept[1024]; // "target <- aside" lines (CR between them) of the first of those, cut to fit
};

// Plays the active journal backwards: registry values back to their previous state, keys made by
// the run deleted, replaced files moved back from aside, created files, temporaries and folders
// deleted (a folder only when empty); only within bounds, and a file that is not what the run
// left is left in place (its aside copy deleted). Each step passed over or failed goes to the
// diagnostic log. When every old file is back, the journal file is deleted; otherwise it keeps
// only the replacements still to be put back, for the next run. No journal is active afterwards.
void UndoInstallJournal(UndoResult* result, const UndoBounds* bounds = nullptr);

// Commits the active journal of a run that succeeded: the files that replaced aside copies are
// flushed, the commit record is flushed; then every aside copy is deleted (one that cannot be, or
// whose replacement could not be flushed, is handed to deleteAtRestart), and the journal file.
// Returns how many were handed on.
int CommitInstallJournal(void (*deleteAtRestart)(const char* path));

// Ends the active journal without playing it: deletes its file (an uninstall's, at its end).
void DiscardInstallJournal();

// What OpenLeftJournal found.
enum class LeftJournal {
    None,       // no journal
    InUse,      // another run holds it: left alone
    Unreadable, // it cannot be opened or read
    Foreign,    // another product's or build's, or it does not parse: kept under KeptJournalPath
    Committed,  // its run committed: active, for FinishCommittedJournal
    Uninstall,  // an uninstall that did not end: active, its installation in LeftDestination
    Opened,     // an install that did not end: active, for UndoInstallJournal
};

// Looks for a journal at path left by a run that did not end. A foreign one is renamed aside.
LeftJournal OpenLeftJournal(const char* path);

// Finishes the active journal of a run that committed: what it left aside and its temporaries are
// deleted (within bounds; one that cannot be is handed to deleteAtRestart), then the journal.
// Returns how many were handed on.
int FinishCommittedJournal(const UndoBounds* bounds, void (*deleteAtRestart)(const char* path));

// The destination named by the journal OpenLeftJournal opened last; empty when none.
const char* LeftDestination();
// The name a foreign journal was kept under by the last OpenLeftJournal.
const char* KeptJournalPath();

// The journal's disk flushes in this process so far (journal records and replacing files).
int JournalFlushCount();

// Changes whenever a journal ends: what was learnt of the disk for one run is not kept for the next.
unsigned JournalRun();

// Test seams, read from the environment when a journal starts: ZORVANE_JOURNAL_CUT "record:N" or
// "change:N" ends the process at once, exit code JournalCutExitCode, right after the N-th record
// or change of the run; ZORVANE_JOURNAL_TRACE names a file that receives one line per flush,
// aside rename and aside deletion, in the order they happen.
const UINT JournalCutExitCode = 0x4A43;
void JournalTraceEvent(const char* event, const char* path);
