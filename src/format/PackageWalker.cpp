#include "format/PackageWalker.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <utility>

enum SlotKind : unsigned char { SlotFree, SlotFile, SlotFolder };

struct TargetSlot {
    char Key[PackageTextSize]; // zero-padded
    uint32_t Entry;            // the first entry that put the name here
    SlotKind Kind;
};

TargetTable::~TargetTable() { free(Slots); }

TargetTable& TargetTable::operator=(TargetTable&& other) noexcept
{
    if (this != &other) {
        free(Slots);
        Slots = other.Slots;
        Capacity = other.Capacity;
        Count = other.Count;
        other.Slots = nullptr;
        other.Capacity = 0;
        other.Count = 0;
    }
    return *this;
}

namespace {

const size_t CopyChunk = 32768;

// Every package read goes through here, so Offset stays exact.
size_t ReadPackage(void* context, unsigned char* buffer, size_t count, bool* failed)
{
    PackageWalker* walker = static_cast<PackageWalker*>(context);
    size_t got = walker->Source.Read(walker->Source.Context, buffer, count, failed);
    walker->Offset += got;
    return got;
}

// The stored bytes already read to classify the entry, then the rest from the package.
struct ContentReader {
    const unsigned char* Lead;
    size_t LeadSize;
    size_t LeadPosition;
    BoundedReader Rest;
};

size_t ReadContent(void* context, unsigned char* buffer, size_t count, bool* failed)
{
    ContentReader* reader = static_cast<ContentReader*>(context);
    if (reader->LeadPosition < reader->LeadSize) {
        size_t left = reader->LeadSize - reader->LeadPosition;
        size_t take = count < left ? count : left;
        memcpy(buffer, reader->Lead + reader->LeadPosition, take);
        reader->LeadPosition += take;
        return take;
    }
    ByteSource rest = BoundedSource(&reader->Rest);
    return rest.Read(rest.Context, buffer, count, failed);
}

bool Stop(PackageWalker* walker, PackageProblem problem, const char* detail)
{
    walker->Problem = problem;
    snprintf(walker->Detail, sizeof walker->Detail, "%s", detail);
    return false;
}

bool StopCutShort(PackageWalker* walker, bool readFailed)
{
    if (readFailed)
        return Stop(walker, PackageReadFailed, "read error");
    char detail[sizeof walker->Detail];
    snprintf(detail, sizeof detail, "entry cut short: %lu stored bytes announced, the package ends after %lu",
             static_cast<unsigned long>(walker->StoredCount),
             static_cast<unsigned long>(walker->StoredCount - walker->ContentLeft));
    return Stop(walker, PackageEntryCutShort, detail);
}

// Reads and drops what is left of the current entry's stored bytes.
bool SkipContent(PackageWalker* walker)
{
    unsigned char buffer[4096];
    bool failed = false;
    while (walker->ContentLeft > 0) {
        size_t want = walker->ContentLeft < sizeof buffer ? walker->ContentLeft : sizeof buffer;
        size_t got = ReadPackage(walker, buffer, want, &failed);
        if (got == 0)
            return StopCutShort(walker, failed);
        walker->ContentLeft -= static_cast<uint32_t>(got);
    }
    return true;
}

// FNV-1a.
size_t HashKey(const char* key, size_t length)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ static_cast<unsigned char>(key[i])) * 16777619u;
    return hash;
}

// The slot holding the key of length bytes, or the free slot where it goes. The table always has
// free slots (see MakeRoom).
TargetSlot* FindSlot(const TargetTable& table, const char* key, size_t length)
{
    size_t mask = table.Capacity - 1;
    for (size_t i = HashKey(key, length) & mask;; i = (i + 1) & mask) {
        TargetSlot* slot = &table.Slots[i];
        if (slot->Kind == SlotFree || (memcmp(slot->Key, key, length) == 0 && slot->Key[length] == '\0'))
            return slot;
    }
}

// Grows the table so that `more` keys fit with half of it still free. False when out of memory.
bool MakeRoom(TargetTable* table, size_t more)
{
    size_t needed = (table->Count + more) * 2;
    if (needed <= table->Capacity)
        return true;
    if (needed > SIZE_MAX / 2 / sizeof(TargetSlot))
        return false;
    size_t capacity = table->Capacity > 0 ? table->Capacity : 64;
    while (capacity < needed)
        capacity *= 2;
    TargetTable grown;
    grown.Slots = static_cast<TargetSlot*>(calloc(capacity, sizeof(TargetSlot)));
    if (grown.Slots == nullptr)
        return false;
    grown.Capacity = capacity;
    grown.Count = table->Count;
    for (size_t i = 0; i < table->Capacity; ++i) {
        const TargetSlot& slot = table->Slots[i];
        if (slot.Kind != SlotFree)
            *FindSlot(grown, slot.Key, strlen(slot.Key)) = slot;
    }
    *table = std::move(grown);
    return true;
}

void Keep(TargetTable* table, const char* key, size_t length, SlotKind kind, uint32_t entry)
{
    TargetSlot* slot = FindSlot(*table, key, length);
    if (slot->Kind != SlotFree)
        return;
    memcpy(slot->Key, key, length);
    slot->Entry = entry;
    slot->Kind = kind;
    table->Count++;
}

// A file where another entry needs a folder stops the setup program, whichever comes first. Names
// compare as Windows compares them: letter case ignored, either slash a separator; system-folder
// targets only meet each other. For a sound entry only.
bool CheckTargetAgainstEarlier(PackageWalker* walker)
{
    // The key: "@\" before a system-folder name (no other target begins with '@'), then the name
    // in lower case with backslashes; `shown` holds the same as stored, for the message.
    char key[PackageTextSize];
    char shown[PackageTextSize];
    size_t start = IsSystemFolderTarget(walker->Entry) ? SystemFolderNameOffset : 0;
    snprintf(shown, sizeof shown, "%s%s", start > 0 ? "@\\" : "", TargetRelativePath(walker->Entry));
    size_t length = strlen(shown);
    size_t folders = 0;
    for (size_t i = 0; i <= length; ++i) {
        char c = shown[i] == '/' ? '\\' : shown[i];
        key[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        folders += i >= start && key[i] == '\\';
    }
    if (!MakeRoom(&walker->Targets, folders + 1))
        return Stop(walker, PackageOutOfMemory, "not enough memory to keep the targets seen so far");

    char detail[sizeof walker->Detail];
    for (size_t end = start; end < length; ++end) {
        if (key[end] != '\\')
            continue;
        const TargetSlot* slot = FindSlot(walker->Targets, key, end);
        if (slot->Kind == SlotFile) {
            snprintf(detail, sizeof detail, "the target needs the folder '%.*s', where entry %lu puts a file",
                     static_cast<int>(end), shown, static_cast<unsigned long>(slot->Entry));
            return Stop(walker, PackageTargetConflict, detail);
        }
    }
    const TargetSlot* self = FindSlot(walker->Targets, key, length);
    if (self->Kind == SlotFolder) {
        snprintf(detail, sizeof detail, "the target names a folder that entry %lu needs for its file",
                 static_cast<unsigned long>(self->Entry));
        return Stop(walker, PackageTargetConflict, detail);
    }

    for (size_t end = start; end < length; ++end)
        if (key[end] == '\\')
            Keep(&walker->Targets, key, end, SlotFolder, walker->Index);
    Keep(&walker->Targets, key, length, SlotFile, walker->Index);
    return true;
}

} // namespace

void BeginPackageWalk(PackageWalker* walker, const ByteSource& source)
{
    *walker = PackageWalker();
    walker->Source = source;
    walker->ContentTaken = true;
}

bool NextPackageEntry(PackageWalker* walker)
{
    if (walker->Problem != PackageSound)
        return false;
    if (walker->Count > 0 && !walker->ContentTaken && !SkipContent(walker))
        return false;

    unsigned char header[PackageEntrySize];
    bool failed = false;
    uint64_t headerOffset = walker->Offset;
    ByteSource package = {ReadPackage, walker};
    size_t got = ReadFully(package, header, sizeof header, &failed);
    if (failed)
        return Stop(walker, PackageReadFailed, "read error");
    if (got < sizeof header) {
        if (walker->Count == 0) {
            walker->Index = 0;
            walker->EntryOffset = headerOffset;
            return Stop(walker, PackageEmpty,
                        got == 0 ? "the package is empty" : "the package is shorter than one entry header");
        }
        walker->TrailingBytes = static_cast<uint32_t>(got);
        return false;
    }

    walker->Index = walker->Count++;
    walker->EntryOffset = headerOffset;
    DecodePackageEntry(header, &walker->Entry);
    walker->NegativeStoredSize = walker->Entry.StoredSize < 0;
    walker->StoredCount = StoredByteCount(walker->Entry);
    walker->ContentLeft = walker->StoredCount;
    walker->ContentTaken = false;
    walker->LeadSize = 0;
    walker->Compressed = false;
    walker->ExpandedSize = walker->StoredCount;

    walker->Fault = CheckPackageEntry(walker->Entry);
    if (walker->Fault != EntryIsSound)
        return Stop(walker, PackageBadEntry, DescribeEntryFault(walker->Fault));
    if (!CheckTargetAgainstEarlier(walker))
        return false;

    size_t lead = walker->StoredCount < SzddHeaderSize ? walker->StoredCount : SzddHeaderSize;
    walker->LeadSize = ReadFully(package, walker->Lead, lead, &failed);
    walker->ContentLeft -= static_cast<uint32_t>(walker->LeadSize);
    if (walker->LeadSize < lead)
        return StopCutShort(walker, failed);
    if (LooksCompressed(walker->Lead, walker->LeadSize)) {
        SzddHeader szdd;
        DecodeSzddHeader(walker->Lead, &szdd);
        walker->Compressed = true;
        walker->ExpandedSize = szdd.ExpandedLength;
        if (szdd.ExpandedLength > MaxExpandedEntrySize) {
            char detail[sizeof walker->Detail];
            snprintf(detail, sizeof detail,
                     "corrupt SZDD data: the header announces %lu bytes, more than the 2147483647 the setup "
                     "program expands",
                     static_cast<unsigned long>(szdd.ExpandedLength));
            return Stop(walker, PackageCorruptData, detail);
        }
    }
    return true;
}

bool ReadEntryContent(PackageWalker* walker, const ByteSink& sink)
{
    if (walker->Problem != PackageSound || walker->ContentTaken)
        return false;
    walker->ContentTaken = true;
    ContentReader reader = {
        walker->Lead, walker->LeadSize, 0, {{ReadPackage, walker}, walker->ContentLeft, false}};
    ByteSource content = {ReadContent, &reader};

    if (walker->Compressed) {
        SzddStatus status = ExpandSzdd(content, sink, &walker->Szdd);
        walker->ContentLeft = static_cast<uint32_t>(reader.Rest.Remaining);
        if (status == SzddOk)
            return true;
        if (status == SzddWriteFailed)
            return Stop(walker, PackageWriteFailed, "the content could not be written");
        if (reader.Rest.InnerEnded && reader.Rest.Remaining > 0)
            return StopCutShort(walker, status == SzddReadFailed);
        char detail[sizeof walker->Detail];
        if (status == SzddTrailingData)
            snprintf(detail, sizeof detail,
                     "corrupt SZDD data: stored bytes continue after the compressed data");
        else
            snprintf(detail, sizeof detail, "corrupt SZDD data: %s", walker->Szdd.Detail);
        return Stop(walker, status == SzddReadFailed ? PackageReadFailed : PackageCorruptData, detail);
    }

    unsigned char buffer[CopyChunk];
    bool failed = false;
    for (;;) {
        size_t got = content.Read(content.Context, buffer, sizeof buffer, &failed);
        walker->ContentLeft = static_cast<uint32_t>(reader.Rest.Remaining);
        if (got == 0)
            break;
        if (!sink.Write(sink.Context, buffer, got))
            return Stop(walker, PackageWriteFailed, "the content could not be written");
    }
    if (walker->ContentLeft > 0)
        return StopCutShort(walker, failed);
    return true;
}
