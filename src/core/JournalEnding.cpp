#include "core/InstallJournal.h"

#include "core/DiagnosticLog.h"
#include "core/HeldFiles.h"
#include "core/JournalInternals.h"
#include "core/JournalRecords.h"
#include "core/ProductTexts.h"
#include "core/ReplacementFlushing.h"

#include <stdio.h>
#include <string.h>

using namespace journal;

namespace {

// Deletes what a committed run left aside and the temporaries of a cut one; asides that cannot go
// are handed to deleteAtRestart. states, for the run that recorded them (ReplacementStates of the
// i-th R record), spare the look at asides never made, and hand on those whose replacement is not
// known to be on the disk; without them every aside name is looked at. Returns how many were
// handed on.
int DeleteAsideCopies(const JournalLines& lines, const Limits& limits, const unsigned char* states,
                      void (*deleteAtRestart)(const char* path))
{
    int handedOn = 0;
    int replaced = 0;
    for (int i = 1; i < lines.Count; ++i) {
        char copy[RecordLineSize];
        char* fields[MaxRecordFields] = {};
        RecordFields(lines.Line[i], copy, fields);
        if (fields[0][0] == TemporaryKind) {
            UndoRecord(lines, i, limits);
            continue;
        }
        if (fields[0][0] != ReplacedKind)
            continue;
        const unsigned char state = states != nullptr ? states[replaced++] : AsideMade | NewFileFlushed;
        if ((state & AsideMade) == 0 || (states == nullptr && !Exists(fields[2])) || IsWithdrawn(lines, i))
            continue;
        const bool notFlushed = (state & NewFileFlushed) == 0;
        if (!FileAllowed(limits, fields[1]) || !IsAsideOf(fields[2], fields[1])) {
            LogOutside(fields[2]);
            continue;
        }
        if (!notFlushed && DeleteWhenLetGo(fields[2], HoldLimitMs, true)) {
            JournalTraceEvent("delete aside of", fields[1]);
            JournalChangeDone();
        } else if (!notFlushed && GetLastError() == ERROR_FILE_NOT_FOUND) {
            continue; // gone meanwhile: nothing to hand on
        } else if (deleteAtRestart != nullptr) {
            deleteAtRestart(fields[2]);
            ++handedOn;
        }
    }
    return handedOn;
}

} // namespace

int CommitInstallJournal(void (*deleteAtRestart)(const char* path))
{
    if (!InstallJournalActive())
        return 0;
    // Every file that replaced an aside copy on the disk before the copy goes: what the threads have
    // not flushed is flushed now. A replacement recorded ahead and never made has no aside copy.
    WaitForReplacementFlushes();
    JournalLines lines;
    if (!SplitLines(&lines)) {
        // Without memory nothing is deleted: the next run finds the commit and finishes it.
        RecordLine(true, CommitKind, {});
        EndJournal();
        return 0;
    }
    int replacements = 0;
    ForEachReplacement(Records.Data, Records.Size, [&](const char*, const char*, int) { ++replacements; });
    unsigned char* states = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, replacements + 1));
    ForEachReplacement(Records.Data, Records.Size, [&](const char* target, const char* aside, int index) {
        unsigned char state = ReplacementState(index);
        if ((state & AsideMade) != 0 && (state & NewFileFlushed) == 0) {
            // Not known to be set aside (no memory for its state), or its new file is not flushed.
            if (!Exists(aside))
                state = ReplacementRecorded;
            else if (Exists(target) && FlushFileByName(target))
                state |= NewFileFlushed;
            else
                LogUndo("commit: not flushed, its old copy goes at the next restart:", target);
        }
        if (states != nullptr)
            states[index] = state;
    });
    int handedOn = 0;
    if (RecordLine(true, CommitKind, {})) {
        const Limits limits = {nullptr};
        handedOn = DeleteAsideCopies(lines, limits, states, deleteAtRestart);
        DeleteJournalFile();
    } else {
        WriteLogLine("commit", "the journal could not take its commit; the next run undoes it");
    }
    if (states != nullptr)
        HeapFree(GetProcessHeap(), 0, states);
    ReleaseLines(&lines);
    EndJournal();
    return handedOn;
}

void DiscardInstallJournal()
{
    if (!InstallJournalActive())
        return;
    DeleteJournalFile();
    EndJournal();
}

int FinishCommittedJournal(const UndoBounds* bounds, void (*deleteAtRestart)(const char* path))
{
    if (!InstallJournalActive())
        return 0;
    JournalLines lines;
    int handedOn = 0;
    if (SplitLines(&lines)) {
        const Limits limits = {bounds};
        handedOn = DeleteAsideCopies(lines, limits, nullptr, deleteAtRestart);
        DeleteJournalFile();
    }
    ReleaseLines(&lines);
    EndJournal();
    return handedOn;
}

LeftJournal OpenLeftJournal(const char* path)
{
    Destination[0] = '\0';
    KeptPath[0] = '\0';
    ReadSeams();
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return LeftJournal::None;
        return error == ERROR_SHARING_VIOLATION ? LeftJournal::InUse : LeftJournal::Unreadable;
    }
    EndJournal();
    JournalFile = file;
    lstrcpynA(JournalFilePath, path, sizeof JournalFilePath);
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        if (!Append(&Records, chunk, read)) {
            EndJournal();
            return LeftJournal::Unreadable;
        }
    }
    JournalLines lines;
    if (!SplitLines(&lines)) {
        EndJournal();
        return LeftJournal::Unreadable;
    }
    // Ours only when its header names this product, this build's view and system folder, and a
    // destination; and every record parses.
    bool ours = lines.Count > 0;
    bool committed = false;
    char purpose = 'I';
    if (ours) {
        char copy[RecordLineSize];
        char* fields[MaxRecordFields] = {};
        char system[MAX_PATH];
        UINT length = GetSystemDirectoryA(system, sizeof system);
        ours = RecordFields(lines.Line[0], copy, fields) == 7 && fields[0][0] == HeaderKind &&
               fields[0][1] == '\0' && strcmp(fields[1], JournalVersion) == 0 &&
               strcmp(fields[2], ProductDisplayName) == 0 && strcmp(fields[3], BuildView) == 0 &&
               length > 0 && length < sizeof system && lstrcmpiA(fields[4], system) == 0 &&
               fields[5][0] != '\0' && fields[5][1] == ':' &&
               (strcmp(fields[6], "I") == 0 || strcmp(fields[6], "U") == 0);
        if (ours) {
            lstrcpynA(Destination, fields[5], sizeof Destination);
            purpose = fields[6][0];
        }
    }
    for (int i = 1; ours && i < lines.Count; ++i) {
        ours = WellFormed(lines.Line[i]);
        committed = committed || lines.Line[i][0] == CommitKind;
    }
    ReleaseLines(&lines);
    if (!ours) {
        Destination[0] = '\0';
        CloseHandle(JournalFile);
        JournalFile = INVALID_HANDLE_VALUE;
        for (unsigned n = GetTickCount() & 0xFFFF, tries = 0; tries < 100; ++n, ++tries) {
            if (snprintf(KeptPath, sizeof KeptPath, "%s.%04X.kept", path, n & 0xFFFF) >=
                static_cast<int>(sizeof KeptPath))
                break;
            if (MoveFileExA(path, KeptPath, 0))
                break;
            KeptPath[0] = '\0';
            if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
                break;
        }
        EndJournal();
        return LeftJournal::Foreign;
    }
    if (committed)
        return LeftJournal::Committed;
    return purpose == 'U' ? LeftJournal::Uninstall : LeftJournal::Opened;
}

const char* LeftDestination() { return Destination; }

const char* KeptJournalPath() { return KeptPath; }
