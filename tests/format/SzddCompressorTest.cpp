#include "format/SzddCompressor.h"

#include "format/SzddTestData.h"
#include "support/StringSink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

const TestDataKind AllKinds[] = {RandomBytes, LowEntropy, TextLike, LongRuns, BinaryLike};

void ExpectRoundTrip(const std::string& input, const std::string& compressed, const std::string& what)
{
    std::string output;
    SzddReport report;
    ASSERT_EQ(ExpandToString(compressed, &output, &report), SzddOk) << what << ": " << report.Detail;
    ASSERT_EQ(output.size(), input.size()) << what;
    EXPECT_TRUE(output == input) << what;
}

uint64_t StreamBits(const std::string& compressed)
{
    TokenCount count;
    EXPECT_TRUE(CountTokens(compressed, &count));
    return 9 * count.Literals + 17 * count.Pairs;
}

// Bits of the greedy parse: at every position the longest match the window offers, or a literal
// when none reaches three bytes, never weighing what the choice costs further on.
uint64_t GreedyBits(const std::string& input)
{
    std::string stream(SzddRingSize, static_cast<char>(SzddRingFill));
    stream += input;
    uint64_t bits = 0;
    for (size_t p = SzddRingSize; p < stream.size();) {
        size_t limit = std::min<size_t>(SzddMaxMatch, stream.size() - p);
        size_t longest = 0;
        for (size_t q = p - SzddRingSize; q < p; ++q) {
            size_t length = 0;
            while (length < limit && stream[q + length] == stream[p + length])
                ++length;
            longest = std::max(longest, length);
        }
        bool pair = longest >= SzddMinMatch;
        bits += pair ? 17 : 9;
        p += pair ? longest : 1;
    }
    return bits;
}

std::string CompressWithLimits(const std::string& input, SzddCompressorLimits limits)
{
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(input.data()), input.size(), 0};
    std::string output;
    SzddReport report;
    EXPECT_EQ(CompressSzddWithLimits(MemorySource(&reader), ByteSink{AppendToString, &output},
                                     static_cast<uint32_t>(input.size()), 0, &report, limits),
              SzddOk)
        << report.Detail;
    return output;
}

} // namespace

TEST(CompressSzdd, RoundTripsEveryKindOfDataAtManySizes)
{
    // Sizes around the item limits, the 4096-byte window, the 16-byte start offset and the
    // 65536-position parse block.
    const size_t sizes[] = {0,    1,    2,    3,    4,    17,   18,    19,    36,    37,    4079,
                            4080, 4095, 4096, 4097, 4113, 8200, 65535, 65536, 65537, 140000};
    for (TestDataKind kind : AllKinds)
        for (size_t size : sizes)
            for (uint32_t seed = 1; seed <= 2; ++seed) {
                std::string input = MakeTestData(kind, size, seed);
                std::string what = "kind " + std::to_string(kind) + " size " + std::to_string(size) +
                                   " seed " + std::to_string(seed);
                ExpectRoundTrip(input, CompressToString(input), what);
            }
}

TEST(CompressSzdd, WritesTheHeaderItWasGiven)
{
    std::string compressed = CompressToString("hello", 'e');
    SzddHeader header;
    DecodeSzddHeader(reinterpret_cast<const unsigned char*>(compressed.data()), &header);
    EXPECT_TRUE(StartsWithSzddSignature(reinterpret_cast<const unsigned char*>(compressed.data()),
                                        compressed.size()));
    EXPECT_EQ(header.Mode, SzddModeA);
    EXPECT_EQ(header.MissingCharacter, 'e');
    EXPECT_EQ(header.ExpandedLength, 5u);
    EXPECT_EQ(CompressToString(""), std::string(compressed.data(), 9) + std::string(5, '\0'));
}

TEST(CompressSzdd, UsesTheRingsStartingBlanksAndOverlappingCopies)
{
    // 100 blanks are six pairs into the prefilled ring: one flag byte and twelve pair bytes.
    EXPECT_EQ(CompressToString(std::string(100, ' ')).size(), SzddHeaderSize + 1 + 12);
    // One literal, then pairs that copy from one byte back while they write.
    std::string run(1 + 18 * 5, 'q');
    TokenCount count;
    ASSERT_TRUE(CountTokens(CompressToString(run), &count));
    EXPECT_EQ(count.Literals, 1u);
    EXPECT_EQ(count.Pairs, 5u);
}

TEST(CompressSzdd, FindsTheCheapestParseNotTheGreedyOne)
{
    // Greedy: seven literals, "bcdef" (5), "gh-" as literals, "abcdef" (6), then "gh" is too short
    // for a pair: 12 literals and 2 pairs, 142 bits. The cheapest parse spells out "-a" instead and
    // copies "bcdefgh" (7) in one pair: 11 literals and 2 pairs, 133 bits.
    const std::string input = "abcdef-bcdefgh-abcdefgh";
    EXPECT_EQ(GreedyBits(input), 142u);
    EXPECT_EQ(ReferenceOptimalBits(input), 133u);
    uint64_t bits = StreamBits(CompressToString(input));
    EXPECT_EQ(bits, ReferenceOptimalBits(input));
    EXPECT_GT(GreedyBits(input), bits) << "a greedy compressor would pass this input";
}

TEST(CompressSzdd, MatchesTheReferenceOptimumAcrossBlockEdges)
{
    // Longer than two parse blocks, so settled prefixes and carried positions are both exercised.
    for (TestDataKind kind : {TextLike, LongRuns, BinaryLike, RandomBytes}) {
        std::string input = MakeTestData(kind, 150000, 7);
        std::string compressed = CompressToString(input);
        ExpectRoundTrip(input, compressed, "kind " + std::to_string(kind));
        EXPECT_EQ(StreamBits(compressed), ReferenceOptimalBits(input)) << "kind " << kind;
    }
    std::string deep = MakeTestData(LowEntropy, 20000, 7);
    EXPECT_EQ(StreamBits(CompressToString(deep)), ReferenceOptimalBits(deep));
}

TEST(CompressSzdd, RenormalizedPositionsGiveTheSameOutput)
{
    std::string input = MakeTestData(TextLike, 2500000, 11) + MakeTestData(BinaryLike, 1000000, 11);
    std::string plain = CompressToString(input);
    std::string renormalized = CompressWithLimits(input, SzddCompressorLimits{1u << 20, 1u << 16});
    EXPECT_TRUE(plain == renormalized) << "renormalizing every megabyte changed the output";
    ExpectRoundTrip(input, renormalized, "renormalized");
}

TEST(CompressSzdd, ForcedSettlingStaysValidAndNearlyOptimal)
{
    for (TestDataKind kind : {TextLike, LongRuns, LowEntropy}) {
        std::string input = MakeTestData(kind, 200000, 5);
        std::string forced = CompressWithLimits(input, SzddCompressorLimits{0x80000000u, 0});
        ExpectRoundTrip(input, forced, "forced, kind " + std::to_string(kind));
        uint64_t optimal = StreamBits(CompressToString(input));
        EXPECT_GE(StreamBits(forced), optimal);
        EXPECT_LE(StreamBits(forced), optimal + optimal / 1000) << "kind " << kind;
    }
}

TEST(CompressSzdd, RefusesInputThatDisagreesWithTheAnnouncedLength)
{
    std::string input = MakeTestData(TextLike, 10000, 1);
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(input.data()), input.size(), 0};
    uint64_t written = 0;
    SzddReport report;
    EXPECT_EQ(CompressSzdd(MemorySource(&reader), CountingSink(&written), 10001, 0, &report),
              SzddLengthMismatch);
    EXPECT_STREQ(report.Detail, "the input ends after 10000 of the announced 10001 bytes");
    reader.Position = 0;
    EXPECT_EQ(CompressSzdd(MemorySource(&reader), CountingSink(&written), 9999, 0, &report),
              SzddLengthMismatch);
    EXPECT_STREQ(report.Detail, "the input is longer than the announced 9999 bytes");
}

TEST(CompressSzdd, StopsWhenTheSinkRefuses)
{
    std::string input = MakeTestData(RandomBytes, 100000, 1);
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(input.data()), input.size(), 0};
    static unsigned char buffer[50000 + 16];
    memset(buffer, 0x5A, sizeof buffer);
    MemoryWriter writer = {buffer, 50000, 0};
    SzddReport report;
    EXPECT_EQ(CompressSzdd(MemorySource(&reader), MemorySink(&writer), 100000, 0, &report), SzddWriteFailed);
    for (size_t i = 50000; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], 0x5A) << "sentinel overwritten at " << i;
    EXPECT_EQ(report.BytesOut, writer.Size);
}
