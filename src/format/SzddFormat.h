// The Microsoft compress (SZDD) format and its expander. A 14-byte header (signature, mode 'A',
// the file name's missing last character, the expanded length as 32-bit little-endian), then LZSS
// data over a 4096-byte ring that starts out full of blanks and is written from position 4080:
// each flag byte, read from its low bit up, announces eight items; a set bit is one literal byte,
// a clear bit a two-byte pair (low 8 bits of an absolute ring position, then its high 4 bits in the
// high nibble and the length minus 3 in the low nibble), copied byte by byte.
#pragma once

#include "format/ByteStream.h"

#include <stddef.h>
#include <stdint.h>

const size_t SzddHeaderSize = 14;
const size_t SzddSignatureSize = 8;
extern const unsigned char SzddSignature[SzddSignatureSize];
const unsigned char SzddModeA = 'A';
const uint32_t SzddRingSize = 4096;
const uint32_t SzddRingStart = SzddRingSize - 16;
const unsigned char SzddRingFill = ' ';
const uint32_t SzddMinMatch = 3;
const uint32_t SzddMaxMatch = 18;

struct SzddHeader {
    unsigned char Mode;
    unsigned char MissingCharacter; // 0 when unknown
    uint32_t ExpandedLength;
};

void EncodeSzddHeader(const SzddHeader& header, unsigned char bytes[SzddHeaderSize]);
// Reads the mode, the missing character and the length; does not check the signature.
void DecodeSzddHeader(const unsigned char bytes[SzddHeaderSize], SzddHeader* header);

// True when the count bytes at data begin with the full 8-byte signature.
bool StartsWithSzddSignature(const unsigned char* data, size_t count);

// True when the platform's LZ expansion takes these stored bytes for compressed data: a whole
// header with the signature. Anything else (a shorter file too) it copies unchanged.
bool LooksCompressed(const unsigned char* data, size_t count);

enum SzddStatus {
    SzddOk,
    SzddBadSignature,    // the data does not begin with the signature
    SzddTruncatedHeader, // fewer than 14 bytes
    SzddUnknownMode,     // a mode other than 'A'
    SzddTruncatedData,   // the data ends before the announced length was produced
    SzddExcessOutput,    // a pair would produce more than the announced length
    SzddTrailingData,    // input continues after the announced length was produced
    SzddReadFailed,      // the source reported a failure
    SzddWriteFailed,     // the sink refused bytes
    SzddLengthMismatch,  // compressing: the source did not deliver exactly the announced length
    SzddOutOfMemory,     // the working buffers could not be allocated
};

// The outcome of one expansion or compression. BytesIn and BytesOut count what was consumed and
// delivered up to the point of failure; Detail is a one-line explanation without a final period.
struct SzddReport {
    SzddStatus Status;
    SzddHeader Header;
    uint64_t BytesIn;
    uint64_t BytesOut;
    char Detail[160];
};

// Expands one SZDD stream from source into sink, holding only fixed-size buffers. The stream must
// produce exactly the announced length: input that ends early, a pair that would overshoot it and
// any input byte after it are all refused, so one file decodes the same whichever expander reads
// it. On failure the sink has received the bytes counted in BytesOut and nothing more.
SzddStatus ExpandSzdd(const ByteSource& source, const ByteSink& sink, SzddReport* report);

// What may follow the data that produced the announced length.
enum SzddEndRule {
    SzddNothingAfter,  // no byte at all (ExpandSzdd)
    SzddNoFurtherItem, // bytes too few to complete one more item, which the platform's LZ
                       // expansion reads and drops: a lone flag byte, or half a pair
};

// ExpandSzdd with the given rule for the end; the setup program's extraction accepts exactly what
// the platform's expansion turns into the announced length.
SzddStatus ExpandSzddEndingAs(const ByteSource& source, const ByteSink& sink, SzddReport* report,
                              SzddEndRule rule);
