// Reads a package front to back as the setup program does: header, stored bytes, next header,
// until a whole header can no longer be read. Yields each entry with its index and offset and
// stops at the first problem. Besides fixed-size buffers it keeps only the targets seen so far
// (and their folders), to find a file where another entry needs a folder.
#pragma once

#include "format/ByteStream.h"
#include "format/PackageFormat.h"
#include "format/SzddFormat.h"

#include <stddef.h>
#include <stdint.h>

enum PackageProblem {
    PackageSound,
    PackageEmpty,          // not one whole header: the setup program stops at its first read
    PackageBadEntry,       // CheckPackageEntry refused the header; Fault says why
    PackageTargetConflict, // the target is a file where another entry needs a folder, or the reverse
    PackageEntryCutShort,  // the package ends inside the entry's stored bytes
    PackageCorruptData,    // the stored bytes look compressed but do not expand (or announce more
                           // than MaxExpandedEntrySize); Szdd says why when expanding failed
    PackageReadFailed,     // the source failed
    PackageWriteFailed,    // the content sink refused bytes
    PackageOutOfMemory,    // no room left to keep the targets seen so far
};

struct TargetSlot; // PackageWalker.cpp

// The targets seen so far and every folder they lie in, each under a key of at most
// PackageTextSize bytes, in an open-addressed table that grows as new names come. Freed with the
// walker or at the next BeginPackageWalk.
struct TargetTable {
    TargetSlot* Slots = nullptr;
    size_t Capacity = 0; // 0 or a power of two
    size_t Count = 0;

    TargetTable() = default;
    ~TargetTable();
    TargetTable(const TargetTable&) = delete;
    TargetTable& operator=(const TargetTable&) = delete;
    TargetTable& operator=(TargetTable&& other) noexcept;
};

struct PackageWalker {
    ByteSource Source;
    uint64_t Offset; // package bytes read so far
    uint32_t Count;  // entries yielded so far

    // The current entry, valid after NextPackageEntry returned true.
    uint32_t Index;
    uint64_t EntryOffset; // offset of its header
    PackageEntry Entry;
    bool NegativeStoredSize; // StoredSize below 0, which the setup program reads as no bytes
    bool Compressed;         // the platform's LZ expansion will expand it (see LooksCompressed)
    uint32_t StoredCount;    // stored bytes after the header
    uint32_t ExpandedSize;   // as announced by its SZDD header, or StoredCount when stored plain

    // Set when the walk ends without a problem: bytes after the last entry, fewer than a header.
    uint32_t TrailingBytes;

    // The first problem; Index and EntryOffset name the entry it belongs to.
    PackageProblem Problem;
    EntryFault Fault;
    SzddReport Szdd;
    char Detail[192]; // one line, no final period

    // Internal: stored bytes of the current entry not read yet, and those read ahead to classify.
    uint32_t ContentLeft;
    bool ContentTaken;
    size_t LeadSize;
    unsigned char Lead[SzddHeaderSize];
    TargetTable Targets;
};

void BeginPackageWalk(PackageWalker* walker, const ByteSource& source);

// Skips what is left of the current entry's stored bytes, then reads and checks the next header,
// its target against those before it and the first stored bytes. True with the entry's fields
// set; false at the end of the package (Problem is PackageSound, TrailingBytes says what was
// left) or at a problem.
bool NextPackageEntry(PackageWalker* walker);

// Delivers the current entry's content to sink, expanded when Compressed, and checks it reaches
// exactly the end of the stored bytes. At most once per entry. False with Problem set.
bool ReadEntryContent(PackageWalker* walker, const ByteSink& sink);
