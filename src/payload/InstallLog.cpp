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

// The written records by path, so that carrying an earlier log of a thousand records does not
// compare each with each: open addressing over offsets into Written (offset + 1; 0 is empty),
// keyed by the path as IsSamePathText reads it, upper-cased.
DWORD* WrittenIndex;
DWORD IndexRoom; // a power of two, or 0
DWORD IndexUsed;

DWORD PathHash(char kind, const char* path)
{
    char key[MAX_PATH];
    size_t length = strnlen(path, MAX_PATH);
    if (length >= MAX_PATH)
        return 0;
    memcpy(key, path, length + 1);
    FoldSeparators(key);
    length = strlen(key);
    if (length > 0 && key[length - 1] == '\\')
        key[--length] = '\0';
    CharUpperBuffA(key, static_cast<DWORD>(length));
    DWORD hash = 2166136261u ^ static_cast<unsigned char>(kind);
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ static_cast<unsigned char>(key[i])) * 16777619u;
    return hash;
}

void IndexAt(DWORD offset)
{
    const char* record = Written.Data + offset;
    for (DWORD slot = PathHash(record[0], record + 1) & (IndexRoom - 1);; slot = (slot + 1) & (IndexRoom - 1))
        if (WrittenIndex[slot] == 0) {
            WrittenIndex[slot] = offset + 1;
            ++IndexUsed;
            return;
        }
}

// Indexes the record at offset of Written, growing the index to keep it at most half full.
bool Index(DWORD offset)
{
    if (2 * (IndexUsed + 1) > IndexRoom) {
        DWORD room = IndexRoom == 0 ? 1024 : IndexRoom * 2;
        void* grown = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, room * sizeof(DWORD));
        if (grown == nullptr)
            return false;
        DWORD* old = WrittenIndex;
        DWORD oldRoom = IndexRoom;
        WrittenIndex = static_cast<DWORD*>(grown);
        IndexRoom = room;
        IndexUsed = 0;
        for (DWORD i = 0; i < oldRoom; ++i)
            if (old[i] != 0)
                IndexAt(old[i] - 1);
        if (old != nullptr)
            HeapFree(GetProcessHeap(), 0, old);
    }
    IndexAt(offset);
    return true;
}

void ReleaseIndex()
{
    if (WrittenIndex != nullptr)
        HeapFree(GetProcessHeap(), 0, WrittenIndex);
    WrittenIndex = nullptr;
    IndexRoom = IndexUsed = 0;
}

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
    if (IndexRoom == 0)
        return false;
    for (DWORD slot = PathHash(kind, path) & (IndexRoom - 1); WrittenIndex[slot] != 0;
         slot = (slot + 1) & (IndexRoom - 1)) {
        const char* record = Written.Data + WrittenIndex[slot] - 1;
        if (record[0] == kind && IsSamePathText(record + 1, path))
            return true;
    }
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
        const DWORD offset = Written.Size;
        if (!Append(&Written, record, static_cast<DWORD>(strlen(record))) || !Index(offset))
            throw ZorvaneException(ErrNotEnoughMemory);
    }
    // One system write for the whole line where it fits, as a package writes about a thousand.
    char line[MAX_PATH + 3];
    const size_t length = strnlen(path, MAX_PATH);
    if (length < MAX_PATH) {
        line[0] = kind;
        memcpy(line + 1, path, length);
        memcpy(line + 1 + length, "\r\n", 2);
        log.Write(line, static_cast<DWORD>(length + 3));
        return;
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
    ReleaseIndex();
    Keeping = false;
}
