#include "format/PackageWalker.h"

#include <stdio.h>
#include <string.h>

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

} // namespace

void BeginPackageWalk(PackageWalker* walker, const ByteSource& source)
{
    memset(walker, 0, sizeof *walker);
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

const char* DescribePackageProblem(PackageProblem problem)
{
    switch (problem) {
    case PackageSound:
        return "sound";
    case PackageEmpty:
        return "no entries";
    case PackageBadEntry:
        return "invalid entry header";
    case PackageEntryCutShort:
        return "entry cut short";
    case PackageCorruptData:
        return "corrupt SZDD data";
    case PackageReadFailed:
        return "read error";
    case PackageWriteFailed:
        return "write error";
    }
    return "unknown problem";
}
