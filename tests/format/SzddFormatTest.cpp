#include "format/SzddFormat.h"

#include "format/SzddTestData.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>

namespace {

std::string Header(uint32_t length, char mode = 'A', char missing = 0)
{
    SzddHeader header = {static_cast<unsigned char>(mode), static_cast<unsigned char>(missing), length};
    unsigned char bytes[SzddHeaderSize];
    EncodeSzddHeader(header, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string text;
    for (int value : values)
        text.push_back(static_cast<char>(value));
    return text;
}

// Two literals, an overlapping pair that repeats them from ring position 4080, and a pair that
// reads three of the ring's starting blanks at position 0.
const std::string HandBuiltBody = Bytes({0x03, 'a', 'b', 0xF0, 0xF3, 0x00, 0x00});
const std::string HandBuiltOutput = "abababab   ";

// Random items: literals, and pairs from any ring position (blanks never written, the ring's
// wrap, copies that overlap what they write). The body and, by a plain ring decoder, its output.
void RandomStream(uint32_t seed, size_t items, std::string* body, std::string* output)
{
    std::string ring(SzddRingSize, ' ');
    unsigned writeAt = SzddRingStart;
    uint64_t state = seed;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<unsigned>(state >> 33);
    };
    for (size_t group = 0; group * 8 < items; ++group) {
        size_t flagAt = body->size();
        body->push_back(0);
        for (unsigned bit = 0; bit < 8 && group * 8 + bit < items; ++bit) {
            unsigned char value;
            if (next() % 3 == 0) {
                (*body)[flagAt] = static_cast<char>((*body)[flagAt] | 1 << bit);
                value = static_cast<unsigned char>(next());
                body->push_back(static_cast<char>(value));
                ring[writeAt] = static_cast<char>(value);
                output->push_back(static_cast<char>(value));
                writeAt = (writeAt + 1) % SzddRingSize;
                continue;
            }
            // Mostly near the write position, so that copies overlap and repeat.
            unsigned readAt = next() % 2 ? (writeAt - 1 - next() % 20) % SzddRingSize : next() % SzddRingSize;
            unsigned length = SzddMinMatch + next() % 16;
            body->push_back(static_cast<char>(readAt & 0xFF));
            body->push_back(static_cast<char>((readAt >> 4 & 0xF0) | (length - SzddMinMatch)));
            for (unsigned k = 0; k < length; ++k) {
                char copied = ring[(readAt + k) % SzddRingSize];
                ring[writeAt] = copied;
                output->push_back(copied);
                writeAt = (writeAt + 1) % SzddRingSize;
            }
        }
    }
}

// Hands out at most Piece bytes per read.
struct PieceReader {
    const std::string* Data;
    size_t Position;
    size_t Piece;
};

size_t ReadPiece(void* context, unsigned char* buffer, size_t count, bool*)
{
    PieceReader* reader = static_cast<PieceReader*>(context);
    size_t take = std::min({count, reader->Piece, reader->Data->size() - reader->Position});
    memcpy(buffer, reader->Data->data() + reader->Position, take);
    reader->Position += take;
    return take;
}

size_t ReadFailing(void*, unsigned char*, size_t, bool* failed)
{
    *failed = true;
    return 0;
}

} // namespace

TEST(SzddHeader, EncodesSignatureModeCharacterAndLittleEndianLength)
{
    std::string header = Header(0x01020304, 'A', 'e');
    EXPECT_EQ(header, Bytes({0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 'A', 'e', 4, 3, 2, 1}));
    SzddHeader decoded;
    DecodeSzddHeader(reinterpret_cast<const unsigned char*>(header.data()), &decoded);
    EXPECT_EQ(decoded.Mode, 'A');
    EXPECT_EQ(decoded.MissingCharacter, 'e');
    EXPECT_EQ(decoded.ExpandedLength, 0x01020304u);
}

TEST(SzddHeader, OnlyAWholeHeaderWithTheSignatureCountsAsCompressed)
{
    std::string header = Header(5);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(header.data());
    EXPECT_TRUE(LooksCompressed(bytes, SzddHeaderSize));
    // The platform's expansion copies a shorter file unchanged, signature or not.
    EXPECT_FALSE(LooksCompressed(bytes, SzddHeaderSize - 1));
    EXPECT_TRUE(StartsWithSzddSignature(bytes, SzddSignatureSize));
    header[3] = 'X';
    EXPECT_FALSE(LooksCompressed(reinterpret_cast<const unsigned char*>(header.data()), SzddHeaderSize));
}

TEST(ExpandSzdd, DecodesLiteralsOverlappingPairsAndTheStartingBlanks)
{
    std::string output;
    SzddReport report;
    ASSERT_EQ(ExpandToString(Header(11) + HandBuiltBody, &output, &report), SzddOk) << report.Detail;
    EXPECT_EQ(output, HandBuiltOutput);
    EXPECT_EQ(report.BytesIn, SzddHeaderSize + HandBuiltBody.size());
    EXPECT_EQ(report.BytesOut, 11u);

    // Unused flag bits of the last group are simply never read.
    ASSERT_EQ(ExpandToString(Header(2) + Bytes({0xFF, 'x', 'y'}), &output, &report), SzddOk) << report.Detail;
    EXPECT_EQ(output, "xy");
    ASSERT_EQ(ExpandToString(Header(0), &output, &report), SzddOk);
    EXPECT_EQ(output, "");
}

TEST(ExpandSzdd, AgreesWithAPlainRingDecoderOnRandomItems)
{
    // Long enough to wrap the ring many times and to pass the output buffer; read whole, and in
    // pieces that cut flag groups anywhere.
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        std::string body, expected;
        RandomStream(seed, 40000 + seed * 977, &body, &expected);
        std::string stream = Header(static_cast<uint32_t>(expected.size())) + body;
        for (size_t piece : {size_t(1), size_t(16), size_t(17), size_t(40), stream.size()}) {
            PieceReader reader = {&stream, 0, piece};
            std::string output;
            SzddReport report;
            ByteSink sink = {[](void* context, const unsigned char* data, size_t count) {
                                 static_cast<std::string*>(context)->append(
                                     reinterpret_cast<const char*>(data), count);
                                 return true;
                             },
                             &output};
            ASSERT_EQ(ExpandSzdd(ByteSource{ReadPiece, &reader}, sink, &report), SzddOk)
                << "seed " << seed << " piece " << piece << ": " << report.Detail;
            EXPECT_TRUE(output == expected) << "seed " << seed << " piece " << piece;
            EXPECT_EQ(report.BytesIn, stream.size());
            EXPECT_EQ(report.BytesOut, expected.size());
        }
    }
}

TEST(ExpandSzdd, RefusesBrokenHeaders)
{
    std::string output;
    SzddReport report;
    EXPECT_EQ(ExpandToString("MZ\x90\x00 plain executable bytes", &output, &report), SzddBadSignature);
    EXPECT_STREQ(report.Detail, "not SZDD data: wrong signature");
    EXPECT_EQ(ExpandToString("", &output, &report), SzddTruncatedHeader);
    EXPECT_EQ(ExpandToString(Header(3).substr(0, 9), &output, &report), SzddTruncatedHeader);
    EXPECT_STREQ(report.Detail, "header cut short: 9 of 14 bytes");
    EXPECT_EQ(ExpandToString(Header(3, 'B') + Bytes({0xFF, 'a', 'b', 'c'}), &output, &report),
              SzddUnknownMode);
    EXPECT_STREQ(report.Detail, "unknown compression mode 0x42");
    EXPECT_EQ(output, "");
}

TEST(ExpandSzdd, RefusesDataThatDisagreesWithTheAnnouncedLength)
{
    std::string output;
    SzddReport report;
    std::string stream = Header(11) + HandBuiltBody;
    // Cut at every point: inside the flag byte's group, inside a pair, between items.
    for (size_t cut = SzddHeaderSize; cut < stream.size(); ++cut) {
        EXPECT_EQ(ExpandToString(stream.substr(0, cut), &output, &report), SzddTruncatedData) << cut;
        EXPECT_EQ(report.BytesOut, output.size()) << "what was produced is delivered, nothing more";
        EXPECT_EQ(output, HandBuiltOutput.substr(0, output.size()));
    }
    EXPECT_EQ(ExpandToString(stream.substr(0, stream.size() - 2), &output, &report), SzddTruncatedData);
    EXPECT_STREQ(report.Detail, "compressed data ends after 8 of 11 bytes");

    EXPECT_EQ(ExpandToString(Header(10) + HandBuiltBody, &output, &report), SzddExcessOutput);
    EXPECT_STREQ(report.Detail, "compressed data gives more than the announced 10 bytes");
    EXPECT_EQ(output, "abababab") << "the overshooting pair is not written";

    EXPECT_EQ(ExpandToString(Header(11) + HandBuiltBody + "\x01", &output, &report), SzddTrailingData);
    EXPECT_STREQ(report.Detail, "data continues after the announced 11 bytes");
    EXPECT_EQ(ExpandToString(Header(0) + std::string(1, '\0'), &output, &report), SzddTrailingData);
}

TEST(ExpandSzdd, StopsOnStreamFailuresWithoutOverrunningTheSink)
{
    std::string input = MakeTestData(TextLike, 50000, 3);
    std::string compressed = CompressToString(input);
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(compressed.data()), compressed.size(), 0};

    // A sink with room for part of the output, guarded by sentinel bytes.
    unsigned char buffer[40000 + 16];
    memset(buffer, 0xA5, sizeof buffer);
    MemoryWriter writer = {buffer, 40000, 0};
    SzddReport report;
    EXPECT_EQ(ExpandSzdd(MemorySource(&reader), MemorySink(&writer), &report), SzddWriteFailed);
    for (size_t i = 40000; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], 0xA5) << "sentinel overwritten at " << i;
    EXPECT_EQ(memcmp(buffer, input.data(), writer.Size), 0);
    EXPECT_EQ(report.BytesOut, writer.Size);

    uint64_t counted = 0;
    EXPECT_EQ(ExpandSzdd(ByteSource{ReadFailing, nullptr}, CountingSink(&counted), &report), SzddReadFailed);
    EXPECT_EQ(counted, 0u);
}
