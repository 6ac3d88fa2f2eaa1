// zpack build's compression on every core. The caller's thread reads the entries' files ahead in
// chunks; worker threads (and the caller's, rather than wait) find each chunk's matches; the
// chunks come back in package order to the caller, who feeds them to one SZDD encoder per entry.
// The match finder's results depend only on the bytes around each position, so the package is
// the same byte for byte whatever the number of threads and wherever the chunks are cut.
//
// Memory: a ring of 2 chunks per thread plus 2, each about 4 bytes per input byte of a chunk
// (1 MB for the default chunk), and one 1.2 MB match finder per thread; nothing grows with the
// package.
#pragma once

#include "ManifestReader.h"

#include <stdint.h>

#include <vector>

const uint32_t DefaultChunkSize = 256u << 10;

// One per processor, at least 1.
unsigned DefaultThreadCount();

enum ChunkKind {
    ChunkMatched, // Count bytes of an entry to compress, with their matches
    ChunkPlain,   // the entry is to be stored (or is empty): the caller copies the file itself
    ChunkFailed,  // the entry's file could not be read through: Failure says why
};

enum ChunkFailure {
    SourceNotOpened,
    SourceReadFailed,
    SourceChanged, // more or fewer bytes than the manifest reader saw
};

struct PipelineChunk {
    ChunkKind Kind;
    uint32_t Entry;       // index into the entries the pipeline was started with
    bool First;           // the entry's first chunk
    bool Last;            // no more chunks follow for the entry
    bool BeginsLikeSzdd;  // on a first chunk: the file begins with an SZDD header
    ChunkFailure Failure; // ChunkFailed only
    uint32_t Count; // ChunkMatched: input bytes, and lengths and distances as FindSzddMatches gives them
    const unsigned char* Bytes;
    const uint8_t* Lengths;
    const uint16_t* Distances;
};

struct CompressionPipeline;

// Starts reading entries (which must outlive the pipeline) on threads threads in all (at least 1;
// 1 runs everything on the caller's thread), in chunks of chunkSize input bytes (at least 1).
// Entries marked store are not compressed unless they begin with an SZDD header. Null when the
// buffers cannot be allocated.
CompressionPipeline* StartCompressionPipeline(const std::vector<ManifestEntry>& entries, unsigned threads,
                                              uint32_t chunkSize);

// Stops the threads and frees everything.
void StopCompressionPipeline(CompressionPipeline* pipeline);

// The next chunk in package order, its matches found; every entry yields one or more, the last
// one marked Last. Valid until ReleaseChunk.
const PipelineChunk* NextChunk(CompressionPipeline* pipeline);
void ReleaseChunk(CompressionPipeline* pipeline);

// Drops what is left of entry's chunks (the caller stores it after all), without finding their
// matches; the next chunk is then the following entry's first.
void SkipEntry(CompressionPipeline* pipeline, uint32_t entry);
