// Inputs and helpers shared by the SZDD tests: deterministic data of several kinds, whole-string
// compression and expansion, and an independent, plainly written optimal parse to measure against.
#pragma once

#include "format/SzddFormat.h"

#include <stddef.h>
#include <stdint.h>

#include <string>

enum TestDataKind {
    RandomBytes, // incompressible
    LowEntropy,  // two letters at random: many short matches, deep match trees
    TextLike,    // words and line breaks
    LongRuns,    // runs of one byte, often longer than 18
    BinaryLike,  // records with small varying fields, zero padding
};

// The same bytes for the same kind, size and seed on every platform.
std::string MakeTestData(TestDataKind kind, size_t size, uint32_t seed);

// CompressSzdd over the whole string; fails the current test when compression fails.
std::string CompressToString(const std::string& input, unsigned char missingCharacter = 0);

// ExpandSzdd over the whole string into *output.
SzddStatus ExpandToString(const std::string& compressed, std::string* output, SzddReport* report);

// Counts the items of a compressed stream that produce the announced length; false when the
// stream is malformed.
struct TokenCount {
    uint64_t Literals;
    uint64_t Pairs;
};
bool CountTokens(const std::string& compressed, TokenCount* count);

// The fewest bits (9 a literal, 17 a pair) any valid stream needs for input, found by a plain
// dynamic program over longest matches searched through every earlier position of the window.
uint64_t ReferenceOptimalBits(const std::string& input);
