#include "payload/PackageExtraction.h"

#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/SystemLibraries.h"
#include "core/ZorvaneException.h"
#include "core/SetupState.h"
#include "core/UserMessages.h"
#include "format/PackageFormat.h"
#include "format/SzddFormat.h"
#include "format/VersionResource.h"
#include "payload/InstallLog.h"
#include "payload/BootTimeDeletion.h"
#include "ui/ProgressDisplay.h"

#include <exception>
#include <stdio.h>
#include <string.h>

namespace {

const char StoredPrefix[] = "~vt";
const char ExpandedPrefix[] = "~vx";
// Stored bytes move in chunks this large: each chunk is one read and one write, and under Wine
// every call costs more than the bytes it moves.
const DWORD CopyChunkSize = 64 * 1024;

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

// The entry's full target path in target (MAX_PATH bytes). Only for an entry that
// CheckPackageEntry found sound. A path that does not fit is a matter of the folder chosen, not of
// the package: ErrWriteError names it, with the system's "file name too long" text.
void ComposeTargetPath(const PackageEntry& entry, char* target)
{
    if (IsSystemFolderTarget(entry)) {
        UINT length = GetSystemDirectoryA(target, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            throw ZorvaneException(ErrWriteError, TargetRelativePath(entry));
    } else {
        lstrcpynA(target, DestinationFolder, MAX_PATH);
    }
    if (!AppendPathComponent(target, TargetRelativePath(entry))) {
        char whole[MAX_PATH + PackageTextSize + 1];
        snprintf(whole, sizeof whole, "%s\\%s", target, TargetRelativePath(entry));
        throw PathTooLong(ErrWriteError, whole);
    }
}

// A long entry's name goes up while it is written, not after: every step of a long write asks.
void ShowDueStatus(PacedStatus* status)
{
    if (status != nullptr && HeldStatusDue(&status->Pace, PaceClock()))
        SetProgressStatus(status->Progress, status->Pace.Latest);
}

// One entry's stored bytes on their single pass: each chunk read from the package goes on to the
// expansion (and to a copy of the stored bytes, when one is asked for), which writes the content
// into memory when it fits there and into the expansion temporary otherwise. Errors of the files
// are kept here while the expander runs and raised once it has returned.
struct EntryStream {
    FileReader* Package;
    FileWriter* Stored; // may be null: nobody reads the stored bytes again
    ExpansionFile* Expanded;
    HeldContent* Held; // keeps the content instead of Expanded when Held->Whole; may be null
    bool InMemory;
    PacedStatus* Status;       // may be null
    int32_t Left;              // stored bytes not yet read from the package
    const unsigned char* Lead; // the bytes of Chunk not yet handed on
    size_t LeadSize;
    std::exception_ptr StoredFault;   // the package or the stored-bytes temporary failed
    std::exception_ptr ExpandedFault; // the expansion temporary failed
    unsigned char Chunk[CopyChunkSize];
};

// Reads the next chunk of stored bytes into Chunk and writes it to the stored-bytes temporary;
// 0 at the end of the stored bytes or after a failure.
size_t PassChunk(EntryStream* stream)
{
    if (stream->Left <= 0 || stream->StoredFault)
        return 0;
    DWORD chunk =
        static_cast<DWORD>(stream->Left) < CopyChunkSize ? static_cast<DWORD>(stream->Left) : CopyChunkSize;
    try {
        stream->Package->Read(stream->Chunk, chunk);
        if (stream->Stored != nullptr)
            stream->Stored->Write(stream->Chunk, chunk);
    } catch (const ZorvaneException&) {
        stream->StoredFault = std::current_exception();
        return 0;
    }
    stream->Left -= static_cast<int32_t>(chunk);
    ShowDueStatus(stream->Status);
    return chunk;
}

size_t ReadStored(void* context, unsigned char* buffer, size_t count, bool* failed)
{
    EntryStream* stream = static_cast<EntryStream*>(context);
    if (stream->LeadSize == 0) {
        size_t got = PassChunk(stream);
        stream->Lead = stream->Chunk;
        stream->LeadSize = got;
        if (got == 0) {
            *failed = *failed || static_cast<bool>(stream->StoredFault);
            return 0;
        }
    }
    size_t taken = count < stream->LeadSize ? count : stream->LeadSize;
    memcpy(buffer, stream->Lead, taken);
    stream->Lead += taken;
    stream->LeadSize -= taken;
    return taken;
}

bool WriteExpanded(void* context, const unsigned char* data, size_t count)
{
    EntryStream* stream = static_cast<EntryStream*>(context);
    if (stream->InMemory) {
        HeldContent* held = stream->Held;
        // More than announced: the data are refused.
        if (count > held->Room - held->Size)
            return false;
        memcpy(held->Data + held->Size, data, count);
        held->Size += static_cast<uint32_t>(count);
        return true;
    }
    try {
        stream->Expanded->Write(data, static_cast<DWORD>(count));
    } catch (const ZorvaneException&) {
        stream->ExpandedFault = std::current_exception();
        return false;
    }
    return true;
}

// Makes held ready to keep length bytes, or marks it as not holding this entry when they are
// too many or the memory cannot be had (the expansion temporary holds them instead).
void PrepareHeld(HeldContent* held, uint32_t length)
{
    held->Size = 0;
    held->Whole = length <= ExpansionMemoryLimit;
    if (!held->Whole || length <= held->Room || length == 0)
        return;
    void* grown = held->Data == nullptr ? HeapAlloc(GetProcessHeap(), 0, length)
                                        : HeapReAlloc(GetProcessHeap(), 0, held->Data, length);
    if (grown == nullptr) {
        held->Whole = false;
        return;
    }
    held->Data = static_cast<unsigned char*>(grown);
    held->Room = length;
}

// The largest expanded length the platform's expansion reports: it answers in a signed 32-bit count.
const uint32_t MaxExpandedLength = 0x7FFFFFFF;

// True when the file at path (of the given attributes) holds exactly held's content, with
// nothing but the normal attributes: such a file is left as it is rather than written again.
// Content too large to be held is not compared.
bool HoldsContent(const char* path, DWORD attributes, const HeldContent& held)
{
    if (!held.Whole || (attributes & ~(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL)) != 0)
        return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool same = GetFileSizeEx(file, &size) && size.QuadPart == held.Size;
    static unsigned char buffer[CopyChunkSize]; // one extraction at a time; kept off the stack
    for (uint32_t at = 0; same && at < held.Size;) {
        DWORD want = held.Size - at < CopyChunkSize ? held.Size - at : CopyChunkSize;
        DWORD got = 0;
        same = ReadFile(file, buffer, want, &got, nullptr) && got == want &&
               memcmp(buffer, held.Data + at, got) == 0;
        at += got;
    }
    CloseHandle(file);
    return same;
}

// An entry's expanded content: in memory when Held->Whole, else in the expansion temporary.
struct NewContent {
    ExpansionFile* Expanded;
    const HeldContent* Held;
    PacedStatus* Status;
};

// Writes content into a new file at targetPath, which must not exist; false, with the system's
// error, when it cannot be made or written (a partial file is removed).
bool WriteContent(const char* targetPath, const NewContent& content)
{
    return content.Held->Whole ? WriteNewFile(targetPath, *content.Held, content.Status)
                               : content.Expanded->CopyToNewFile(targetPath, content.Status);
}

// What the journal holds of an entry before it is extracted (JournalEntryTargets).
struct EntryJournal {
    bool Created;         // its missing target is recorded as created
    char Aside[MAX_PATH]; // its existing target is recorded as replaced with this aside name; or ""
};

// Puts the content at targetPath over the file there so that the old file is never lost: it is
// renamed aside in its own folder first (the system renames a file others hold open while sharing
// everything, an indexer or a viewer, where it would not rename over it), and the new file is
// written under the target's name. The old file is kept until the run succeeds (ReleaseAside).
// When the new file cannot be written, it is removed and the old one takes its name again.
// ErrWriteError names the target (or the journal that could not record).
void ReplaceExisting(const NewContent& content, const char* targetPath, const EntryJournal& journalled)
{
    // A read-only file, or one another program holds so that it cannot be replaced, is reported
    // before anything is written. Programs that share everything (indexers, viewers) do not count:
    // the probe asks for what a replacement needs and shares what they share.
    DWORD attributes = GetFileAttributesA(targetPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // As the system refuses to write it, whatever rights this process may hold.
        SetLastError(ERROR_ACCESS_DENIED);
        throw ZorvaneException(ErrWriteError, targetPath);
    }
    HANDLE probe = CreateFileA(targetPath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
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
    char asidePath[MAX_PATH];
    // Recorded ahead with the batch, under a name still free; otherwise recorded now.
    if (journalled.Aside[0] != '\0' && GetFileAttributesA(journalled.Aside) == INVALID_FILE_ATTRIBUTES) {
        lstrcpynA(asidePath, journalled.Aside, sizeof asidePath);
    } else {
        if (!ChooseAsideName(targetPath, asidePath))
            throw ZorvaneException(ErrWriteError, targetPath);
        if (!JournalReplacement(targetPath, asidePath))
            throw ZorvaneException(ErrWriteError, InstallJournalPath());
    }
    if (!MoveFileForReplacement(targetPath, asidePath, 0))
        throw ZorvaneException(ErrWriteError, targetPath);
    JournalTraceEvent("rename aside", targetPath);
    JournalChangeDone();
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

// Puts the expanded content in place by the entry's overwrite rule. Only files the removal is to
// take away again are logged: new ones, those replaced unconditionally and those an uninstall
// left for the restart (IsDeletedAtRestart, when noted before); the record goes
// first, so a file in place is never missing from the log. A target that already holds exactly
// the content is left as it is.
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
            ReplaceExisting(content, targetPath, journalled);
        return;
    }
    WriteLogRecord(log, FileRecord, targetPath);
    if (!HoldsContent(targetPath, attributes, *content.Held))
        ReplaceExisting(content, targetPath, journalled);
}

// One entry, whose stored bytes come next in the package. Nothing is written for an entry that
// is unsound or whose data do not expand, so a failure never installs a wrong file.
void ExtractEntry(FileReader& package, FileWriter& log, const PackageEntry& entry, ExpansionFile& expanded,
                  HeldContent& held, PacedStatus& status, const EntryJournal& journalled)
{
    if (CheckPackageEntry(entry) != EntryIsSound)
        throw ZorvaneException(ErrInvalidOrCorrupt, package.FileName);
    char targetPath[MAX_PATH];
    ComposeTargetPath(entry, targetPath);

    if (OfferStatus(&status.Pace, entry.DisplayText, PaceClock()))
        SetProgressStatus(status.Progress, status.Pace.Latest);
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

// The package's entries recorded in the journal in one batch, under one flush, before any of them
// is made: a missing target as created, an existing one (but KeepExisting's) as replaced, under an
// aside name chosen now; an entry that then replaces nothing leaves a record that undo and commit
// pass over. One per entry, counted from the package's start, in a heap block the caller frees
// (null when nothing was recorded). Stops at the first entry the extraction itself will refuse;
// the package is left at its start.
EntryJournal* JournalEntryTargets(FileReader& package, int* count)
{
    *count = 0;
    if (!InstallJournalActive())
        return nullptr;
    const DWORD start = package.Tell();
    DWORD size = package.Size();
    int room = 16;
    EntryJournal* recorded = static_cast<EntryJournal*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, room * sizeof(EntryJournal)));
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
            ComposeTargetPath(entry, targetPath);
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
        DWORD attributes = GetFileAttributesA(targetPath);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!JournalFileCreation(targetPath))
                break;
            journalled.Created = true;
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && entry.OverwriteMode != KeepExisting) {
            char folder[MAX_PATH];
            char baseName[MAX_PATH];
            char extension[MAX_PATH];
            SplitPath(targetPath, folder, baseName, extension);
            if (strlen(folder) <= ReplaceableFolderLength && ChooseAsideName(targetPath, journalled.Aside) &&
                !JournalReplacement(targetPath, journalled.Aside))
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

void ReleaseHeld(HeldContent* held)
{
    if (held->Data != nullptr)
        HeapFree(GetProcessHeap(), 0, held->Data);
    *held = {};
}

// Whole percent of the package read; 64-bit, as position times 100 overflows 32 bits beyond 42 MB.
unsigned PercentRead(DWORD position, DWORD size)
{
    return size == 0 ? 0 : static_cast<unsigned>(static_cast<ULONGLONG>(position) * 100 / size);
}

} // namespace

BOOL(WINAPI* MoveFileForReplacement)(LPCSTR, LPCSTR, DWORD) = MoveFileExA;
DWORD(WINAPI* PaceClock)() = GetTickCount;

void ExtractPackage(HWND progress, FileReader& package, FileWriter& log, bool (*stopRequested)())
{
    DWORD packageSize = package.Size();
    char storedPath[MAX_PATH];
    char expandedPath[MAX_PATH];
    MakeTemporaries(storedPath, expandedPath);
    HeldContent held = {};
    int journalled = 0;
    EntryJournal* entryJournal = nullptr;
    try {
        entryJournal = JournalEntryTargets(package, &journalled);
        int index = 0;
        ExpansionFile expanded(expandedPath);
        unsigned char bytes[PackageEntrySize];
        package.Read(bytes, sizeof bytes); // an empty package is an error, not an empty install
        PackageEntry entry;
        DecodePackageEntry(bytes, &entry);
        PacedStatus status;
        status.Progress = progress;
        StartStatusPace(&status.Pace);
        unsigned shownPercent = ~0u;
        do {
            // Between entries: a stop never leaves a file half written.
            if (stopRequested != nullptr && stopRequested())
                throw ZorvaneException(ErrOwnText, CancelledText);
            static const EntryJournal unrecorded = {};
            ExtractEntry(package, log, entry, expanded, held, status,
                         index < journalled ? entryJournal[index] : unrecorded);
            ++index;
            unsigned percent = PercentRead(package.Tell(), packageSize);
            if (percent != shownPercent) {
                SetProgressPosition(progress, percent);
                shownPercent = percent;
            }
        } while (ReadNextHeader(package, &entry));
        if (TakeHeldStatus(&status.Pace))
            SetProgressStatus(progress, status.Pace.Latest);
    } catch (const ZorvaneException&) {
        if (entryJournal != nullptr)
            HeapFree(GetProcessHeap(), 0, entryJournal);
        ReleaseHeld(&held);
        DeleteFileA(storedPath);
        DeleteFileA(expandedPath);
        throw;
    }
    if (entryJournal != nullptr)
        HeapFree(GetProcessHeap(), 0, entryJournal);
    ReleaseHeld(&held);
    DeleteFileA(storedPath);
    DeleteFileA(expandedPath);
}

uint32_t ExpansionMemoryLimit = 16 * 1024 * 1024;

bool WriteNewFile(const char* targetPath, const HeldContent& held, PacedStatus* status)
{
    HANDLE target =
        CreateFileA(targetPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE)
        return false;
    const uint32_t piece = 1024 * 1024;
    bool written = true;
    for (uint32_t at = 0; written && at < held.Size; at += piece) {
        written = WriteAll(target, held.Data + at, held.Size - at < piece ? held.Size - at : piece);
        ShowDueStatus(status);
    }
    DWORD error = GetLastError();
    CloseHandle(target);
    if (!written) {
        DeleteFileA(targetPath);
        SetLastError(error);
    }
    return written;
}

void PassStoredBytes(FileReader& package, int32_t storedSize, FileWriter* stored, ExpansionFile& expanded,
                     HeldContent* held, PacedStatus* status)
{
    // One for the process (one extraction at a time): a block this large, taken and given back
    // for every entry, costs the system a mapping and a TLB flush each time.
    static EntryStream shared;
    EntryStream* stream = &shared;
    stream->StoredFault = nullptr;
    stream->ExpandedFault = nullptr;
    stream->Package = &package;
    stream->Stored = stored;
    stream->Status = status;
    stream->Expanded = &expanded;
    stream->Held = held;
    stream->Left = storedSize;
    stream->Lead = stream->Chunk;
    stream->LeadSize = PassChunk(stream);
    if (stream->StoredFault)
        std::rethrow_exception(stream->StoredFault);

    const bool compressed = LooksCompressed(stream->Chunk, stream->LeadSize);
    SzddHeader header = {};
    if (compressed)
        DecodeSzddHeader(stream->Chunk, &header);
    if (held != nullptr)
        PrepareHeld(held, compressed ? header.ExpandedLength
                                     : static_cast<uint32_t>(storedSize > 0 ? storedSize : 0));
    stream->InMemory = held != nullptr && held->Whole;
    if (!stream->InMemory)
        expanded.Rewind();
    bool sound = true;
    if (compressed) {
        SzddReport report;
        sound = header.ExpandedLength <= MaxExpandedLength &&
                ExpandSzddEndingAs({ReadStored, stream}, {WriteExpanded, stream}, &report,
                                   SzddNoFurtherItem) == SzddOk;
    } else {
        while (stream->LeadSize > 0 && WriteExpanded(stream, stream->Lead, stream->LeadSize))
            stream->LeadSize = PassChunk(stream);
    }
    if (stream->StoredFault)
        std::rethrow_exception(stream->StoredFault);
    // What the expansion left unread, so that a package cut short is reported as such.
    while (PassChunk(stream) > 0) {
    }
    if (stream->StoredFault)
        std::rethrow_exception(stream->StoredFault);
    if (stream->ExpandedFault)
        std::rethrow_exception(stream->ExpandedFault);
    if (!stream->InMemory)
        expanded.CutHere();
    if (!sound)
        throw ZorvaneException(ErrInvalidOrCorrupt, package.FileName);
}

ExpansionFile::ExpansionFile(const char* path) : Handle(INVALID_HANDLE_VALUE), Written(0), Length(Unknown)
{
    lstrcpynA(FileName, path, sizeof FileName);
}

ExpansionFile::~ExpansionFile() { Release(); }

void ExpansionFile::Rewind()
{
    if (Handle == INVALID_HANDLE_VALUE) {
        Handle = CreateFileA(FileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (Handle == INVALID_HANDLE_VALUE)
            throw ZorvaneException(ErrUnableToOpen, FileName);
        Length = Unknown;
    }
    if (SetFilePointer(Handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        throw ZorvaneException(ErrWriteError, FileName);
    Written = 0;
}

void ExpansionFile::Write(const void* data, DWORD count)
{
    if (count > 0 && !WriteAll(Handle, data, count))
        throw ZorvaneException(ErrWriteError, FileName);
    Written += count;
}

void ExpansionFile::CutHere()
{
    // Only a shorter content leaves bytes of the last one behind; a longer or equal one has
    // covered them all, and under Wine a cut is a round trip to the server.
    if ((Length == Unknown || Written < Length) && !SetEndOfFile(Handle))
        throw ZorvaneException(ErrWriteError, FileName);
    Length = Written;
}

bool ExpansionFile::CopyToNewFile(const char* targetPath, PacedStatus* status)
{
    if (Handle == INVALID_HANDLE_VALUE) {
        // Let go while its version was read by name.
        Handle = CreateFileA(FileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        Length = Unknown;
    }
    if (Handle == INVALID_HANDLE_VALUE ||
        SetFilePointer(Handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    HANDLE target =
        CreateFileA(targetPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE)
        return false;
    static char buffer[CopyChunkSize]; // one extraction at a time; kept off the stack
    bool copied = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(Handle, buffer, sizeof buffer, &got, nullptr)) {
            copied = false;
            break;
        }
        if (got == 0)
            break;
        if (!WriteAll(target, buffer, got)) {
            copied = false;
            break;
        }
        ShowDueStatus(status);
    }
    CloseHandle(target);
    if (!copied) {
        DWORD error = GetLastError();
        DeleteFileA(targetPath);
        SetLastError(error);
    }
    return copied;
}

void ExpansionFile::Release()
{
    if (Handle != INVALID_HANDLE_VALUE)
        CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
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
