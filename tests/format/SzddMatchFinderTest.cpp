#include "format/SzddMatchFinder.h"

#include "format/SzddCompressor.h"
#include "format/SzddTestData.h"
#include "support/StringSink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Matches {
    std::vector<uint8_t> Lengths;
    std::vector<uint16_t> Distances;
};

// The stream the compressor parses: the ring's 4096 starting blanks, the input, then slack.
std::string StreamOf(const std::string& input)
{
    return std::string(SzddRingSize, static_cast<char>(SzddRingFill)) + input +
           std::string(SzddMatchSlack, '\x5A');
}

const unsigned char* Bytes(const std::string& text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

Matches FindInOnePass(const std::string& input)
{
    std::string stream = StreamOf(input);
    uint32_t size = static_cast<uint32_t>(input.size());
    Matches found = {std::vector<uint8_t>(size), std::vector<uint16_t>(size)};
    SzddMatchFinder* finder = CreateSzddMatchFinder();
    FindSzddMatches(finder, Bytes(stream), SzddRingSize, SzddRingSize + size, nullptr, nullptr);
    FindSzddMatches(finder, Bytes(stream) + SzddRingSize, size, size, found.Lengths.data(),
                    found.Distances.data());
    DestroySzddMatchFinder(finder);
    return found;
}

// Pieces of chunkSize input bytes, each searched apart by one finder restarted for it and given
// the 4096 stream bytes before it first. Every piece sees its own copy, cut to what it may read.
Matches FindInChunks(const std::string& input, uint32_t chunkSize, SzddMatchFinder* finder)
{
    std::string stream = StreamOf(input);
    uint32_t size = static_cast<uint32_t>(input.size());
    Matches found = {std::vector<uint8_t>(size), std::vector<uint16_t>(size)};
    for (uint32_t start = 0; start < size; start += chunkSize) {
        uint32_t count = std::min(chunkSize, size - start);
        uint32_t available = std::min(count + SzddMaxMatch, size - start);
        std::string piece =
            stream.substr(start, SzddRingSize + available) + std::string(SzddMatchSlack, '\xA5');
        RestartSzddMatchFinder(finder);
        FindSzddMatches(finder, Bytes(piece), SzddRingSize, SzddRingSize + available, nullptr, nullptr);
        FindSzddMatches(finder, Bytes(piece) + SzddRingSize, count, available, &found.Lengths[start],
                        &found.Distances[start]);
    }
    return found;
}

// The encoder fed in pieces of feedSize positions.
std::string Encode(const std::string& input, const Matches& found, uint32_t feedSize)
{
    std::string output;
    SzddReport report;
    SzddEncoder* encoder = CreateSzddEncoder();
    uint32_t size = static_cast<uint32_t>(input.size());
    EXPECT_TRUE(BeginSzddEncoding(encoder, ByteSink{AppendToString, &output}, size, 0, &report));
    for (uint32_t start = 0; start < size; start += feedSize) {
        uint32_t count = std::min(feedSize, size - start);
        EXPECT_TRUE(EncodeSzddPositions(encoder, Bytes(input) + start, &found.Lengths[start],
                                        &found.Distances[start], count));
    }
    EXPECT_TRUE(FinishSzddEncoding(encoder));
    DestroySzddEncoder(encoder);
    return output;
}

} // namespace

TEST(SzddMatchFinder, PiecesSearchedApartGiveWhatOnePassGives)
{
    struct Case {
        TestDataKind Kind;
        size_t Size;
        uint32_t ChunkSize;
    };
    // Deep trees and many equal 18-byte keys (low entropy, runs) test the claim hardest; chunks
    // from one byte to more than a parse block, cut anywhere relative to the window.
    const Case cases[] = {
        {LowEntropy, 3000, 1},      {LongRuns, 3000, 17},       {TextLike, 3000, 18},
        {LowEntropy, 150000, 777},  {LongRuns, 150000, 4095},   {TextLike, 150000, 4096},
        {BinaryLike, 150000, 5000}, {RandomBytes, 40000, 4097}, {TextLike, 150000, 70001},
    };
    SzddMatchFinder* finder = CreateSzddMatchFinder();
    // Restarts push the finder's positions on: renormalizing often must not show either.
    SetSzddMatchRenormalizing(finder, 1u << 20);
    for (const Case& c : cases) {
        std::string input = MakeTestData(c.Kind, c.Size, 3);
        std::string what = "kind " + std::to_string(c.Kind) + " chunk " + std::to_string(c.ChunkSize);
        Matches whole = FindInOnePass(input);
        Matches pieces = FindInChunks(input, c.ChunkSize, finder);
        size_t differences = 0;
        for (size_t i = 0; i < input.size(); ++i)
            differences += whole.Lengths[i] != pieces.Lengths[i] ||
                           (whole.Lengths[i] != 0 && whole.Distances[i] != pieces.Distances[i]);
        EXPECT_EQ(differences, 0u) << what;
        // Fed in any pieces, the encoder writes what the one-pass compressor writes.
        EXPECT_TRUE(Encode(input, pieces, c.ChunkSize) == CompressToString(input)) << what;
    }
    DestroySzddMatchFinder(finder);
}
