#include "payload/EntryExpansion.h"

#include "core/ZorvaneException.h"
#include "format/SzddFormat.h"

#include <exception>
#include <string.h>

namespace {

// Stored bytes move in chunks this large: each chunk is one read and one write, and under Wine
// every call costs more than the bytes it moves.
const DWORD CopyChunkSize = 64 * 1024;

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

} // namespace

DWORD(WINAPI* PaceClock)() = GetTickCount;
uint32_t ExpansionMemoryLimit = 16 * 1024 * 1024;

void OfferPacedStatus(PacedStatus* status, const char* text)
{
    if (OfferStatus(&status->Pace, text, PaceClock()) && status->Show != nullptr)
        status->Show(status->Context, status->Pace.Latest);
}

// A long entry's name goes up while it is written, not after: every step of a long write asks.
void ShowDueStatus(PacedStatus* status)
{
    if (status != nullptr && HeldStatusDue(&status->Pace, PaceClock()) && status->Show != nullptr)
        status->Show(status->Context, status->Pace.Latest);
}

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

void ReleaseHeld(HeldContent* held)
{
    if (held->Data != nullptr)
        HeapFree(GetProcessHeap(), 0, held->Data);
    *held = {};
}
