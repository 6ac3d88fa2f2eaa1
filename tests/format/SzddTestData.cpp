#include "format/SzddTestData.h"

#include "format/ByteStream.h"
#include "format/SzddCompressor.h"
#include "support/StringSink.h"

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

namespace {

struct Generator {
    uint64_t State;
    uint32_t Next()
    {
        // SplitMix64: portable and good enough for test data.
        uint64_t z = (State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    uint32_t Below(uint32_t limit) { return Next() % limit; }
};

} // namespace

std::string MakeTestData(TestDataKind kind, size_t size, uint32_t seed)
{
    static const char* const words[] = {"the",   "package", "setup", "folder", "entry", "Zorvane", "file",
                                        "ring",  "window",  "of",    "a",      "and",   "TALVIQ",  "install",
                                        "data,", "bytes",   "is",    "to",     "with",  "project"};
    Generator random = {seed * 0x100000001B3ull + static_cast<uint64_t>(kind)};
    std::string data;
    data.reserve(size + 64);
    while (data.size() < size) {
        switch (kind) {
        case RandomBytes:
            data.push_back(static_cast<char>(random.Next()));
            break;
        case LowEntropy:
            data.push_back(random.Below(2) ? 'a' : 'b');
            break;
        case TextLike:
            data += words[random.Below(sizeof words / sizeof words[0])];
            data.push_back(random.Below(12) == 0 ? '\n' : ' ');
            break;
        case LongRuns:
            data.append(1 + random.Below(60),
                        static_cast<char>(random.Below(4) == 0 ? ' ' : 'A' + random.Below(3)));
            break;
        case BinaryLike: {
            uint32_t id = random.Below(300);
            unsigned char record[16] = {
                0x7F, 'Z', 0, 0, static_cast<unsigned char>(id), static_cast<unsigned char>(id >> 8)};
            for (int i = 6; i < 10; ++i)
                record[i] = random.Below(5) == 0 ? static_cast<unsigned char>(random.Next()) : 0;
            data.append(reinterpret_cast<const char*>(record), sizeof record);
            break;
        }
        }
    }
    data.resize(size);
    return data;
}

std::string CompressToString(const std::string& input, unsigned char missingCharacter)
{
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(input.data()), input.size(), 0};
    std::string output;
    SzddReport report;
    SzddStatus status = CompressSzdd(MemorySource(&reader), ByteSink{AppendToString, &output},
                                     static_cast<uint32_t>(input.size()), missingCharacter, &report);
    EXPECT_EQ(status, SzddOk) << report.Detail;
    EXPECT_EQ(report.BytesIn, input.size());
    EXPECT_EQ(report.BytesOut, output.size());
    return output;
}

SzddStatus ExpandToString(const std::string& compressed, std::string* output, SzddReport* report)
{
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(compressed.data()), compressed.size(), 0};
    output->clear();
    return ExpandSzdd(MemorySource(&reader), ByteSink{AppendToString, output}, report);
}

bool CountTokens(const std::string& compressed, TokenCount* count)
{
    count->Literals = count->Pairs = 0;
    if (compressed.size() < SzddHeaderSize)
        return false;
    SzddHeader header;
    DecodeSzddHeader(reinterpret_cast<const unsigned char*>(compressed.data()), &header);
    size_t at = SzddHeaderSize;
    uint64_t produced = 0;
    unsigned flags = 0;
    while (produced < header.ExpandedLength) {
        if ((flags & 0x100) == 0) {
            if (at >= compressed.size())
                return false;
            flags = static_cast<unsigned char>(compressed[at++]) | 0xFF00u;
        }
        if (flags & 1) {
            at += 1;
            produced += 1;
            count->Literals++;
        } else {
            if (at + 1 >= compressed.size())
                return false;
            produced += (static_cast<unsigned char>(compressed[at + 1]) & 0x0F) + SzddMinMatch;
            at += 2;
            count->Pairs++;
        }
        flags >>= 1;
    }
    return at == compressed.size() && produced == header.ExpandedLength;
}

uint64_t ReferenceOptimalBits(const std::string& input)
{
    // The ring's starting blanks, then the input; a match at distance d copies from d bytes back.
    std::string stream(SzddRingSize, static_cast<char>(SzddRingFill));
    stream += input;
    const size_t start = SzddRingSize, end = stream.size();
    // Earlier positions whose first three bytes hash alike, newest first, through a chain per hash.
    std::vector<int64_t> previous(end, -1);
    std::vector<int64_t> newest(1u << 16, -1);
    std::vector<uint64_t> best(input.size() + 1, UINT64_MAX);
    best[0] = 0;
    for (size_t p = 0; p < end; ++p) {
        size_t limit = end - p < SzddMaxMatch ? end - p : SzddMaxMatch;
        size_t longest = 0;
        if (limit >= SzddMinMatch) {
            uint32_t key = static_cast<unsigned char>(stream[p]) << 16 |
                           static_cast<unsigned char>(stream[p + 1]) << 8 |
                           static_cast<unsigned char>(stream[p + 2]);
            key = (key * 2654435761u) >> 16;
            for (int64_t q = newest[key]; q >= 0 && p - static_cast<size_t>(q) <= SzddRingSize;
                 q = previous[q]) {
                size_t length = 0;
                while (length < limit && stream[q + length] == stream[p + length])
                    ++length;
                if (length > longest)
                    longest = length;
                if (longest == limit)
                    break;
            }
            previous[p] = newest[key];
            newest[key] = static_cast<int64_t>(p);
        }
        if (p < start)
            continue;
        size_t t = p - start;
        if (best[t] + 9 < best[t + 1])
            best[t + 1] = best[t] + 9;
        for (size_t length = SzddMinMatch; length <= longest; ++length)
            if (best[t] + 17 < best[t + length])
                best[t + length] = best[t] + 17;
    }
    return best[input.size()];
}
