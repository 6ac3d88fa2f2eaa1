#include "payload/PackageExtraction.h"

#include "core/PathUtilities.h"
#include "core/SystemLibraries.h"
#include "core/ZorvaneException.h"
#include "driver/SetupState.h"
#include "format/PackageFormat.h"
#include "payload/InstallLog.h"
#include "ui/ProgressDisplay.h"

#include <string.h>

namespace {

const char StoredPrefix[] = "~vt";
const char ExpandedPrefix[] = "~vx";
// Stored bytes move in chunks this large: each chunk is one read and one write, and under Wine
// every call costs more than the bytes it moves.
const DWORD CopyChunkSize = 64 * 1024;

// Makes both temporaries, empty, in the user's temporary folder. On failure neither is left.
void MakeTemporaries(char* storedPath, char* expandedPath)
{
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder)
        throw ZorvaneException(ErrUnableToOpen);
    if (GetTempFileNameA(folder, StoredPrefix, 0, storedPath) == 0)
        throw ZorvaneException(ErrUnableToOpen, folder);
    if (GetTempFileNameA(folder, ExpandedPrefix, 0, expandedPath) == 0) {
        ZorvaneException error(ErrUnableToOpen, folder);
        DeleteFileA(storedPath);
        throw error;
    }
}

// False at the normal end of the package: fewer bytes than a header are left.
bool ReadNextHeader(FileReader& package, PackageEntry* entry)
{
    unsigned char bytes[PackageEntrySize];
    try {
        package.Read(bytes, sizeof bytes);
    } catch (const ZorvaneException& error) {
        if (error.ErrorCode != ErrUnexpectedEndOfFile)
            throw;
        return false;
    }
    DecodePackageEntry(bytes, entry);
    return true;
}

// The entry's full target path in target (MAX_PATH bytes); false when it does not fit.
// Only for an entry that CheckPackageEntry found sound.
bool ComposeTargetPath(const PackageEntry& entry, char* target)
{
    if (IsSystemFolderTarget(entry)) {
        UINT length = GetSystemDirectoryA(target, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return false;
    } else {
        lstrcpynA(target, DestinationFolder, MAX_PATH);
    }
    return AppendPathComponent(target, TargetRelativePath(entry));
}

enum ExpansionResult {
    Expanded,
    StoredNotOpened,
    ExpandedNotOpened,
    ExpandedNotWritten,
    NotExpandable, // corrupt or cut: the output's length is not the one the stored bytes announce
};

// Expands the stored-bytes temporary into the expansion temporary, which is emptied first.
// The platform expands compress-format data and copies anything else unchanged; either way the
// copy must deliver exactly the length the source reports (the announced expanded length for
// compressed data, the file size otherwise), since a cut or corrupt stream expands short or long
// without any error of its own.
ExpansionResult ExpandStoredBytes(char* storedPath, char* expandedPath)
{
    OFSTRUCT openFile = {};
    INT source = SystemLZOpenFile(storedPath, &openFile, OF_READ);
    if (source < 0)
        return source == LZERROR_BADINHANDLE ? StoredNotOpened : NotExpandable;
    INT target = SystemLZOpenFile(expandedPath, &openFile, OF_CREATE | OF_READWRITE);
    if (target < 0) {
        SystemLZClose(source);
        return ExpandedNotOpened;
    }
    LONG announced = SystemLZSeek(source, 0, 2);
    LONG copied = LZERROR_BADVALUE;
    if (announced >= 0 && SystemLZSeek(source, 0, 0) == 0)
        copied = SystemLZCopy(source, target);
    SystemLZClose(source);
    SystemLZClose(target);
    if (copied == LZERROR_WRITE || copied == LZERROR_BADOUTHANDLE)
        return ExpandedNotWritten;
    return copied >= 0 && copied == announced ? Expanded : NotExpandable;
}

// Puts the expanded file at targetPath so that a file already there stays whole until the new one
// is complete: the copy goes to a temporary name in the target's folder, then one replacing rename
// takes the target's place. On any failure the temporary is removed, the target is as it was, and
// ErrWriteError names the target.
void CopyIntoPlace(const char* expandedPath, const char* targetPath)
{
    // A read-only file, or one another program holds, is reported before anything is written: a
    // rename could replace a held file on some systems and leave that program a stale view.
    DWORD attributes = GetFileAttributesA(targetPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // As the system refuses to write it, whatever rights this process may hold.
        SetLastError(ERROR_ACCESS_DENIED);
        throw ZorvaneException(ErrWriteError, targetPath);
    }
    HANDLE probe = CreateFileA(targetPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
        throw ZorvaneException(ErrWriteError, targetPath);
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
    char folder[MAX_PATH];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    SplitPath(targetPath, folder, baseName, extension);
    char partPath[MAX_PATH];
    // GetTempFileNameA wants room for a 13-character name after the folder.
    if (strlen(folder) + 14 > MAX_PATH || GetTempFileNameA(folder, "~vr", 0, partPath) == 0)
        throw ZorvaneException(ErrWriteError, targetPath);
    if (!CopyFileA(expandedPath, partPath, FALSE)) {
        ZorvaneException error(ErrWriteError, targetPath);
        DeleteFileA(partPath);
        throw error;
    }
    if (!MoveFileExA(partPath, targetPath, MOVEFILE_REPLACE_EXISTING)) {
        ZorvaneException error(ErrWriteError, targetPath);
        DeleteFileA(partPath);
        throw error;
    }
}

bool IsNewerVersion(const char* newPath, const char* oldPath)
{
    DWORD newHigh, newLow, oldHigh, oldLow;
    if (!ReadFileVersion(newPath, &newHigh, &newLow) || !ReadFileVersion(oldPath, &oldHigh, &oldLow))
        return false;
    return (static_cast<ULONGLONG>(newHigh) << 32 | newLow) >
           (static_cast<ULONGLONG>(oldHigh) << 32 | oldLow);
}

// Puts the expanded file in place by the entry's overwrite rule. Only files the removal is to
// take away again are logged: new ones and those replaced unconditionally; the record goes
// first, so a file in place is never missing from the log.
void InstallExpandedFile(const char* expandedPath, const char* targetPath, uint16_t mode, FileWriter& log)
{
    if (GetFileAttributesA(targetPath) != INVALID_FILE_ATTRIBUTES) {
        if (mode == KeepExisting)
            return;
        if (mode == ReplaceIfNewer) {
            if (!IsNewerVersion(expandedPath, targetPath))
                return;
            CopyIntoPlace(expandedPath, targetPath);
            return;
        }
    }
    WriteLogRecord(log, FileRecord, targetPath);
    CopyIntoPlace(expandedPath, targetPath);
}

// One entry, whose stored bytes come next in the package. Nothing is written for an entry that
// is unsound or whose data do not expand, so a failure never installs a wrong file.
void ExtractEntry(HWND progress, FileReader& package, FileWriter& log, const PackageEntry& entry,
                  char* storedPath, char* expandedPath)
{
    char targetPath[MAX_PATH];
    if (CheckPackageEntry(entry) != EntryIsSound || !ComposeTargetPath(entry, targetPath))
        throw ZorvaneException(ErrInvalidOrCorrupt, package.FileName);

    SetProgressStatus(progress, entry.DisplayText);
    {
        FileWriter stored(storedPath);
        CopyStoredBytes(package, stored, entry.StoredSize);
    }
    switch (ExpandStoredBytes(storedPath, expandedPath)) {
    case Expanded:
        break;
    case StoredNotOpened:
        throw ZorvaneException(ErrUnableToOpen, storedPath);
    case ExpandedNotOpened:
        throw ZorvaneException(ErrUnableToOpen, expandedPath);
    case ExpandedNotWritten:
        throw ZorvaneException(ErrWriteError, expandedPath);
    case NotExpandable:
        throw ZorvaneException(ErrInvalidOrCorrupt, package.FileName);
    }
    DeleteFileA(storedPath);

    char folder[MAX_PATH];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    SplitPath(targetPath, folder, baseName, extension);
    int created = 0;
    if (!CreateFolderChain(folder, &created))
        throw ZorvaneException(ErrFailedToCreateFolder, folder);
    if (created)
        WriteLogRecord(log, FolderRecord, folder);

    InstallExpandedFile(expandedPath, targetPath, entry.OverwriteMode, log);
}

// Whole percent of the package read; 64-bit, as position times 100 overflows 32 bits beyond 42 MB.
unsigned PercentRead(DWORD position, DWORD size)
{
    return size == 0 ? 0 : static_cast<unsigned>(static_cast<ULONGLONG>(position) * 100 / size);
}

} // namespace

void ExtractPackage(HWND progress, FileReader& package, FileWriter& log)
{
    DWORD packageSize = package.Size();
    char storedPath[MAX_PATH];
    char expandedPath[MAX_PATH];
    MakeTemporaries(storedPath, expandedPath);
    try {
        unsigned char bytes[PackageEntrySize];
        package.Read(bytes, sizeof bytes); // an empty package is an error, not an empty install
        PackageEntry entry;
        DecodePackageEntry(bytes, &entry);
        do {
            ExtractEntry(progress, package, log, entry, storedPath, expandedPath);
            SetProgressPosition(progress, PercentRead(package.Tell(), packageSize));
        } while (ReadNextHeader(package, &entry));
    } catch (const ZorvaneException&) {
        DeleteFileA(storedPath);
        DeleteFileA(expandedPath);
        throw;
    }
    DeleteFileA(storedPath);
    DeleteFileA(expandedPath);
}

void CopyStoredBytes(FileReader& package, FileWriter& output, int32_t count)
{
    char buffer[CopyChunkSize];
    while (count > 0) {
        DWORD chunk = static_cast<DWORD>(count) < sizeof buffer ? static_cast<DWORD>(count) : sizeof buffer;
        package.Read(buffer, chunk);
        output.Write(buffer, chunk);
        count -= static_cast<int32_t>(chunk);
    }
}

bool ReadFileVersion(const char* path, DWORD* high, DWORD* low)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    DWORD unused = 0;
    DWORD size = SystemGetFileVersionInfoSize(path, &unused);
    if (size < sizeof(VS_FIXEDFILEINFO))
        return false;
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (block == nullptr)
        return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    bool found = SystemGetFileVersionInfo(path, 0, size, block) &&
                 SystemVerQueryValue(block, "\\", reinterpret_cast<void**>(&fixed), &length) &&
                 fixed != nullptr && length >= sizeof *fixed;
    if (found) {
        *high = fixed->dwFileVersionMS;
        *low = fixed->dwFileVersionLS;
    }
    HeapFree(GetProcessHeap(), 0, block);
    return found;
}
