// The SZDD compressor: the smallest encoding of the whole input that the format allows, found by
// dynamic programming over the positions (a literal costs 9 bits, a pair 17) on top of the exact
// longest matches of the match finder. It streams: memory stays the same whatever the input size.
//
// Two stages: the match finder (SzddMatchFinder.h) gives every position its longest match, and the
// encoder below turns those into the cheapest parse and writes it. CompressSzdd runs both in turn;
// zpack runs the finder on pieces of the input on several threads and feeds one encoder in order,
// with the same output.
#pragma once

#include "format/ByteStream.h"
#include "format/SzddFormat.h"

#include <stdint.h>

// Compresses exactly expandedLength bytes from source into sink, header first; missingCharacter
// goes into the header (0 when unknown). Fails with SzddLengthMismatch when the source delivers
// fewer or more bytes, SzddReadFailed or SzddWriteFailed when a stream fails; the sink may then
// have received part of the output. Uses about 2.7 MB of heap, freed before it returns.
SzddStatus CompressSzdd(const ByteSource& source, const ByteSink& sink, uint32_t expandedLength,
                        unsigned char missingCharacter, SzddReport* report);

// The encoder stage, about 1.2 MB. One encoder writes one stream at a time and may be used again.
struct SzddEncoder;

// Null when out of memory.
SzddEncoder* CreateSzddEncoder();
void DestroySzddEncoder(SzddEncoder* encoder);

// Starts a stream of expandedLength input bytes into sink (which must outlive the stream) and
// writes its header. report (which must outlive the stream too) is reset and then counts the
// bytes written in BytesOut. False, with report->Status SzddWriteFailed, when the sink refuses.
bool BeginSzddEncoding(SzddEncoder* encoder, const ByteSink& sink, uint32_t expandedLength,
                       unsigned char missingCharacter, SzddReport* report);

// Takes the stream's next count input bytes and the match finder's results for them (lengths and
// distances as FindSzddMatches gives them). Writes whatever parse has become final. False, with
// report->Status SzddWriteFailed, when the sink refuses; the stream is then over.
bool EncodeSzddPositions(SzddEncoder* encoder, const unsigned char* bytes, const uint8_t* lengths,
                         const uint16_t* distances, uint32_t count);

// Once all expandedLength bytes were taken: writes the rest of the parse. False, with
// report->Status SzddWriteFailed, when the sink refuses.
bool FinishSzddEncoding(SzddEncoder* encoder);

// Internal limits, exposed so that tests reach paths that real inputs reach only after gigabytes or
// never: the match finder's positions are renormalized when they pass RenormalizeAt (at least
// 1 MB; 2 GB normally), and the parse is settled by force once CarryLimit positions stay undecided
// (at most and normally 65536; real data stays within a few hundred).
struct SzddCompressorLimits {
    uint32_t RenormalizeAt;
    uint32_t CarryLimit;
};
SzddStatus CompressSzddWithLimits(const ByteSource& source, const ByteSink& sink, uint32_t expandedLength,
                                  unsigned char missingCharacter, SzddReport* report,
                                  const SzddCompressorLimits& limits);
void SetSzddCarryLimit(SzddEncoder* encoder, uint32_t carryLimit);
