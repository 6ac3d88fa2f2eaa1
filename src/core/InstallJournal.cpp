#include "core/InstallJournal.h"

#include "core/DiagnosticLog.h"
#include "core/FileAccess.h"
#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "core/ZorvaneException.h"
#include "format/PackageFormat.h"

#include <sddl.h>
#include <shlobj.h>
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char InstallJournalName[] = "Zorvane Setup.jnl";
const char JournalFolderName[] = "TALVIQ Setup";

namespace {

// One record is one line: a kind letter and its fields, separated by tabs (which no path and no
// value name of this program holds), ended by CR LF. A line without its line end was being written
// when the run stopped: its change was never made.
const char HeaderKind = 'H';
const char FolderKind = 'D';
const char FileKind = 'F';
const char ReplacedKind = 'R';
const char MadeKind = 'M';
const char TemporaryKind = 'T';
const char KeyKind = 'K';
const char ValueKind = 'V';
const char CommitKind = 'C';
const char AbsentData[] = "-";
const char JournalVersion[] = "2";
// The registry view and system folder the paths and keys of this build are made in.
const char* const BuildView = sizeof(void*) == 8 ? "64-bit" : "32-bit";
const size_t LineSize = 2 * MaxJournalledValue + 3 * MAX_PATH + 64;
const int MaxFields = 7;

HANDLE JournalFile = INVALID_HANDLE_VALUE;
char JournalFilePath[MAX_PATH];
char Destination[MAX_PATH];
char KeptPath[MAX_PATH];
// A growing text on the process heap.
struct TextBuffer {
    char* Data;
    DWORD Size;
    DWORD Room;
};

// Every record so far, as the file holds them.
TextBuffer Records;
char RefusedKey[MAX_PATH];
LONG RefusedStatus;
bool Batching;
bool Unflushed;
LONG Flushes;

// The test seams (InstallJournal.h).
enum class CutKind { None, Record, Change };
CutKind Cut = CutKind::None;
long CutAt;
long RecordsWritten;
long ChangesDone;
char TracePath[MAX_PATH];

void ReadSeams()
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
}

void CutHereIfAsked(CutKind kind, long count)
{
    if (Cut == kind && count == CutAt)
        TerminateProcess(GetCurrentProcess(), JournalCutExitCode);
}

bool Append(TextBuffer* text, const char* bytes, DWORD count)
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

void Release(TextBuffer* text)
{
    if (text->Data != nullptr)
        HeapFree(GetProcessHeap(), 0, text->Data);
    *text = {};
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

bool FlushJournal()
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

// Records one line in memory and in the file, flushed unless a batch is open or durable is false;
// false when the line or the file cannot take it.
bool RecordLine(bool durable, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool RecordLine(bool durable, const char* format, ...)
{
    char line[LineSize];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line - 2, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) >= sizeof line - 2) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    memcpy(line + length, "\r\n", 2);
    DWORD count = static_cast<DWORD>(length) + 2;
    // The file first: a record only in memory would be undone by this run but not by the next.
    if (Batching ? !Append(&Pending, line, count) : !WriteAll(JournalFile, line, count))
        return false;
    Unflushed = true;
    if (TracePath[0] != '\0') {
        char event[16];
        snprintf(event, sizeof event, "record %c", line[0]);
        const char* tab = strchr(line, '\t');
        char first[MAX_PATH] = "";
        if (tab != nullptr) {
            lstrcpynA(first, tab + 1, sizeof first);
            first[strcspn(first, "\t\r")] = '\0';
        }
        JournalTraceEvent(event, first);
    }
    if (durable && !Batching && !FlushJournal())
        return false;
    if (!Append(&Records, line, count))
        return false;
    CutHereIfAsked(CutKind::Record, ++RecordsWritten);
    return true;
}

bool HasSeparators(const char* text) { return strpbrk(text, "\t\r\n") != nullptr; }

const char* RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    return nullptr;
}

HKEY RootOf(const char* name)
{
    if (strcmp(name, "HKLM") == 0)
        return HKEY_LOCAL_MACHINE;
    if (strcmp(name, "HKCU") == 0)
        return HKEY_CURRENT_USER;
    return nullptr;
}

bool KeyExists(HKEY root, const char* keyPath)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status != ERROR_FILE_NOT_FOUND;
}

void WaitForFlusher();

void EndJournal()
{
    WaitForFlusher();
    if (JournalFile != INVALID_HANDLE_VALUE)
        CloseHandle(JournalFile);
    JournalFile = INVALID_HANDLE_VALUE;
    JournalFilePath[0] = '\0';
    Release(&Records);
    Release(&Pending);
    RefusedKey[0] = '\0';
    Batching = false;
    Unflushed = false;
}

// Splits line at its tabs into at most count fields; returns how many it found.
int SplitFields(char* line, char** fields, int count)
{
    int found = 0;
    while (found < count) {
        fields[found++] = line;
        char* tab = strchr(line, '\t');
        if (tab == nullptr)
            break;
        *tab = '\0';
        line = tab + 1;
    }
    return found;
}

void LogUndo(const char* what, const char* path)
{
    char text[MAX_PATH + 96];
    snprintf(text, sizeof text, "%s %s", what, path);
    WriteLogLine("undo", text);
}

int HexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

void RestoreValue(char** fields)
{
    HKEY root = RootOf(fields[1]);
    if (root == nullptr)
        return;
    if (strcmp(fields[4], AbsentData) == 0) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, fields[2], 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        RegDeleteValueA(key, fields[3]);
        RegCloseKey(key);
        return;
    }
    unsigned char data[MaxJournalledValue];
    DWORD size = 0;
    for (const char* hex = fields[5]; hex[0] != '\0' && hex[1] != '\0' && size < sizeof data; hex += 2) {
        int high = HexValue(hex[0]);
        int low = HexValue(hex[1]);
        if (high < 0 || low < 0)
            return;
        data[size++] = static_cast<unsigned char>(high << 4 | low);
    }
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, fields[2], 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        LogUndo("could not restore a value of", fields[2]);
        return;
    }
    if (RegSetValueExA(key, fields[3], 0, strtoul(fields[4], nullptr, 10), data, size) != ERROR_SUCCESS)
        LogUndo("could not restore a value of", fields[2]);
    RegCloseKey(key);
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// A file the run has just made may still be held for a moment by whoever looked at it last (a
// virus scanner, the system's loader after a failed start): a move or delete refused as in use is
// tried again for up to two seconds.
bool Retried(bool (*step)(const char* from, const char* to), const char* from, const char* to)
{
    for (int attempt = 0;; ++attempt) {
        if (step(from, to))
            return true;
        DWORD error = GetLastError();
        if (attempt == 20 || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED))
            return false;
        Sleep(100);
    }
}

bool MoveBack(const char* aside, const char* target)
{
    return MoveFileExA(aside, target, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool Delete(const char* path, const char*) { return DeleteFileA(path) != FALSE; }

// The size and last-write time of the file at path as the journal writes them; false when it has
// none (missing, or a folder).
bool DescribeFile(const char* path, char* text, size_t size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    snprintf(text, size, "%08lX%08lX\t%08lX%08lX", static_cast<unsigned long>(data.nFileSizeHigh),
             static_cast<unsigned long>(data.nFileSizeLow),
             static_cast<unsigned long>(data.ftLastWriteTime.dwHighDateTime),
             static_cast<unsigned long>(data.ftLastWriteTime.dwLowDateTime));
    return true;
}

// True when path is folder itself or lies below it: letter case ignored, only at a backslash, and
// no "." or ".." component below it.
bool IsInside(const char* path, const char* folder)
{
    if (folder == nullptr || folder[0] == '\0')
        return false;
    size_t length = strlen(folder);
    if (folder[length - 1] == '\\')
        --length;
    if (strnlen(path, MAX_PATH) < length ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(length), folder,
                       static_cast<int>(length)) != CSTR_EQUAL)
        return false;
    const char* rest = path + length;
    if (*rest == '\0')
        return true;
    return *rest == '\\' && (rest[1] == '\0' || IsContainedRelativePath(rest + 1));
}

// The records of the active journal as lines, split in a copy of their text.
struct JournalLines {
    char* Text;
    char** Line;
    int Count;
};

void ReleaseLines(JournalLines* lines)
{
    if (lines->Text != nullptr)
        HeapFree(GetProcessHeap(), 0, lines->Text);
    if (lines->Line != nullptr)
        HeapFree(GetProcessHeap(), 0, lines->Line);
    *lines = {};
}

// Every complete record (a tail without its line end is dropped); false without memory.
bool SplitLines(JournalLines* lines)
{
    *lines = {};
    DWORD end = Records.Size;
    while (end >= 2 && !(Records.Data[end - 2] == '\r' && Records.Data[end - 1] == '\n'))
        --end;
    if (end < 2)
        return true;
    lines->Text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, end + 1));
    int most = 0;
    for (DWORD i = 0; i < end; ++i)
        most += Records.Data[i] == '\n';
    lines->Line = static_cast<char**>(HeapAlloc(GetProcessHeap(), 0, sizeof(char*) * (most + 1)));
    if (lines->Text == nullptr || lines->Line == nullptr) {
        ReleaseLines(lines);
        return false;
    }
    memcpy(lines->Text, Records.Data, end);
    lines->Text[end] = '\0';
    char* at = lines->Text;
    while (*at != '\0') {
        char* lineEnd = strstr(at, "\r\n");
        *lineEnd = '\0';
        lines->Line[lines->Count++] = at;
        at = lineEnd + 2;
    }
    return true;
}

// The fields of a record, split in copy (LineSize bytes); the field count.
int RecordFields(const char* line, char* copy, char** fields)
{
    lstrcpynA(copy, line, LineSize);
    int count = SplitFields(copy, fields, MaxFields);
    // Fields a record lacks read as empty: a malformed one is refused by WellFormed, not read past.
    static char none[] = "";
    for (int i = count; i < MaxFields; ++i)
        fields[i] = none;
    return count;
}

bool WellFormed(const char* line)
{
    char copy[LineSize];
    char* fields[MaxFields] = {};
    int count = RecordFields(line, copy, fields);
    if (strlen(fields[0]) != 1)
        return false;
    switch (fields[0][0]) {
    case FolderKind:
    case FileKind:
    case TemporaryKind:
        return count == 2;
    case ReplacedKind:
        return count == 3;
    case MadeKind:
        return count == 4;
    case KeyKind:
        return count == 3;
    case ValueKind:
        return (count == 5 && strcmp(fields[4], AbsentData) == 0) || count == 6;
    case CommitKind:
        return count == 1;
    }
    return false;
}

// What a record made of path holds now: true when the file at path is what the journal says the
// run left there (the first M record for it after line index from, before the next change of it),
// or when the journal says nothing (cut before it could).
bool StillAsMade(const JournalLines& lines, int from, const char* path)
{
    for (int i = from + 1; i < lines.Count; ++i) {
        char copy[LineSize];
        char* fields[MaxFields] = {};
        int count = RecordFields(lines.Line[i], copy, fields);
        char kind = fields[0][0];
        if (count < 2 || lstrcmpiA(fields[1], path) != 0)
            continue;
        if (kind == FileKind || kind == ReplacedKind)
            return true;
        if (kind == MadeKind && count == 4) {
            char now[64];
            char made[64];
            snprintf(made, sizeof made, "%s\t%s", fields[2], fields[3]);
            return DescribeFile(path, now, sizeof now) && strcmp(now, made) == 0;
        }
    }
    return true;
}

// A name this program gives its own files: prefix, one to four hex digits, ".tmp" (the forms of
// GetTempFileName, which some systems write without leading zeros, and of ChooseAsideName).
bool HasOwnTemporaryName(const char* path, const char* prefix)
{
    const char* name = strrchr(path, '\\');
    name = name == nullptr ? path : name + 1;
    size_t length = strlen(prefix);
    size_t total = strnlen(name, 16);
    if (total < length + 5 || total > length + 8 || _strnicmp(name, prefix, length) != 0 ||
        lstrcmpiA(name + total - 4, ".tmp") != 0)
        return false;
    for (const char* digit = name + length; digit < name + total - 4; ++digit)
        if (!isxdigit(static_cast<unsigned char>(*digit)))
            return false;
    return true;
}

// True when the aside copy lies beside its target under a name of ours.
bool IsAsideOf(const char* aside, const char* target)
{
    const char* asideName = strrchr(aside, '\\');
    const char* targetName = strrchr(target, '\\');
    return asideName != nullptr && targetName != nullptr && asideName - aside == targetName - target &&
           _strnicmp(aside, target, asideName - aside) == 0 && HasOwnTemporaryName(aside, "~vo");
}

// Where undo may act (bounds null: anywhere, for a run's own journal).
struct Limits {
    const UndoBounds* Bounds;
};

bool FileAllowed(const Limits& limits, const char* path)
{
    if (limits.Bounds == nullptr)
        return true;
    if (IsInside(path, Destination))
        return true;
    for (const char* folder : limits.Bounds->Folders)
        if (IsInside(path, folder))
            return true;
    return false;
}

// Folders also where the destination's own chain was made.
bool FolderAllowed(const Limits& limits, const char* folder)
{
    return FileAllowed(limits, folder) || (limits.Bounds != nullptr && IsInside(Destination, folder));
}

// Keys at or below an accepted key; with ancestors also the keys above one (made by the run).
bool KeyAllowed(const Limits& limits, const char* root, const char* keyPath, bool ancestors)
{
    if (limits.Bounds == nullptr)
        return true;
    if (strcmp(root, "HKLM") != 0)
        return false;
    for (int i = 0; i < limits.Bounds->KeyCount; ++i) {
        const char* key = limits.Bounds->Keys[i];
        if (IsInside(keyPath, key) || (ancestors && IsInside(key, keyPath)))
            return true;
    }
    return false;
}

void LogOutside(const char* path) { LogUndo("outside the product's folders and keys, left:", path); }

// Undoes record index (of lines); false only for an old file that stays aside.
bool UndoRecord(const JournalLines& lines, int index, const Limits& limits)
{
    char copy[LineSize];
    char* fields[MaxFields] = {};
    int count = RecordFields(lines.Line[index], copy, fields);
    char kind = fields[0][0];
    if (kind == ValueKind) {
        if (!KeyAllowed(limits, fields[1], fields[2], false)) {
            LogOutside(fields[2]);
            return true;
        }
        RestoreValue(fields);
    } else if (kind == KeyKind) {
        if (!KeyAllowed(limits, fields[1], fields[2], true)) {
            LogOutside(fields[2]);
            return true;
        }
        HKEY root = RootOf(fields[1]);
        if (root != nullptr)
            RegDeleteKeyA(root, fields[2]);
    } else if (kind == ReplacedKind) {
        // No aside copy: the old file was never moved, or is back already.
        if (!Exists(fields[2]))
            return true;
        if (!FileAllowed(limits, fields[1]) || !IsAsideOf(fields[2], fields[1])) {
            LogOutside(fields[1]);
            return true;
        }
        if (Exists(fields[1]) && !StillAsMade(lines, index, fields[1])) {
            // Somebody else's file now: it stays, and the old one it superseded goes.
            LogUndo("changed since the run, left:", fields[1]);
            DeleteFileA(fields[2]);
            return true;
        }
        if (!Retried(MoveBack, fields[2], fields[1])) {
            char text[2 * MAX_PATH + 64];
            snprintf(text, sizeof text, "%s stays as %s", fields[1], fields[2]);
            WriteLogLine("undo", text);
            return false;
        }
    } else if (kind == FileKind) {
        if (!Exists(fields[1]))
            return true;
        if (!FileAllowed(limits, fields[1])) {
            LogOutside(fields[1]);
            return true;
        }
        if (!StillAsMade(lines, index, fields[1])) {
            LogUndo("changed since the run, left:", fields[1]);
            return true;
        }
        if (!Retried(Delete, fields[1], nullptr) && Exists(fields[1]))
            LogUndo("could not delete", fields[1]);
    } else if (kind == TemporaryKind) {
        if (HasOwnTemporaryName(fields[1], "~vt") || HasOwnTemporaryName(fields[1], "~vx"))
            DeleteFileA(fields[1]);
    } else if (kind == FolderKind) {
        if (!Exists(fields[1]))
            return true;
        if (!FolderAllowed(limits, fields[1])) {
            LogOutside(fields[1]);
            return true;
        }
        if (!RemoveDirectoryA(fields[1]) && Exists(fields[1]))
            LogUndo("could not remove", fields[1]);
    }
    (void)count;
    return true;
}

// Replaces the journal file with kept (size bytes); false when that cannot be done whole.
bool RewriteJournal(const char* kept, DWORD size)
{
    char next[MAX_PATH];
    if (snprintf(next, sizeof next, "%s~", JournalFilePath) >= static_cast<int>(sizeof next))
        return false;
    HANDLE file = CreateFileA(next, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool written = (size == 0 || WriteAll(file, kept, size)) && FlushFileBuffers(file);
    CloseHandle(file);
    CloseHandle(JournalFile);
    JournalFile = INVALID_HANDLE_VALUE;
    if (!written || !MoveFileExA(next, JournalFilePath, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(next);
        return false;
    }
    return true;
}

void DeleteJournalFile()
{
    CloseHandle(JournalFile);
    JournalFile = INVALID_HANDLE_VALUE;
    DeleteFileA(JournalFilePath);
    JournalChangeDone();
}

// Deletes what a committed run left aside and the temporaries of a cut one; asides that cannot go
// (or whose replacement is not known to be on the disk: unsure[i] for the i-th R record) are
// handed to deleteAtRestart. Returns how many were handed on.
int DeleteAsideCopies(const JournalLines& lines, const Limits& limits, const bool* unsure,
                      void (*deleteAtRestart)(const char* path))
{
    int handedOn = 0;
    int replaced = 0;
    for (int i = 1; i < lines.Count; ++i) {
        char copy[LineSize];
        char* fields[MaxFields] = {};
        RecordFields(lines.Line[i], copy, fields);
        if (fields[0][0] == TemporaryKind) {
            UndoRecord(lines, i, limits);
            continue;
        }
        if (fields[0][0] != ReplacedKind)
            continue;
        const bool notFlushed = unsure != nullptr && unsure[replaced++];
        if (!Exists(fields[2]))
            continue;
        if (!FileAllowed(limits, fields[1]) || !IsAsideOf(fields[2], fields[1])) {
            LogOutside(fields[2]);
            continue;
        }
        if (!notFlushed && DeleteFileA(fields[2])) {
            JournalTraceEvent("delete aside of", fields[1]);
            JournalChangeDone();
        } else if (deleteAtRestart != nullptr) {
            deleteAtRestart(fields[2]);
            ++handedOn;
        }
    }
    return handedOn;
}

// The flushing of replacing files (StartFlushingReplacingFiles): the targets of the R records in
// the first FlusherEnd bytes of Records, flushed on a thread; those it could not flush are marked.
HANDLE Flusher;
DWORD FlusherEnd;
char* FlusherRecords; // its own copy of those bytes: the run goes on recording meanwhile
bool* FlushFailed;    // one per R record in those bytes
int FlusherTargets;

bool FlushByName(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool flushed = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    if (flushed) {
        InterlockedIncrement(&Flushes);
        JournalTraceEvent("flush file", path);
    }
    return flushed;
}

// The R records in text (size bytes): calls each(target, aside, index) for each, in order.
template <typename Each> void ForEachReplacement(const char* text, DWORD size, Each each)
{
    int index = 0;
    for (DWORD at = 0; at < size;) {
        const char* lineEnd = static_cast<const char*>(memchr(text + at, '\n', size - at));
        if (lineEnd == nullptr)
            break;
        DWORD next = static_cast<DWORD>(lineEnd - text) + 1;
        if (text[at] == ReplacedKind && text[at + 1] == '\t') {
            char target[MAX_PATH];
            char aside[MAX_PATH];
            DWORD length = next - at - 2;
            const char* tab = static_cast<const char*>(memchr(text + at + 2, '\t', length));
            if (tab != nullptr && tab - (text + at + 2) < MAX_PATH && text + next - 2 - tab - 1 < MAX_PATH) {
                lstrcpynA(target, text + at + 2, static_cast<int>(tab - (text + at + 2)) + 1);
                lstrcpynA(aside, tab + 1, static_cast<int>(text + next - 2 - (tab + 1)) + 1);
                each(target, aside, index);
            }
            ++index;
        }
        at = next;
    }
}

DWORD WINAPI FlushReplacingFiles(void*)
{
    ForEachReplacement(FlusherRecords, FlusherEnd, [](const char* target, const char* aside, int index) {
        FlushFailed[index] = Exists(aside) && !FlushByName(target);
    });
    return 0;
}

void WaitForFlusher()
{
    if (Flusher == nullptr)
        return;
    WaitForSingleObject(Flusher, INFINITE);
    CloseHandle(Flusher);
    Flusher = nullptr;
    HeapFree(GetProcessHeap(), 0, FlusherRecords);
    FlusherRecords = nullptr;
}

} // namespace

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
    if (!RecordLine(true, "%c\t%s\t%s\t%s\t%s\t%s\t%c", HeaderKind, JournalVersion, ProductDisplayName,
                    BuildView, system, destination, purpose == JournalPurpose::Install ? 'I' : 'U')) {
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

bool JournalFolderCreation(const char* folder)
{
    if (!InstallJournalActive())
        return true;
    return !HasSeparators(folder) && RecordLine(true, "%c\t%s", FolderKind, folder);
}

bool JournalFileCreation(const char* path)
{
    if (!InstallJournalActive())
        return true;
    return !HasSeparators(path) && RecordLine(true, "%c\t%s", FileKind, path);
}

bool JournalReplacement(const char* target, const char* aside)
{
    if (!InstallJournalActive())
        return true;
    return !HasSeparators(target) && !HasSeparators(aside) &&
           RecordLine(true, "%c\t%s\t%s", ReplacedKind, target, aside);
}

RegistryJournalMode RegistryMode = RegistryJournalMode::Each;

void SetRegistryJournalMode(RegistryJournalMode mode) { RegistryMode = mode; }

RegistryJournalMode CurrentRegistryJournalMode()
{
    return InstallJournalActive() ? RegistryMode : RegistryJournalMode::Each;
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
    char made[64];
    if (InstallJournalActive() && !HasSeparators(path) && DescribeFile(path, made, sizeof made))
        RecordLine(false, "%c\t%s\t%s", MadeKind, path, made);
}

void JournalTemporary(const char* path)
{
    if (InstallJournalActive() && !HasSeparators(path))
        RecordLine(false, "%c\t%s", TemporaryKind, path);
}

void JournalChangeDone() { CutHereIfAsked(CutKind::Change, ++ChangesDone); }

namespace {

// True when the journal already notes that the run makes this key (a value recorded ahead of its
// write, RegistryJournalMode::RecordOnly, finds the keys of the one before it still missing).
bool KeyRecorded(const char* rootName, const char* keyPath)
{
    char line[MAX_PATH + 16];
    int length = snprintf(line, sizeof line, "\r\n%c\t%s\t%s\r\n", KeyKind, rootName, keyPath);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof line ||
        Records.Size < static_cast<DWORD>(length))
        return false;
    for (DWORD at = 0; at + length <= Records.Size; ++at)
        if (Records.Data[at] == '\r' && memcmp(Records.Data + at, line, length) == 0)
            return true;
    return false;
}

} // namespace

bool JournalRegistryValue(HKEY root, const char* keyPath, const char* valueName)
{
    if (!InstallJournalActive())
        return true;
    const char* rootName = RootName(root);
    if (rootName == nullptr || HasSeparators(keyPath) || HasSeparators(valueName) ||
        strnlen(keyPath, MAX_PATH) >= MAX_PATH) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // One flush for the key records and the value record together: none of them is made yet.
    const bool batched = Batching;
    Batching = true;
    // Every key of the path that a create would make, from the root down, so that undoing them
    // backwards deletes the deepest first.
    char work[MAX_PATH];
    lstrcpynA(work, keyPath, sizeof work);
    bool missing = false;
    bool recorded = true;
    for (size_t i = 0;; ++i) {
        char kept = work[i];
        if (kept != '\\' && kept != '\0')
            continue;
        work[i] = '\0';
        missing = missing || !KeyExists(root, work);
        if (missing && !KeyRecorded(rootName, work) &&
            !RecordLine(true, "%c\t%s\t%s", KeyKind, rootName, work)) {
            recorded = false;
            break;
        }
        work[i] = kept;
        if (kept == '\0')
            break;
    }
    DWORD type = REG_NONE;
    unsigned char data[MaxJournalledValue];
    DWORD size = sizeof data;
    LONG status = ERROR_FILE_NOT_FOUND;
    HKEY key = nullptr;
    if (recorded && !missing && RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        status = RegQueryValueExA(key, valueName, nullptr, &type, data, &size);
        RegCloseKey(key);
    }
    if (recorded && status == ERROR_FILE_NOT_FOUND) {
        recorded =
            RecordLine(true, "%c\t%s\t%s\t%s\t%s", ValueKind, rootName, keyPath, valueName, AbsentData);
    } else if (recorded && status != ERROR_SUCCESS) {
        SetLastError(status);
        recorded = false;
    } else if (recorded) {
        char hex[2 * MaxJournalledValue + 1];
        for (DWORD i = 0; i < size; ++i)
            snprintf(hex + 2 * i, 3, "%02X", data[i]);
        hex[2 * size] = '\0';
        recorded = RecordLine(true, "%c\t%s\t%s\t%s\t%lu\t%s", ValueKind, rootName, keyPath, valueName,
                              static_cast<unsigned long>(type), hex);
    }
    Batching = batched;
    DWORD error = GetLastError();
    if (recorded && !batched && !FlushJournal())
        return false;
    SetLastError(error);
    return recorded;
}

void NoteRegistryWriteRefused(HKEY root, const char* keyPath, LONG status)
{
    if (!InstallJournalActive() || RefusedKey[0] != '\0')
        return;
    snprintf(RefusedKey, sizeof RefusedKey, "%s\\%s",
             root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE", keyPath);
    RefusedStatus = status;
}

bool RegistryWriteRefused(char* where)
{
    if (RefusedKey[0] == '\0')
        return false;
    lstrcpynA(where, RefusedKey, MAX_PATH);
    SetLastError(static_cast<DWORD>(RefusedStatus));
    return true;
}

bool ChooseAsideName(const char* target, char* aside)
{
    char folder[MAX_PATH];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    SplitPath(target, folder, baseName, extension);
    static unsigned next = GetTickCount();
    for (unsigned tries = 0; tries < 0x10000; ++tries) {
        unsigned number = next++ & 0xFFFF;
        if (snprintf(aside, MAX_PATH, "%s~vo%04X.tmp", folder, number) >= MAX_PATH) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        if (!Exists(aside) && GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

void ReleaseAside(const char* aside)
{
    if (!InstallJournalActive())
        DeleteFileA(aside);
}

void PrepareFileChange(const char* path)
{
    if (!InstallJournalActive())
        return;
    DWORD attributes = GetFileAttributesA(path);
    // A folder of that name makes the caller's own write fail, as it always has.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!JournalFileCreation(path))
            throw ZorvaneException(ErrWriteError, JournalFilePath);
        return;
    }
    char aside[MAX_PATH];
    if (!ChooseAsideName(path, aside))
        throw ZorvaneException(ErrWriteError, path);
    if (!JournalReplacement(path, aside))
        throw ZorvaneException(ErrWriteError, JournalFilePath);
    if (!MoveFileExA(path, aside, 0))
        throw ZorvaneException(ErrWriteError, path);
    JournalTraceEvent("rename aside", path);
    JournalChangeDone();
}

void StartFlushingReplacingFiles()
{
    WaitForFlusher();
    if (!InstallJournalActive())
        return;
    if (FlushFailed != nullptr)
        HeapFree(GetProcessHeap(), 0, FlushFailed);
    FlusherEnd = Records.Size;
    FlusherTargets = 0;
    ForEachReplacement(Records.Data, FlusherEnd, [](const char*, const char*, int) { ++FlusherTargets; });
    FlushFailed = static_cast<bool*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, FlusherTargets + 1));
    FlusherRecords = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, FlusherEnd + 1));
    if (FlushFailed == nullptr || FlusherRecords == nullptr) {
        // The commit flushes them itself.
        if (FlushFailed != nullptr)
            HeapFree(GetProcessHeap(), 0, FlushFailed);
        if (FlusherRecords != nullptr)
            HeapFree(GetProcessHeap(), 0, FlusherRecords);
        FlushFailed = nullptr;
        FlusherRecords = nullptr;
        FlusherEnd = 0;
        return;
    }
    memcpy(FlusherRecords, Records.Data, FlusherEnd);
    Flusher = CreateThread(nullptr, 0, FlushReplacingFiles, nullptr, 0, nullptr);
    if (Flusher == nullptr) {
        FlushReplacingFiles(nullptr);
        HeapFree(GetProcessHeap(), 0, FlusherRecords);
        FlusherRecords = nullptr;
    }
}

void WaitForReplacingFiles() { WaitForFlusher(); }

void UndoInstallJournal(UndoResult* result, const UndoBounds* bounds)
{
    result->Complete = true;
    result->KeptAside = 0;
    result->Kept[0] = '\0';
    if (!InstallJournalActive())
        return;
    WaitForFlusher();
    const Limits limits = {bounds};
    JournalLines lines;
    if (!SplitLines(&lines)) {
        result->Complete = false;
        WriteLogLine("undo", "no memory to read the journal; the next run undoes it");
        EndJournal();
        return;
    }
    TextBuffer kept = {};
    if (lines.Count > 0 && (!Append(&kept, lines.Line[0], static_cast<DWORD>(strlen(lines.Line[0]))) ||
                            !Append(&kept, "\r\n", 2)))
        result->Complete = false;
    // Folders last, once the files in them are gone: a batch records files before their folders.
    for (int step = 0; step < 2 * lines.Count; ++step) {
        const int i = lines.Count - 1 - step % lines.Count;
        if (i < 1 || (lines.Line[i][0] == FolderKind) != (step >= lines.Count))
            continue;
        const bool back = UndoRecord(lines, i, limits);
        JournalChangeDone();
        if (back)
            continue;
        char copy[LineSize];
        char* fields[MaxFields] = {};
        RecordFields(lines.Line[i], copy, fields);
        result->Complete = false;
        if (result->KeptAside++ == 0 || strlen(result->Kept) + 2 * MAX_PATH < sizeof result->Kept) {
            size_t used = strlen(result->Kept);
            snprintf(result->Kept + used, sizeof result->Kept - used, "%s%s <- %s", used > 0 ? "\r" : "",
                     fields[1], fields[2]);
        }
        if (!Append(&kept, lines.Line[i], static_cast<DWORD>(strlen(lines.Line[i]))) ||
            !Append(&kept, "\r\n", 2))
            break;
    }
    if (result->Complete)
        DeleteJournalFile();
    else if (!RewriteJournal(kept.Data, kept.Size))
        WriteLogLine("undo", "the journal could not be shortened; the next run undoes it whole");
    Release(&kept);
    ReleaseLines(&lines);
    EndJournal();
}

int CommitInstallJournal(void (*deleteAtRestart)(const char* path))
{
    if (!InstallJournalActive())
        return 0;
    // Every file that replaced an aside copy on the disk before the copy goes: the thread's share
    // first, then what was replaced after it started.
    WaitForFlusher();
    JournalLines lines;
    if (!SplitLines(&lines)) {
        // Without memory nothing is deleted: the next run finds the commit and finishes it.
        RecordLine(true, "%c", CommitKind);
        EndJournal();
        return 0;
    }
    int replacements = 0;
    ForEachReplacement(Records.Data, Records.Size, [&](const char*, const char*, int) { ++replacements; });
    bool* unsure = static_cast<bool*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, replacements + 1));
    const int byThread = FlushFailed != nullptr && FlusherEnd <= Records.Size ? FlusherTargets : 0;
    ForEachReplacement(Records.Data, Records.Size, [&](const char* target, const char* aside, int index) {
        // A replacement recorded ahead and never made has no aside copy: nothing to flush.
        bool failed = (index < byThread ? FlushFailed[index] : true) && Exists(aside);
        if (failed && Exists(target))
            failed = !FlushByName(target);
        if (failed)
            LogUndo("commit: not flushed, its old copy goes at the next restart:", target);
        if (unsure != nullptr)
            unsure[index] = failed;
    });
    int handedOn = 0;
    if (RecordLine(true, "%c", CommitKind)) {
        const Limits limits = {nullptr};
        handedOn = DeleteAsideCopies(lines, limits, unsure, deleteAtRestart);
        DeleteJournalFile();
    } else {
        WriteLogLine("commit", "the journal could not take its commit; the next run undoes it");
    }
    if (unsure != nullptr)
        HeapFree(GetProcessHeap(), 0, unsure);
    if (FlushFailed != nullptr)
        HeapFree(GetProcessHeap(), 0, FlushFailed);
    FlushFailed = nullptr;
    FlusherEnd = 0;
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
        char copy[LineSize];
        char* fields[MaxFields] = {};
        char system[MAX_PATH];
        UINT length = GetSystemDirectoryA(system, sizeof system);
        ours = RecordFields(lines.Line[0], copy, fields) == 7 && strcmp(fields[0], "H") == 0 &&
               strcmp(fields[1], JournalVersion) == 0 && strcmp(fields[2], ProductDisplayName) == 0 &&
               strcmp(fields[3], BuildView) == 0 && length > 0 && length < sizeof system &&
               lstrcmpiA(fields[4], system) == 0 && fields[5][0] != '\0' && fields[5][1] == ':' &&
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

int JournalFlushCount() { return static_cast<int>(Flushes); }
