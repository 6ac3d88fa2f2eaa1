#include "core/InstallJournal.h"

#include "core/DiagnosticLog.h"
#include "core/FileAccess.h"
#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char InstallJournalName[] = "Zorvane Setup.jnl";

namespace {

// One record is one line: a kind letter and its fields, separated by tabs (which no path and no
// value name of this program holds), ended by CR LF. A line without its line end was being written
// when the run stopped: its change was never made.
const char FolderKind = 'D';
const char FileKind = 'F';
const char ReplacedKind = 'R';
const char KeyKind = 'K';
const char ValueKind = 'V';
const char AbsentData[] = "-";
const size_t LineSize = 2 * MaxJournalledValue + 3 * MAX_PATH + 64;

HANDLE JournalFile = INVALID_HANDLE_VALUE;
char JournalFilePath[MAX_PATH];
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

// Records one line in memory and in the file; false when the line or the file cannot take it.
bool Record(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool Record(const char* format, ...)
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
    if (!WriteAll(JournalFile, line, count))
        return false;
    return Append(&Records, line, count);
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

void EndJournal()
{
    if (JournalFile != INVALID_HANDLE_VALUE)
        CloseHandle(JournalFile);
    JournalFile = INVALID_HANDLE_VALUE;
    JournalFilePath[0] = '\0';
    Release(&Records);
    RefusedKey[0] = '\0';
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

void LogUndoFailure(const char* what, const char* path)
{
    char text[MAX_PATH + 64];
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
        LogUndoFailure("could not restore a value of", fields[2]);
        return;
    }
    if (RegSetValueExA(key, fields[3], 0, strtoul(fields[4], nullptr, 10), data, size) != ERROR_SUCCESS)
        LogUndoFailure("could not restore a value of", fields[2]);
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

// Undoes one record (fields as split); false only for an old file that stays aside.
bool UndoRecord(char** fields, int count)
{
    char kind = fields[0][0];
    if (kind == ValueKind && (count == 5 || count == 6) &&
        (count == 6 || strcmp(fields[4], AbsentData) == 0)) {
        RestoreValue(fields);
    } else if (kind == KeyKind && count == 3) {
        HKEY root = RootOf(fields[1]);
        if (root != nullptr)
            RegDeleteKeyA(root, fields[2]);
    } else if (kind == ReplacedKind && count == 3) {
        // No aside copy: the old file was never moved, or is back already.
        if (Exists(fields[2]) && !Retried(MoveBack, fields[2], fields[1])) {
            char text[2 * MAX_PATH + 64];
            snprintf(text, sizeof text, "%s stays as %s", fields[1], fields[2]);
            WriteLogLine("undo", text);
            return false;
        }
    } else if (kind == FileKind && count == 2) {
        if (!Retried(Delete, fields[1], nullptr) && Exists(fields[1]))
            LogUndoFailure("could not delete", fields[1]);
    } else if (kind == FolderKind && count == 2) {
        if (!RemoveDirectoryA(fields[1]) && Exists(fields[1]))
            LogUndoFailure("could not remove", fields[1]);
    }
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
    bool written = size == 0 || WriteAll(file, kept, size);
    CloseHandle(file);
    CloseHandle(JournalFile);
    JournalFile = INVALID_HANDLE_VALUE;
    if (!written || !MoveFileExA(next, JournalFilePath, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(next);
        return false;
    }
    return true;
}

// The record that ends just before *end (the offset past its CR LF) into line (LineSize bytes),
// moving *end to its start: the records from the last to the first. False before the first.
bool PreviousRecord(DWORD* end, char* line)
{
    if (*end < 2)
        return false;
    const char* data = Records.Data;
    DWORD start = *end - 2;
    while (start >= 2 && !(data[start - 2] == '\r' && data[start - 1] == '\n'))
        --start;
    if (start < 2)
        start = 0;
    DWORD length = *end - 2 - start;
    if (length >= LineSize)
        length = LineSize - 1;
    memcpy(line, data + start, length);
    line[length] = '\0';
    *end = start;
    return true;
}

// Offset just past the last complete record: a tail without its line end is dropped.
DWORD CompleteRecordsEnd()
{
    DWORD end = Records.Size;
    while (end >= 2 && !(Records.Data[end - 2] == '\r' && Records.Data[end - 1] == '\n'))
        --end;
    return end < 2 ? 0 : end;
}

} // namespace

bool DefaultJournalPath(char* path)
{
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    return AppendPathComponent(path, InstallJournalName);
}

bool StartInstallJournal(const char* path)
{
    EndJournal();
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    JournalFile = file;
    lstrcpynA(JournalFilePath, path, sizeof JournalFilePath);
    return true;
}

bool InstallJournalActive() { return JournalFile != INVALID_HANDLE_VALUE; }

const char* InstallJournalPath() { return JournalFilePath; }

bool JournalFolderCreation(const char* folder)
{
    if (!InstallJournalActive())
        return true;
    return !HasSeparators(folder) && Record("%c\t%s", FolderKind, folder);
}

bool JournalFileCreation(const char* path)
{
    if (!InstallJournalActive())
        return true;
    return !HasSeparators(path) && Record("%c\t%s", FileKind, path);
}

bool JournalReplacement(const char* target, const char* aside)
{
    if (!InstallJournalActive())
        return true;
    return !HasSeparators(target) && !HasSeparators(aside) &&
           Record("%c\t%s\t%s", ReplacedKind, target, aside);
}

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
    // Every key of the path that a create would make, from the root down, so that undoing them
    // backwards deletes the deepest first.
    char work[MAX_PATH];
    lstrcpynA(work, keyPath, sizeof work);
    bool missing = false;
    for (size_t i = 0;; ++i) {
        char kept = work[i];
        if (kept != '\\' && kept != '\0')
            continue;
        work[i] = '\0';
        missing = missing || !KeyExists(root, work);
        if (missing && !Record("%c\t%s\t%s", KeyKind, rootName, work))
            return false;
        work[i] = kept;
        if (kept == '\0')
            break;
    }
    DWORD type = REG_NONE;
    unsigned char data[MaxJournalledValue];
    DWORD size = sizeof data;
    LONG status = ERROR_FILE_NOT_FOUND;
    HKEY key = nullptr;
    if (!missing && RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        status = RegQueryValueExA(key, valueName, nullptr, &type, data, &size);
        RegCloseKey(key);
    }
    if (status == ERROR_FILE_NOT_FOUND)
        return Record("%c\t%s\t%s\t%s\t%s", ValueKind, rootName, keyPath, valueName, AbsentData);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return false;
    }
    char hex[2 * MaxJournalledValue + 1];
    for (DWORD i = 0; i < size; ++i)
        snprintf(hex + 2 * i, 3, "%02X", data[i]);
    hex[2 * size] = '\0';
    return Record("%c\t%s\t%s\t%s\t%lu\t%s", ValueKind, rootName, keyPath, valueName,
                  static_cast<unsigned long>(type), hex);
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
}

void UndoInstallJournal(UndoResult* result)
{
    result->Complete = true;
    result->KeptAside = 0;
    result->Kept[0] = '\0';
    if (!InstallJournalActive())
        return;
    TextBuffer kept = {};
    DWORD end = CompleteRecordsEnd();
    char line[LineSize];
    while (PreviousRecord(&end, line)) {
        char copy[LineSize];
        memcpy(copy, line, sizeof copy);
        char* fields[6];
        int count = SplitFields(copy, fields, 6);
        if (UndoRecord(fields, count))
            continue;
        result->Complete = false;
        if (result->KeptAside++ == 0 || strlen(result->Kept) + 2 * MAX_PATH < sizeof result->Kept) {
            size_t used = strlen(result->Kept);
            snprintf(result->Kept + used, sizeof result->Kept - used, "%s%s <- %s", used > 0 ? "\r" : "",
                     fields[1], fields[2]);
        }
        if (!Append(&kept, line, static_cast<DWORD>(strlen(line))) || !Append(&kept, "\r\n", 2))
            break;
    }
    if (result->Complete) {
        CloseHandle(JournalFile);
        JournalFile = INVALID_HANDLE_VALUE;
        DeleteFileA(JournalFilePath);
    } else if (!RewriteJournal(kept.Data, kept.Size)) {
        WriteLogLine("undo", "the journal could not be shortened; the next run undoes it whole");
    }
    Release(&kept);
    EndJournal();
}

int CommitInstallJournal(void (*deleteAtRestart)(const char* path))
{
    if (!InstallJournalActive())
        return 0;
    int handedOn = 0;
    DWORD end = CompleteRecordsEnd();
    char line[LineSize];
    while (PreviousRecord(&end, line)) {
        char* fields[3];
        if (line[0] != ReplacedKind || SplitFields(line, fields, 3) != 3)
            continue;
        if (!DeleteFileA(fields[2]) && Exists(fields[2])) {
            deleteAtRestart(fields[2]);
            ++handedOn;
        }
    }
    CloseHandle(JournalFile);
    JournalFile = INVALID_HANDLE_VALUE;
    DeleteFileA(JournalFilePath);
    EndJournal();
    return handedOn;
}

LeftJournal OpenLeftJournal(const char* path)
{
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
    return LeftJournal::Opened;
}
