// What the journal's own files share (InstallJournal, the writer; JournalRegistry; JournalLines;
// JournalBounds; JournalUndo; JournalEnding, the commit and the journal a run left): the active
// journal's state and the steps more than one of them takes. Nothing outside the journal includes it.
#pragma once

#include "core/InstallJournal.h"

#include <windows.h>

#include <initializer_list>

namespace journal {

// A growing text on the process heap.
struct TextBuffer {
    char* Data;
    DWORD Size;
    DWORD Room;
};

// False, with ERROR_NOT_ENOUGH_MEMORY, when the text cannot grow.
bool Append(TextBuffer* text, const char* bytes, DWORD count);
void Release(TextBuffer* text);

extern HANDLE JournalFile;
extern char JournalFilePath[MAX_PATH];
// The destination the journal's header names.
extern char Destination[MAX_PATH];
// Where the last foreign journal was kept.
extern char KeptPath[MAX_PATH];
// Every record so far, as the file holds them.
extern TextBuffer Records;
// While true, records wait in memory (BeginJournalBatch).
extern bool Batching;
// Journal records and replacing files flushed in this process.
extern LONG Flushes;

// Reads the test seams from the environment, once.
void ReadSeams();

// Records kind with its fields in memory and in the file (JournalRecords), flushed unless a
// batch is open or durable is false; false when the record or the file cannot take it.
bool RecordLine(bool durable, char kind, std::initializer_list<const char*> fields);

// Writes what a batch holds and flushes the file, when anything is unflushed.
bool FlushJournal();

// Closes the active journal, if any, and forgets its records.
void EndJournal();

bool Exists(const char* path);

// One line "what path" in the diagnostic log, as undo reports.
void LogUndo(const char* what, const char* path);

// The records of the active journal as lines, split in a copy of their text.
struct JournalLines {
    char* Text;
    char** Line;
    int Count;
    int Withdrawals; // WithdrawnKind records among them
};

// True when replacement record index (of lines) was withdrawn by a later record: its aside name
// is another file's.
bool IsWithdrawn(const JournalLines& lines, int index);

// Every complete record (a tail without its line end is dropped); false without memory.
bool SplitLines(JournalLines* lines);
void ReleaseLines(JournalLines* lines);

// Where undo may act (bounds null: anywhere, for a run's own journal).
struct Limits {
    const UndoBounds* Bounds;
};

// True when undo may act on the file at path.
bool FileAllowed(const Limits& limits, const char* path);
// True when undo may act on the folder: also where the destination's own chain was made.
bool FolderAllowed(const Limits& limits, const char* folder);
// Keys at or below an accepted key; with ancestors also the keys above one (made by the run).
bool KeyAllowed(const Limits& limits, const char* root, const char* keyPath, bool ancestors);
// True when the aside copy lies beside its target under a name of ours.
bool IsAsideOf(const char* aside, const char* target);
// A name this program gives its own files: prefix, one to four hex digits, ".tmp" (the forms of
// GetTempFileName, which some systems write without leading zeros, and of ChooseAsideName).
bool HasOwnTemporaryName(const char* path, const char* prefix);
// Notes in the diagnostic log that path lies outside where undo acts, and is left.
void LogOutside(const char* path);

// Undoes record index (of lines); false only for an old file that stays aside.
bool UndoRecord(const JournalLines& lines, int index, const Limits& limits);

// How long undo and the commit wait for a file held for a moment (HeldFiles): a newer program that
// failed to start, a cut run's helper reading an icon.
const DWORD HoldLimitMs = 2000;

// Closes and deletes the journal file, a change of the run.
void DeleteJournalFile();

// Calls each(target, aside, index) for each replacement record in text (size bytes, whole lines),
// in order; index counts the replacement records.
template <typename Each> void ForEachReplacement(const char* text, DWORD size, Each each);

} // namespace journal

#include "core/JournalRecords.h"

#include <string.h>

template <typename Each> void journal::ForEachReplacement(const char* text, DWORD size, Each each)
{
    int index = 0;
    for (DWORD at = 0; at < size;) {
        const char* lineEnd = static_cast<const char*>(memchr(text + at, '\n', size - at));
        if (lineEnd == nullptr)
            break;
        DWORD next = static_cast<DWORD>(lineEnd - text) + 1;
        if (text[at] == ReplacedKind && text[at + 1] == '\t') {
            char line[RecordLineSize];
            char copy[RecordLineSize];
            char* fields[MaxRecordFields] = {};
            DWORD length = next - at - 2;
            if (length < sizeof line) {
                memcpy(line, text + at, length);
                line[length] = '\0';
                if (RecordFields(line, copy, fields) == 3)
                    each(fields[1], fields[2], index);
            }
            ++index;
        }
        at = next;
    }
}
