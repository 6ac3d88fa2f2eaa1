#include "payload/InstallLog.h"

#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"

#include <string.h>

const char InstallLogName[] = "Setup.log";

namespace {

// The removal reads a line of at most 459 characters; a longer one is no record.
const DWORD LongestLine = 459;

// Records as consecutive zero-terminated texts (kind byte, then the path) on the process heap.
struct RecordList {
    char* Data;
    DWORD Size;
    DWORD Room;
};

RecordList Earlier;
RecordList Written;
bool Keeping = false;

bool Append(RecordList* list, const char* record, DWORD count)
{
    if (list->Size + count + 1 > list->Room) {
        DWORD grown = (list->Room == 0 ? 4096 : list->Room * 2) + count + 1;
        void* more = list->Data == nullptr ? HeapAlloc(GetProcessHeap(), 0, grown)
                                           : HeapReAlloc(GetProcessHeap(), 0, list->Data, grown);
        if (more == nullptr)
            return false;
        list->Data = static_cast<char*>(more);
        list->Room = grown;
    }
    memcpy(list->Data + list->Size, record, count);
    list->Data[list->Size + count] = '\0';
    list->Size += count + 1;
    return true;
}

void Release(RecordList* list)
{
    if (list->Data != nullptr)
        HeapFree(GetProcessHeap(), 0, list->Data);
    *list = {};
}

// The record after the one at offset (the first for offset ~0u); null after the last.
const char* Next(const RecordList& list, DWORD* offset)
{
    *offset = *offset == ~0u ? 0 : *offset + static_cast<DWORD>(strlen(list.Data + *offset)) + 1;
    return *offset < list.Size ? list.Data + *offset : nullptr;
}

bool IsWritten(char kind, const char* path)
{
    DWORD at = ~0u;
    for (const char* record; (record = Next(Written, &at)) != nullptr;)
        if (record[0] == kind && IsSamePathText(record + 1, path))
            return true;
    return false;
}

// Keeps line (count bytes) when it is a record.
void KeepEarlierLine(const char* line, DWORD count)
{
    if (count == 0 || count > LongestLine || (line[0] != FileRecord && line[0] != FolderRecord))
        return;
    if (!Append(&Earlier, line, count))
        throw ZorvaneException(ErrNotEnoughMemory);
}

// Splits the log's bytes into lines as FileReader::ReadLine does.
void KeepEarlierRecords(const char* bytes, DWORD size)
{
    char line[LongestLine + 1];
    DWORD count = 0;
    bool tooLong = false;
    for (DWORD i = 0; i < size; ++i) {
        if (bytes[i] == '\n')
            continue;
        if (bytes[i] == '\r') {
            if (!tooLong)
                KeepEarlierLine(line, count);
            count = 0;
            tooLong = false;
        } else if (count < LongestLine) {
            line[count++] = bytes[i];
        } else {
            tooLong = true;
        }
    }
    if (!tooLong)
        KeepEarlierLine(line, count);
}

bool ExistsAs(char kind, const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == (kind == FolderRecord);
}

} // namespace

void WriteLogRecord(FileWriter& log, char kind, const char* path)
{
    if (Keeping) {
        char record[MAX_PATH + 1];
        record[0] = kind;
        lstrcpynA(record + 1, path, MAX_PATH);
        if (!Append(&Written, record, static_cast<DWORD>(strlen(record))))
            throw ZorvaneException(ErrNotEnoughMemory);
    }
    log.WriteByte(kind);
    log.WriteLine(path);
}

void BeginRunLog(const char* logPath)
{
    EndRunLog();
    Keeping = true;
    HANDLE file =
        CreateFileA(logPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return;
        throw ZorvaneException(ErrUnableToOpen, logPath);
    }
    DWORD size = GetFileSize(file, nullptr);
    void* bytes = size == INVALID_FILE_SIZE ? nullptr : HeapAlloc(GetProcessHeap(), 0, size + 1);
    if (bytes == nullptr || (size != 0 && !ReadAll(file, bytes, size))) {
        // Made before the handle is closed, so that it keeps the system's reason.
        ZorvaneException error(
            bytes == nullptr && size != INVALID_FILE_SIZE ? ErrNotEnoughMemory : ErrReadError, logPath);
        CloseHandle(file);
        if (bytes != nullptr)
            HeapFree(GetProcessHeap(), 0, bytes);
        throw error;
    }
    CloseHandle(file);
    try {
        KeepEarlierRecords(static_cast<const char*>(bytes), size);
    } catch (const ZorvaneException&) {
        HeapFree(GetProcessHeap(), 0, bytes);
        throw;
    }
    HeapFree(GetProcessHeap(), 0, bytes);
}

int CarryEarlierRecords(FileWriter& log, const AllowedFolders& allowed, CarriedPart part)
{
    int carried = 0;
    DWORD at = ~0u;
    for (const char* record; (record = Next(Earlier, &at)) != nullptr;) {
        char path[MAX_PATH];
        lstrcpynA(path, record + 1, sizeof path);
        if (strlen(record + 1) >= sizeof path)
            continue;
        FoldSeparators(path);
        if (!IsRemovable(path, allowed) || IsInStartMenu(path, allowed) != (part == CarriedPart::Shortcuts) ||
            IsWritten(record[0], path) || !ExistsAs(record[0], path))
            continue;
        // Written as the earlier log had it; kept in memory too, so that it is carried once.
        WriteLogRecord(log, record[0], record + 1);
        ++carried;
    }
    return carried;
}

bool NamesLoggedFile(const char* path)
{
    DWORD at = ~0u;
    for (const char* record; (record = Next(Written, &at)) != nullptr;)
        if (record[0] == FileRecord && IsSameFile(record + 1, path))
            return true;
    return false;
}

void EndRunLog()
{
    Release(&Earlier);
    Release(&Written);
    Keeping = false;
}
