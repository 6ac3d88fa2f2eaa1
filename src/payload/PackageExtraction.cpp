#include "payload/PackageExtraction.h"

#include "core/AsideFiles.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"
#include "format/PackageFormat.h"
#include "payload/EntryExpansion.h"
#include "payload/EntryPlacement.h"
#include "payload/InstallLog.h"

#include <stdio.h>
#include <string.h>

namespace {

const char StoredPrefix[] = "~vt";
const char ExpandedPrefix[] = "~vx";

// Makes an empty temporary, prefix, four hex digits and ".tmp", in folder, into path (MAX_PATH
// bytes): its name goes into the journal before it is made, so that the next run deletes it when
// this one is cut. False, with the system's error, when none can be made.
bool MakeTemporary(const char* folder, const char* prefix, char* path)
{
    static unsigned next = GetTickCount();
    for (unsigned tries = 0; tries < 0x10000; ++tries) {
        unsigned unique = next++ & 0xFFFF;
        if (unique == 0 || GetTempFileNameA(folder, prefix, unique, path) == 0)
            continue;
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            continue;
        JournalTemporary(path);
        HANDLE file =
            CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

// Makes both temporaries, empty, in the user's temporary folder. On failure neither is left, and
// the error names the folder.
void MakeTemporaries(char* storedPath, char* expandedPath)
{
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0)
        throw ZorvaneException(ErrUnableToOpen, "%TEMP%");
    if (length >= sizeof folder) {
        // Asked again with room for the whole name, only to show it.
        char whole[4 * MAX_PATH];
        DWORD again = GetTempPathA(sizeof whole, whole);
        throw PathTooLong(ErrUnableToOpen, again > 0 && again < sizeof whole ? whole : "%TEMP%");
    }
    if (length > ReplaceableFolderLength) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        throw ZorvaneException(ErrUnableToOpen, folder);
    }
    if (!MakeTemporary(folder, StoredPrefix, storedPath))
        throw ZorvaneException(ErrUnableToOpen, folder);
    if (!MakeTemporary(folder, ExpandedPrefix, expandedPath)) {
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

// The entry's full target path in target (MAX_PATH bytes): in destination, or in the system
// folder for an '@' entry. Only for an entry that
// CheckPackageEntry found sound. A path that does not fit is a matter of the folder chosen, not of
// the package: ErrWriteError names it, with the system's "file name too long" text.
void ComposeTargetPath(const char* destination, const PackageEntry& entry, char* target)
{
    if (IsSystemFolderTarget(entry)) {
        UINT length = GetSystemDirectoryA(target, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            throw ZorvaneException(ErrWriteError, TargetRelativePath(entry));
    } else {
        lstrcpynA(target, destination, MAX_PATH);
    }
    if (!AppendPathComponent(target, TargetRelativePath(entry))) {
        char whole[MAX_PATH + PackageTextSize + 1];
        snprintf(whole, sizeof whole, "%s\\%s", target, TargetRelativePath(entry));
        throw PathTooLong(ErrWriteError, whole);
    }
}

// One entry, whose stored bytes come next in the package. Nothing is written for an entry that
// is unsound or whose data do not expand, so a failure never installs a wrong file.
void ExtractEntry(const char* destination, FileReader& package, FileWriter& log, const PackageEntry& entry,
                  ExpansionFile& expanded, HeldContent& held, PacedStatus& status,
                  const EntryJournal& journalled)
{
    if (CheckPackageEntry(entry) != EntryIsSound)
        throw ZorvaneException(ErrInvalidOrCorrupt, package.FileName);
    char targetPath[MAX_PATH];
    ComposeTargetPath(destination, entry, targetPath);

    OfferPacedStatus(&status, entry.DisplayText);
    PassStoredBytes(package, entry.StoredSize, nullptr, expanded, &held, &status);

    char folder[MAX_PATH];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    SplitPath(targetPath, folder, baseName, extension);
    int created = 0;
    if (!CreateFolderChain(folder, &created))
        throw ZorvaneException(ErrFailedToCreateFolder, folder);
    if (created)
        WriteLogRecord(log, FolderRecord, folder);

    InstallExpandedFile({&expanded, &held, &status}, targetPath, entry.OverwriteMode, log, journalled);
}

// The folders JournalEntryTargets looked at: a target in a missing folder is missing too, and a
// fresh install's thousand targets then cost a look per folder instead of one per file.
struct FolderLooks {
    char Folder[32][MAX_PATH];
    bool Exists[32];
    int Count;
};

bool IsKnownMissing(FolderLooks* looks, const char* folder)
{
    for (int i = 0; i < looks->Count; ++i)
        if (lstrcmpiA(looks->Folder[i], folder) == 0)
            return !looks->Exists[i];
    const int room = static_cast<int>(sizeof looks->Exists);
    if (looks->Count == room)
        return false;
    lstrcpynA(looks->Folder[looks->Count], folder, MAX_PATH);
    const bool missing = IsMissingFolder(folder);
    looks->Exists[looks->Count++] = !missing;
    return missing;
}

// The package's entries recorded in the journal in one batch, under one flush, before any of them
// is made: a missing target as created, an existing one (but KeepExisting's) as replaced, under an
// aside name chosen now; an entry that then replaces nothing leaves a record that undo and commit
// pass over. One per entry, counted from the package's start, in a heap block the caller frees
// (null when nothing was recorded). Stops at the first entry the extraction itself will refuse;
// the package is left at its start.
EntryJournal* JournalEntryTargets(const char* destination, FileReader& package, int* count)
{
    *count = 0;
    if (!InstallJournalActive())
        return nullptr;
    const DWORD start = package.Tell();
    DWORD size = package.Size();
    int room = 16;
    EntryJournal* recorded = static_cast<EntryJournal*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, room * sizeof(EntryJournal)));
    FolderLooks folders;
    folders.Count = 0;
    BeginJournalBatch();
    for (DWORD at = start; recorded != nullptr && size - at >= PackageEntrySize;) {
        unsigned char bytes[PackageEntrySize];
        package.Seek(static_cast<LONG>(at), FILE_BEGIN);
        package.Read(bytes, sizeof bytes);
        PackageEntry entry;
        DecodePackageEntry(bytes, &entry);
        if (CheckPackageEntry(entry) != EntryIsSound || entry.StoredSize < 0 ||
            static_cast<DWORD>(entry.StoredSize) > size - at - PackageEntrySize)
            break;
        char targetPath[MAX_PATH];
        try {
            ComposeTargetPath(destination, entry, targetPath);
        } catch (const ZorvaneException&) {
            break;
        }
        if (*count == room) {
            void* more =
                HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, recorded, 2 * room * sizeof(EntryJournal));
            if (more == nullptr)
                break;
            recorded = static_cast<EntryJournal*>(more);
            room *= 2;
        }
        EntryJournal& journalled = recorded[*count];
        journalled.Replacement = -1;
        char folder[MAX_PATH];
        char baseName[MAX_PATH];
        char extension[MAX_PATH];
        SplitPath(targetPath, folder, baseName, extension);
        // A missing folder's chain is recorded the first time, before the first file in it.
        const int looked = folders.Count;
        const bool inMissingFolder = IsKnownMissing(&folders, folder);
        if (inMissingFolder && folders.Count > looked && !JournalMissingFolders(folder))
            break;
        DWORD attributes = inMissingFolder ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(targetPath);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!JournalFileCreation(targetPath))
                break;
            journalled.Created = true;
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && entry.OverwriteMode != KeepExisting) {
            if (strlen(folder) > ReplaceableFolderLength || !ChooseAsideName(targetPath, journalled.Aside))
                journalled.Aside[0] = '\0'; // chosen and recorded when it is replaced, if ever
            else if (!JournalReplacement(targetPath, journalled.Aside, &journalled.Replacement))
                break;
        }
        ++*count;
        at += PackageEntrySize + static_cast<DWORD>(entry.StoredSize);
    }
    package.Seek(static_cast<LONG>(start), FILE_BEGIN);
    if (!EndJournalBatch()) {
        if (recorded != nullptr)
            HeapFree(GetProcessHeap(), 0, recorded);
        throw ZorvaneException(ErrWriteError, InstallJournalPath());
    }
    return recorded;
}

// Whole percent of the package read; 64-bit, as position times 100 overflows 32 bits beyond 42 MB.
unsigned PercentRead(DWORD position, DWORD size)
{
    return size == 0 ? 0 : static_cast<unsigned>(static_cast<ULONGLONG>(position) * 100 / size);
}

// Gives back what an extraction held: the journal's entries, the memory, both temporaries.
void ReleaseExtraction(EntryJournal* entryJournal, HeldContent* held, const char* storedPath,
                       const char* expandedPath)
{
    if (entryJournal != nullptr)
        HeapFree(GetProcessHeap(), 0, entryJournal);
    ReleaseHeld(held);
    DeleteFileA(storedPath);
    DeleteFileA(expandedPath);
}

} // namespace

ExtractionEnd ExtractPackageInto(const char* destination, FileReader& package, FileWriter& log,
                                 const ExtractionProgress& progress)
{
    DWORD packageSize = package.Size();
    char storedPath[MAX_PATH];
    char expandedPath[MAX_PATH];
    MakeTemporaries(storedPath, expandedPath);
    HeldContent held = {};
    int journalled = 0;
    EntryJournal* entryJournal = nullptr;
    ExtractionEnd end = ExtractionEnd::Completed;
    try {
        entryJournal = JournalEntryTargets(destination, package, &journalled);
        int index = 0;
        ExpansionFile expanded(expandedPath);
        unsigned char bytes[PackageEntrySize];
        package.Read(bytes, sizeof bytes); // an empty package is an error, not an empty install
        PackageEntry entry;
        DecodePackageEntry(bytes, &entry);
        PacedStatus status = {progress.ShowStatus, progress.Context, {}};
        StartStatusPace(&status.Pace);
        unsigned shownPercent = ~0u;
        do {
            // Between entries: a stop never leaves a file half written.
            if (progress.StopRequested != nullptr && progress.StopRequested(progress.Context)) {
                end = ExtractionEnd::Stopped;
                break;
            }
            static const EntryJournal unrecorded = {false, "", -1};
            ExtractEntry(destination, package, log, entry, expanded, held, status,
                         index < journalled ? entryJournal[index] : unrecorded);
            ++index;
            unsigned percent = PercentRead(package.Tell(), packageSize);
            if (percent != shownPercent) {
                if (progress.ShowPercent != nullptr)
                    progress.ShowPercent(progress.Context, percent);
                shownPercent = percent;
            }
        } while (ReadNextHeader(package, &entry));
        if (end == ExtractionEnd::Completed && TakeHeldStatus(&status.Pace) && status.Show != nullptr)
            status.Show(status.Context, status.Pace.Latest);
    } catch (const ZorvaneException&) {
        ReleaseExtraction(entryJournal, &held, storedPath, expandedPath);
        throw;
    }
    ReleaseExtraction(entryJournal, &held, storedPath, expandedPath);
    return end;
}
