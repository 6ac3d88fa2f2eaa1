// The replacements of one run, for the journal's commit: which old files were really set aside,
// and whether the file that took each one's place is on the disk. The new files are flushed on a
// thread of their own as soon as each is written, while the extraction goes on, so that the
// commit seldom waits and never looks at a name the run did not use.
#pragma once

#include <windows.h>

// What the run did about one recorded replacement.
enum ReplacementStates : unsigned char {
    ReplacementRecorded = 0, // recorded (perhaps ahead, with a batch); nothing set aside yet
    AsideMade = 1,           // the old file is under its aside name
    NewFileFlushed = 2,      // the file at the target is on the disk
};

// A new replacement record, in recording order; returns its number, or -1 without memory (from
// then on no state is known, and the commit looks at every replacement on the disk).
int NoteReplacementRecorded();
// The old file of replacement number was set aside.
void NoteAsideMade(int replacement);
// The new file at target (replacement number's) is complete: flushed on the thread, or at once
// when no thread can be started.
void QueueReplacementFlush(int replacement, const char* target);
// Waits until every queued flush is done and ends the thread; later queued flushes start it anew.
void WaitForReplacementFlushes();
// The state of the replacement recorded number-th (ReplacementStates); AsideMade when it is not
// known, so that the caller looks at the disk.
unsigned char ReplacementState(int replacement);
// Forgets every replacement, waiting for the thread first.
void ForgetReplacements();
// Opens the file at path and flushes it; false when either fails. Counted in ReplacementFlushes
// and told to FlushedFileHook (the journal's ordering trace), when one is set.
bool FlushFileByName(const char* path);
extern void (*FlushedFileHook)(const char* path);
// Files flushed by FlushFileByName in this process so far.
int ReplacementFlushes();
