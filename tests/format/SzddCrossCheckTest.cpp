// Our SZDD output against expanders no one here wrote: Debian's msexpand natively, lz32's LZCopy
// under Wine; and our expander against Debian's mscompress.
#include "format/SzddTestData.h"

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <lzexpand.h>
#else
#include <stdlib.h>
#endif

#include <string>
#include <vector>

namespace {

struct CrossCase {
    std::string Name;
    std::string Data;
};

std::vector<CrossCase> CrossCases()
{
    std::vector<CrossCase> cases = {
        {"empty", ""},
        {"one", "x"},
        {"five", "abcde"},     // ends inside the first flag group
        {"eight", "abcdefgh"}, // ends exactly with a group
        {"run", std::string(1000, 'r')},
        {"blanks", std::string(5000, ' ')},
        {"text", MakeTestData(TextLike, 20000, 1)},
        {"runs", MakeTestData(LongRuns, 30000, 1)},
        {"binary", MakeTestData(BinaryLike, 70000, 1)},
        {"pairs", MakeTestData(LowEntropy, 9000, 1)},
        {"random", MakeTestData(RandomBytes, 10000, 1)},
    };
    // Data that ends inside a flag group after a long stretch beyond the window.
    cases.push_back({"tail", MakeTestData(TextLike, 12345, 2) + "xyz"});
    return cases;
}

} // namespace

#ifndef _WIN32

TEST(SzddCrossCheck, MsexpandExpandsOurOutputByteForByte)
{
    ScopedTempDir dir;
    for (const CrossCase& c : CrossCases()) {
        std::string compressed = dir.Join(c.Name + ".z"), expanded = dir.Join(c.Name + ".out");
        WriteTestFile(compressed, CompressToString(c.Data));
        std::string command = "msexpand < '" + compressed + "' > '" + expanded + "'";
        ASSERT_EQ(system(command.c_str()), 0) << command;
        EXPECT_TRUE(ReadTestFile(expanded) == c.Data) << c.Name;
    }
}

TEST(SzddCrossCheck, OurExpanderReproducesMscompressOutput)
{
    ScopedTempDir dir;
    for (const CrossCase& c : CrossCases()) {
        // mscompress itself mangles inputs shorter than 16 bytes (its own msexpand gives back other
        // bytes), so those are checked only in the other direction.
        if (c.Data.size() < 16)
            continue;
        WriteTestFile(dir.Join(c.Name), c.Data);
        std::string command = "cd '" + dir.Path() + "' && mscompress '" + c.Name + "'";
        ASSERT_EQ(system(command.c_str()), 0) << command;
        std::string compressed = ReadTestFile(dir.Join(c.Name + "_"));
        ASSERT_TRUE(
            LooksCompressed(reinterpret_cast<const unsigned char*>(compressed.data()), compressed.size()))
            << c.Name;
        std::string output;
        SzddReport report;
        EXPECT_EQ(ExpandToString(compressed, &output, &report), SzddOk) << c.Name << ": " << report.Detail;
        EXPECT_TRUE(output == c.Data) << c.Name;
        // Ours is never larger on anything compressible.
        if (c.Name != "random") {
            EXPECT_LE(CompressToString(c.Data).size(), compressed.size()) << c.Name;
        }
    }
}

#else

TEST(SzddCrossCheck, LzCopyExpandsOurOutputByteForByte)
{
    ScopedTempDir dir;
    for (const CrossCase& c : CrossCases()) {
        std::string compressed = dir.Join(c.Name + ".z"), expanded = dir.Join(c.Name + ".out");
        WriteTestFile(compressed, CompressToString(c.Data));
        OFSTRUCT sourceRecord, targetRecord;
        INT source = LZOpenFileA(const_cast<char*>(compressed.c_str()), &sourceRecord, OF_READ);
        ASSERT_GE(source, 0) << c.Name;
        INT target =
            LZOpenFileA(const_cast<char*>(expanded.c_str()), &targetRecord, OF_CREATE | OF_READWRITE);
        ASSERT_GE(target, 0) << c.Name;
        LONG copied = LZCopy(source, target);
        LZClose(source);
        LZClose(target);
        EXPECT_EQ(copied, static_cast<LONG>(c.Data.size())) << c.Name;
        EXPECT_TRUE(ReadTestFile(expanded) == c.Data) << c.Name;
    }
}

#endif
