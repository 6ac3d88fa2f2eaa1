// The SZDD compressor: the smallest encoding of the whole input that the format allows, found by
// dynamic programming over the positions (a literal costs 9 bits, a pair 17) on top of exact
// longest matches from a binary-tree match finder. It streams: memory stays the same whatever the
// input size.
#pragma once

#include "format/ByteStream.h"
#include "format/SzddFormat.h"

#include <stdint.h>

// Compresses exactly expandedLength bytes from source into sink, header first; missingCharacter
// goes into the header (0 when unknown). Fails with SzddLengthMismatch when the source delivers
// fewer or more bytes, SzddReadFailed or SzddWriteFailed when a stream fails; the sink may then
// have received part of the output. Uses about 2.5 MB of heap, freed before it returns.
SzddStatus CompressSzdd(const ByteSource& source, const ByteSink& sink, uint32_t expandedLength,
                        unsigned char missingCharacter, SzddReport* report);

// Internal limits, exposed so that tests reach paths that real inputs reach only after gigabytes or
// never: absolute positions are renormalized when they pass RenormalizeAt (at least 1 MB; 2 GB
// normally), and the parse is settled by force once CarryLimit positions stay undecided (at most
// and normally 65536; real data stays within a few hundred).
struct SzddCompressorLimits {
    uint32_t RenormalizeAt;
    uint32_t CarryLimit;
};
SzddStatus CompressSzddWithLimits(const ByteSource& source, const ByteSink& sink, uint32_t expandedLength,
                                  unsigned char missingCharacter, SzddReport* report,
                                  const SzddCompressorLimits& limits);
