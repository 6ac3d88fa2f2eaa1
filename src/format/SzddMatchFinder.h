// The SZDD compressor's match finder: for each position of the stream the compressor parses (4096
// blanks, the ring's starting content, then the input), the exact longest copy of 3 to 18 bytes
// that starts within the 4096 positions before it, and that copy's distance.
//
// A position's result depends only on the 4096 bytes before it and the 18 from it on, never on
// what the finder saw before those: a stream cut into pieces, each searched by a restarted finder
// that is first given the 4096 bytes before its piece, yields the same results as one pass over
// the whole stream. That is what lets zpack search the pieces of a file on several threads.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Bytes that must be readable after the last byte handed to FindSzddMatches: the search compares
// whole 8-byte words. Their values do not matter.
const size_t SzddMatchSlack = 16;

struct SzddMatchFinder; // about 1.2 MB

// A new finder that has seen nothing; null when out of memory.
SzddMatchFinder* CreateSzddMatchFinder();
void DestroySzddMatchFinder(SzddMatchFinder* finder);

// Forgets every position seen so far: the next one has nothing before it in reach. Costs nothing.
void RestartSzddMatchFinder(SzddMatchFinder* finder);

// Adds count positions, at[0] to at[count - 1], after those added since the last restart (whose
// bytes must be the up to 4096 bytes before at, still readable). available counts the stream's
// bytes readable from at on: up to the stream's end, or at least count + 17 when the end is further
// off; SzddMatchSlack more bytes after them must be readable too. Matches stop at the stream's end.
// Unless lengths is null, lengths[k] receives position k's longest match (0 when shorter than 3)
// and distances[k] its distance (1 to 4096; undefined for length 0).
void FindSzddMatches(SzddMatchFinder* finder, const unsigned char* at, uint32_t count, uint32_t available,
                     uint8_t* lengths, uint16_t* distances);

// Test hook: the finder's internal positions are shifted down once they pass renormalizeAt (at
// least 1 MB; 2 GB normally), which real inputs reach only after gigabytes.
void SetSzddMatchRenormalizing(SzddMatchFinder* finder, uint32_t renormalizeAt);
