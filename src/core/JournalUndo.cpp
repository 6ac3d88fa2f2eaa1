#include "core/InstallJournal.h"

#include "core/DiagnosticLog.h"
#include "core/FileAccess.h"
#include "core/HeldFiles.h"
#include "core/JournalInternals.h"
#include "core/JournalRecords.h"
#include "core/ReplacementFlushing.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

using namespace journal;

namespace {

HKEY RootOf(const char* name)
{
    if (strcmp(name, "HKLM") == 0)
        return HKEY_LOCAL_MACHINE;
    if (strcmp(name, "HKCU") == 0)
        return HKEY_CURRENT_USER;
    return nullptr;
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

// What a record made of path holds now: true when the file at path is what the journal says the
// run left there (the first M record for it after line index from, before the next change of it),
// or when the journal says nothing (cut before it could).
bool StillAsMade(const JournalLines& lines, int from, const char* path)
{
    for (int i = from + 1; i < lines.Count; ++i) {
        char copy[RecordLineSize];
        char* fields[MaxRecordFields] = {};
        int count = RecordFields(lines.Line[i], copy, fields);
        char kind = fields[0][0];
        if (count < 2 || lstrcmpiA(fields[1], path) != 0)
            continue;
        if (kind == FileKind || kind == ReplacedKind)
            return true;
        if (kind == MadeKind && count == 4) {
            char size[17];
            char time[17];
            return DescribeFile(path, size, time) && strcmp(size, fields[2]) == 0 &&
                   strcmp(time, fields[3]) == 0;
        }
    }
    return true;
}

} // namespace

void journal::LogUndo(const char* what, const char* path)
{
    char text[MAX_PATH + 96];
    snprintf(text, sizeof text, "%s %s", what, path);
    WriteLogLine("undo", text);
}

void journal::LogOutside(const char* path) { LogUndo("outside the product's folders and keys, left:", path); }

namespace {

// True when what the run made at path is still there and allowed is true; one outside where
// undo acts is noted and left.
bool PresentWhereAllowed(const char* path, bool allowed)
{
    if (!Exists(path))
        return false;
    if (!allowed)
        LogOutside(path);
    return allowed;
}

} // namespace

bool journal::UndoRecord(const JournalLines& lines, int index, const Limits& limits)
{
    char copy[RecordLineSize];
    char* fields[MaxRecordFields] = {};
    RecordFields(lines.Line[index], copy, fields);
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
        if (!Exists(fields[2]) || IsWithdrawn(lines, index))
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
        if (!MoveWhenLetGo(fields[2], fields[1], MOVEFILE_REPLACE_EXISTING, HoldLimitMs, true)) {
            char text[2 * MAX_PATH + 64];
            snprintf(text, sizeof text, "%s stays as %s", fields[1], fields[2]);
            WriteLogLine("undo", text);
            return false;
        }
    } else if (kind == FileKind) {
        if (!PresentWhereAllowed(fields[1], FileAllowed(limits, fields[1])))
            return true;
        if (!StillAsMade(lines, index, fields[1])) {
            LogUndo("changed since the run, left:", fields[1]);
            return true;
        }
        if (!DeleteWhenLetGo(fields[1], HoldLimitMs, true) && Exists(fields[1]))
            LogUndo("could not delete", fields[1]);
    } else if (kind == TemporaryKind) {
        if (HasOwnTemporaryName(fields[1], "~vt") || HasOwnTemporaryName(fields[1], "~vx"))
            DeleteFileA(fields[1]);
    } else if (kind == FolderKind) {
        if (!PresentWhereAllowed(fields[1], FolderAllowed(limits, fields[1])))
            return true;
        if (!RemoveDirectoryA(fields[1]) && Exists(fields[1]))
            LogUndo("could not remove", fields[1]);
    }
    return true;
}

// Replaces the journal file with kept (size bytes); false when that cannot be done whole.
namespace {

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

} // namespace

void UndoInstallJournal(UndoResult* result, const UndoBounds* bounds)
{
    result->Complete = true;
    result->KeptAside = 0;
    result->Kept[0] = '\0';
    if (!InstallJournalActive())
        return;
    WaitForReplacementFlushes();
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
        char copy[RecordLineSize];
        char* fields[MaxRecordFields] = {};
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
