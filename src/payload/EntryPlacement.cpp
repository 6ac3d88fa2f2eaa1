#include "payload/EntryPlacement.h"

#include "core/AsideFiles.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/SystemLibraries.h"
#include "core/ZorvaneException.h"
#include "format/PackageFormat.h"
#include "format/VersionResource.h"
#include "payload/BootTimeDeletion.h"
#include "payload/InstallLog.h"

#include <string.h>

namespace {

// A target is compared with the new content in reads this large.
const DWORD CompareChunkSize = 64 * 1024;

// Opens path as the replacement's probe does (ReplaceExisting), and reading besides: when that
// works, no other program holds it so that it cannot be renamed.
HANDLE OpenReplaceable(const char* path, DWORD access)
{
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// True when the file at path (of the given attributes) holds exactly held's content, with
// nothing but the normal attributes: such a file is left as it is rather than written again.
// Content too large to be held is not compared. *renamable: the comparison's own open showed that
// the file can be renamed aside, so that its replacement needs no probe.
bool HoldsContent(const char* path, DWORD attributes, const HeldContent& held, bool* renamable)
{
    *renamable = false;
    if (!held.Whole || (attributes & ~(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL)) != 0)
        return false;
    HANDLE file = OpenReplaceable(path, GENERIC_READ | DELETE);
    if (file != INVALID_HANDLE_VALUE)
        *renamable = true;
    else
        file = OpenReplaceable(path, GENERIC_READ); // held by another program: compared all the same
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool same = GetFileSizeEx(file, &size) && size.QuadPart == held.Size;
    static unsigned char buffer[CompareChunkSize]; // one extraction at a time; kept off the stack
    for (uint32_t at = 0; same && at < held.Size;) {
        DWORD want = held.Size - at < CompareChunkSize ? held.Size - at : CompareChunkSize;
        DWORD got = 0;
        same = ReadFile(file, buffer, want, &got, nullptr) && got == want &&
               memcmp(buffer, held.Data + at, got) == 0;
        at += got;
    }
    CloseHandle(file);
    return same;
}

// Writes content into a new file at targetPath, which must not exist; false, with the system's
// error, when it cannot be made or written (a partial file is removed).
bool WriteContent(const char* targetPath, const NewContent& content)
{
    return content.Held->Whole ? WriteNewFile(targetPath, *content.Held, content.Status)
                               : content.Expanded->CopyToNewFile(targetPath, content.Status);
}

// Puts the content at targetPath over the file there so that the old file is never lost: it is
// renamed aside in its own folder first (the system renames a file others hold open while sharing
// everything, an indexer or a viewer, where it would not rename over it), and the new file is
// written under the target's name. The old file is kept until the run succeeds (ReleaseAside).
// When the new file cannot be written, it is removed and the old one takes its name again.
// ErrWriteError names the target (or the journal that could not record).
// attributes are the target's as the caller read them; renamable, that its open for the
// comparison showed it can be renamed.
void ReplaceExisting(const NewContent& content, const char* targetPath, const EntryJournal& journalled,
                     DWORD attributes, bool renamable)
{
    // A read-only file, or one another program holds so that it cannot be replaced, is reported
    // before anything is written. Programs that share everything (indexers, viewers) do not count:
    // the probe asks for what a replacement needs and shares what they share.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // As the system refuses to write it, whatever rights this process may hold.
        SetLastError(ERROR_ACCESS_DENIED);
        throw ZorvaneException(ErrWriteError, targetPath);
    }
    HANDLE probe = renamable ? INVALID_HANDLE_VALUE : OpenReplaceable(targetPath, DELETE);
    if (!renamable && probe == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
        throw ZorvaneException(ErrWriteError, targetPath);
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
    char folder[MAX_PATH];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    SplitPath(targetPath, folder, baseName, extension);
    if (strlen(folder) > ReplaceableFolderLength) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        throw ZorvaneException(ErrWriteError, targetPath);
    }
    // Recorded ahead with the batch, or recorded now.
    char asidePath[MAX_PATH];
    lstrcpynA(asidePath, journalled.Aside, sizeof asidePath);
    int replacement = journalled.Replacement;
    SetAside(targetPath, asidePath, &replacement, MoveFileForReplacement);
    if (!WriteContent(targetPath, content)) {
        ZorvaneException error(ErrWriteError, targetPath);
        MoveFileForReplacement(asidePath, targetPath, 0);
        throw error;
    }
    JournalFileMade(targetPath);
    ReleaseAside(asidePath);
}

// The new content's file version; false when it has none. Read from memory where the reader
// follows the image; the platform reads it from the expansion temporary otherwise.
bool ReadNewVersion(const NewContent& content, DWORD* high, DWORD* low)
{
    const HeldContent& held = *content.Held;
    if (held.Whole) {
        uint32_t readHigh = 0, readLow = 0;
        switch (ReadImageFileVersion(held.Data, held.Size, &readHigh, &readLow)) {
        case ImageVersionFound:
            *high = readHigh;
            *low = readLow;
            return true;
        case ImageVersionAbsent:
            return false;
        case ImageVersionUnknown:
            break;
        }
        content.Expanded->Rewind();
        content.Expanded->Write(held.Data, held.Size);
        content.Expanded->CutHere();
    }
    content.Expanded->Release();
    return ReadFileVersion(content.Expanded->FileName, high, low);
}

bool IsNewerVersion(const NewContent& content, const char* oldPath)
{
    DWORD newHigh, newLow, oldHigh, oldLow;
    if (!ReadNewVersion(content, &newHigh, &newLow) || !ReadFileVersion(oldPath, &oldHigh, &oldLow))
        return false;
    return (static_cast<ULONGLONG>(newHigh) << 32 | newLow) >
           (static_cast<ULONGLONG>(oldHigh) << 32 | oldLow);
}

} // namespace

BOOL(WINAPI* MoveFileForReplacement)(LPCSTR, LPCSTR, DWORD) = MoveFileExA;

void InstallExpandedFile(const NewContent& content, const char* targetPath, uint16_t mode, FileWriter& log,
                         const EntryJournal& journalled)
{
    DWORD attributes = GetFileAttributesA(targetPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Written directly: no file of the user's is to be kept whole. A failed copy is removed;
        // a file another program made meanwhile is left alone.
        WriteLogRecord(log, FileRecord, targetPath);
        if (!journalled.Created && !JournalFileCreation(targetPath))
            throw ZorvaneException(ErrWriteError, InstallJournalPath());
        if (!WriteContent(targetPath, content))
            throw ZorvaneException(ErrWriteError, targetPath);
        JournalFileMade(targetPath);
        return;
    }
    if (mode == KeepExisting || mode == ReplaceIfNewer) {
        // A file an uninstall left for the restart is the product's, and this installation keeps
        // it: logged, the restart's deletion is withdrawn once the install has succeeded.
        if (IsDeletedAtRestart(targetPath))
            WriteLogRecord(log, FileRecord, targetPath);
        if (mode == ReplaceIfNewer && IsNewerVersion(content, targetPath))
            ReplaceExisting(content, targetPath, journalled, attributes, false);
        return;
    }
    WriteLogRecord(log, FileRecord, targetPath);
    bool renamable = false;
    if (!HoldsContent(targetPath, attributes, *content.Held, &renamable))
        ReplaceExisting(content, targetPath, journalled, attributes, renamable);
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
