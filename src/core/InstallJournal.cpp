#include "core/InstallJournal.h"

#include "core/FileAccess.h"
#include "core/JournalInternals.h"
#include "core/JournalRecords.h"
#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "core/ReplacementFlushing.h"

#include <sddl.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

using namespace journal;

const char InstallJournalName[] = "Zorvane Setup.jnl";
const char JournalFolderName[] = "TALVIQ Setup";

HANDLE journal::JournalFile = INVALID_HANDLE_VALUE;
char journal::JournalFilePath[MAX_PATH];
char journal::Destination[MAX_PATH];
char journal::KeptPath[MAX_PATH];
TextBuffer journal::Records;
bool journal::Batching;
LONG journal::Flushes;

namespace {

bool Unflushed;
unsigned JournalsEnded;
// Folders recorded ahead with a batch (JournalMissingFolders), each ended by a NUL: making them
// needs no record, nor a flush, of its own.
TextBuffer AheadFolders;
// The replacement set aside last (JournalAsideMade), until its new file is made.
int LastPrepared = -1;
char LastPreparedPath[MAX_PATH];

// The test seams (InstallJournal.h).
enum class CutKind { None, Record, Change };
CutKind Cut = CutKind::None;
long CutAt;
long RecordsWritten;
long ChangesDone;
char TracePath[MAX_PATH];

} // namespace

void journal::ReadSeams()
{
    static bool read = false;
    if (read)
        return;
    read = true;
    char text[64];
    DWORD length = GetEnvironmentVariableA("ZORVANE_JOURNAL_CUT", text, sizeof text);
    if (length > 0 && length < sizeof text) {
        if (strncmp(text, "record:", 7) == 0)
            Cut = CutKind::Record;
        else if (strncmp(text, "change:", 7) == 0)
            Cut = CutKind::Change;
        CutAt = strtol(text + 7, nullptr, 10);
    }
    length = GetEnvironmentVariableA("ZORVANE_JOURNAL_TRACE", TracePath, sizeof TracePath);
    if (length >= sizeof TracePath)
        TracePath[0] = '\0';
    FlushedFileHook = [](const char* path) { JournalTraceEvent("flush file", path); };
}

namespace {

void CutHereIfAsked(CutKind kind, long count)
{
    if (Cut == kind && count == CutAt)
        TerminateProcess(GetCurrentProcess(), JournalCutExitCode);
}

// The records of an open batch, written to the file in one piece when it ends.
TextBuffer Pending;

bool WritePending()
{
    if (Pending.Size == 0)
        return true;
    bool written = WriteAll(JournalFile, Pending.Data, Pending.Size);
    Pending.Size = 0;
    return written;
}

} // namespace

bool journal::Append(TextBuffer* text, const char* bytes, DWORD count)
{
    if (text->Size + count > text->Room) {
        DWORD grown = (text->Room == 0 ? 4096 : text->Room * 2) + count;
        void* more = text->Data == nullptr ? HeapAlloc(GetProcessHeap(), 0, grown)
                                           : HeapReAlloc(GetProcessHeap(), 0, text->Data, grown);
        if (more == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        text->Data = static_cast<char*>(more);
        text->Room = grown;
    }
    memcpy(text->Data + text->Size, bytes, count);
    text->Size += count;
    return true;
}

void journal::Release(TextBuffer* text)
{
    if (text->Data != nullptr)
        HeapFree(GetProcessHeap(), 0, text->Data);
    *text = {};
}

bool journal::FlushJournal()
{
    if (!WritePending())
        return false;
    if (!Unflushed)
        return true;
    if (!FlushFileBuffers(JournalFile))
        return false;
    Unflushed = false;
    InterlockedIncrement(&Flushes);
    JournalTraceEvent("flush journal", JournalFilePath);
    return true;
}

bool journal::RecordLine(bool durable, char kind, std::initializer_list<const char*> fields)
{
    char line[RecordLineSize];
    int length = ComposeRecord(kind, fields.begin(), static_cast<int>(fields.size()), line, sizeof line - 2);
    if (length < 0)
        return false;
    memcpy(line + length, "\r\n", 2);
    DWORD count = static_cast<DWORD>(length) + 2;
    // The file first: a record only in memory would be undone by this run but not by the next.
    if (Batching ? !Append(&Pending, line, count) : !WriteAll(JournalFile, line, count))
        return false;
    Unflushed = true;
    if (TracePath[0] != '\0') {
        char event[16];
        snprintf(event, sizeof event, "record %c", kind);
        JournalTraceEvent(event, fields.size() > 0 ? *fields.begin() : "");
    }
    if (durable && !Batching && !FlushJournal())
        return false;
    if (!Append(&Records, line, count))
        return false;
    CutHereIfAsked(CutKind::Record, ++RecordsWritten);
    return true;
}

void journal::EndJournal()
{
    ForgetReplacements();
    ++JournalsEnded;
    LastPrepared = -1;
    if (JournalFile != INVALID_HANDLE_VALUE)
        CloseHandle(JournalFile);
    JournalFile = INVALID_HANDLE_VALUE;
    JournalFilePath[0] = '\0';
    Release(&Records);
    Release(&Pending);
    Release(&AheadFolders);
    Batching = false;
    Unflushed = false;
}

void journal::DeleteJournalFile()
{
    CloseHandle(JournalFile);
    JournalFile = INVALID_HANDLE_VALUE;
    DeleteFileA(JournalFilePath);
    JournalChangeDone();
}

bool journal::Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void JournalTraceEvent(const char* event, const char* path)
{
    if (TracePath[0] == '\0')
        return;
    HANDLE file = CreateFileA(TracePath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[MAX_PATH + 64];
    int length = snprintf(line, sizeof line, "%s %s\r\n", event, path);
    if (length > 0)
        WriteAll(file, line, static_cast<DWORD>(strnlen(line, sizeof line)));
    CloseHandle(file);
}

bool DefaultJournalPath(char* path)
{
    char common[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, common) != S_OK)
        return false;
    lstrcpynA(path, common, MAX_PATH);
    if (!AppendPathComponent(path, JournalFolderName))
        return false;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        // Played back with administrator rights: nobody else may write what it says.
        SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)",
                                                                  SDDL_REVISION_1,
                                                                  &security.lpSecurityDescriptor, nullptr))
            return false;
        BOOL made = CreateDirectoryA(path, &security);
        LocalFree(security.lpSecurityDescriptor);
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return AppendPathComponent(path, InstallJournalName);
}

bool StartInstallJournal(const char* path, const char* destination, JournalPurpose purpose)
{
    EndJournal();
    ReadSeams();
    char system[MAX_PATH];
    UINT length = GetSystemDirectoryA(system, sizeof system);
    if (length == 0 || length >= sizeof system || HasSeparators(destination)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    JournalFile = file;
    lstrcpynA(JournalFilePath, path, sizeof JournalFilePath);
    lstrcpynA(Destination, destination, sizeof Destination);
    if (!RecordLine(true, HeaderKind,
                    {JournalVersion, ProductDisplayName, BuildView, system, destination,
                     purpose == JournalPurpose::Install ? "I" : "U"})) {
        DWORD error = GetLastError();
        CloseHandle(JournalFile);
        JournalFile = INVALID_HANDLE_VALUE;
        DeleteFileA(path);
        EndJournal();
        SetLastError(error);
        return false;
    }
    return true;
}

bool InstallJournalActive() { return JournalFile != INVALID_HANDLE_VALUE; }

const char* InstallJournalPath() { return JournalFilePath; }

namespace {

bool RecordedAhead(const char* folder)
{
    for (DWORD at = 0; at < AheadFolders.Size; at += static_cast<DWORD>(strlen(AheadFolders.Data + at)) + 1)
        if (lstrcmpiA(AheadFolders.Data + at, folder) == 0)
            return true;
    return false;
}

} // namespace

bool JournalReplacementWithdrawn(const char* target, const char* aside)
{
    if (!InstallJournalActive())
        return true;
    return !HasSeparators(target) && !HasSeparators(aside) &&
           RecordLine(false, WithdrawnKind, {target, aside});
}

bool JournalFolderCreation(const char* folder)
{
    if (!InstallJournalActive() || RecordedAhead(folder))
        return true;
    return !HasSeparators(folder) && RecordLine(true, FolderKind, {folder});
}

bool JournalMissingFolders(const char* folder)
{
    if (!InstallJournalActive() || HasSeparators(folder))
        return true;
    // The missing levels, innermost first; recorded outermost first, so that undo, playing the
    // folders backwards, removes the innermost first.
    char level[MAX_PATH];
    lstrcpynA(level, folder, sizeof level);
    size_t whole = strlen(level);
    while (whole > 3 && level[whole - 1] == '\\')
        level[--whole] = '\0'; // a folder as a split path gives it, "C:\Dest\Sub\"
    size_t lengths[MAX_PATH / 2];
    int count = 0;
    for (size_t length = whole; length > 3 && count < MAX_PATH / 2;) {
        level[length] = '\0';
        if (RecordedAhead(level) || !IsMissingFolder(level))
            break;
        lengths[count++] = length;
        char* separator = strrchr(level, '\\');
        if (separator == nullptr)
            break;
        length = static_cast<size_t>(separator - level);
    }
    lstrcpynA(level, folder, sizeof level);
    level[whole] = '\0';
    for (int i = count - 1; i >= 0; --i) {
        const char kept = level[lengths[i]];
        level[lengths[i]] = '\0';
        if (!RecordLine(true, FolderKind, {level}) ||
            !Append(&AheadFolders, level, static_cast<DWORD>(lengths[i]) + 1))
            return false;
        level[lengths[i]] = kept;
    }
    return true;
}

bool JournalFileCreation(const char* path)
{
    if (!InstallJournalActive())
        return true;
    return !HasSeparators(path) && RecordLine(true, FileKind, {path});
}

bool JournalReplacement(const char* target, const char* aside, int* replacement)
{
    if (replacement != nullptr)
        *replacement = -1;
    if (!InstallJournalActive())
        return true;
    if (HasSeparators(target) || HasSeparators(aside) || !RecordLine(true, ReplacedKind, {target, aside}))
        return false;
    const int number = NoteReplacementRecorded();
    if (replacement != nullptr)
        *replacement = number;
    return true;
}

void JournalAsideMade(int replacement, const char* target)
{
    if (InstallJournalActive()) {
        NoteAsideMade(replacement);
        // Until its new file is made (JournalFileMade).
        LastPrepared = replacement;
        lstrcpynA(LastPreparedPath, target, sizeof LastPreparedPath);
    }
    JournalTraceEvent("rename aside", target);
    JournalChangeDone();
}

void BeginJournalBatch() { Batching = InstallJournalActive(); }

bool EndJournalBatch()
{
    Batching = false;
    return !InstallJournalActive() || FlushJournal();
}

void JournalFileMade(const char* path)
{
    JournalChangeDone();
    if (!InstallJournalActive())
        return;
    char size[17];
    char time[17];
    if (!HasSeparators(path) && DescribeFile(path, size, time))
        RecordLine(false, MadeKind, {path, size, time});
    // The new file of the replacement set aside last is complete: to the flushing threads.
    if (LastPrepared >= 0 && lstrcmpiA(path, LastPreparedPath) == 0) {
        if ((ReplacementState(LastPrepared) & AsideMade) != 0)
            QueueReplacementFlush(LastPrepared, path);
        LastPrepared = -1;
    }
}

void WaitForReplacingFiles() { WaitForReplacementFlushes(); }

void JournalTemporary(const char* path)
{
    if (InstallJournalActive() && !HasSeparators(path))
        RecordLine(false, TemporaryKind, {path});
}

void JournalChangeDone() { CutHereIfAsked(CutKind::Change, ++ChangesDone); }

unsigned JournalRun() { return JournalsEnded; }

int JournalFlushCount() { return static_cast<int>(Flushes) + ReplacementFlushes(); }
