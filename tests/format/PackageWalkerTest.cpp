#include "format/PackageWalker.h"

#include "format/SzddTestData.h"
#include "support/StringSink.h"
#include "support/PackageEntryBytes.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

std::string Entry(const std::string& target, const std::string& stored)
{
    return EntryHeader(target, "Installing " + target, static_cast<int32_t>(stored.size())) + stored;
}

struct Seen {
    uint32_t Index;
    uint64_t Offset;
    std::string Target;
    bool Compressed;
    uint32_t ExpandedSize;
    std::string Content;
};

// Walks the whole package, reading every entry's content when readContent is set.
std::vector<Seen> Walk(const std::string& package, PackageWalker* walker, bool readContent = true)
{
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(package.data()), package.size(), 0};
    BeginPackageWalk(walker, MemorySource(&reader));
    std::vector<Seen> seen;
    while (NextPackageEntry(walker)) {
        Seen entry = {walker->Index,      walker->EntryOffset,  walker->Entry.TargetName,
                      walker->Compressed, walker->ExpandedSize, std::string()};
        if (readContent && !ReadEntryContent(walker, ByteSink{AppendToString, &entry.Content}))
            break;
        seen.push_back(entry);
    }
    return seen;
}

} // namespace

TEST(PackageWalker, YieldsEachEntryWithItsIndexOffsetAndContent)
{
    std::string text = MakeTestData(TextLike, 30000, 1);
    std::string binary = MakeTestData(BinaryLike, 5000, 1);
    std::string package = Entry("Readme.txt", CompressToString(text)) + Entry("Data\\sample.tpz", binary) +
                          EntryHeader("empty.dat", "", 0) + EntryHeader("negative.dat", "", -7) +
                          Entry("@\\zvhelper.dll", CompressToString(binary));
    PackageWalker walker;
    std::vector<Seen> seen = Walk(package, &walker);
    EXPECT_EQ(walker.Problem, PackageSound) << walker.Detail;
    EXPECT_EQ(walker.TrailingBytes, 0u);
    ASSERT_EQ(seen.size(), 5u);
    uint64_t offset = 0;
    const std::string contents[] = {text, binary, "", "", binary};
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(seen[i].Index, i);
        EXPECT_EQ(seen[i].Offset, offset) << i;
        EXPECT_TRUE(seen[i].Content == contents[i]) << i;
        EXPECT_EQ(seen[i].ExpandedSize, contents[i].size()) << i;
        offset += PackageEntrySize + (i == 0   ? CompressToString(text).size()
                                      : i == 1 ? binary.size()
                                      : i == 4 ? CompressToString(binary).size()
                                               : 0);
    }
    EXPECT_TRUE(seen[0].Compressed);
    EXPECT_FALSE(seen[1].Compressed);
    EXPECT_EQ(seen[4].Target, "@\\zvhelper.dll");
    EXPECT_EQ(walker.Offset, package.size());
}

TEST(PackageWalker, ReportsTrailingBytesShorterThanAHeaderAsTheEnd)
{
    std::string package = Entry("a.txt", "plain") + std::string(PackageEntrySize - 1, 'x');
    PackageWalker walker;
    EXPECT_EQ(Walk(package, &walker).size(), 1u);
    EXPECT_EQ(walker.Problem, PackageSound);
    EXPECT_EQ(walker.TrailingBytes, PackageEntrySize - 1);
}

TEST(PackageWalker, SkipsContentThatIsNotRead)
{
    std::string package = Entry("a.txt", CompressToString(std::string(9000, 'z'))) + Entry("b.txt", "bee");
    PackageWalker walker;
    std::vector<Seen> seen = Walk(package, &walker, false);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].ExpandedSize, 9000u) << "taken from the SZDD header without expanding";
    EXPECT_EQ(seen[1].Offset, package.size() - PackageEntrySize - 3);
    EXPECT_EQ(walker.Problem, PackageSound);

    std::string cut = Entry("a.txt", "0123456789abcdef").substr(0, PackageEntrySize + 15);
    Walk(cut, &walker, false);
    EXPECT_EQ(walker.Problem, PackageEntryCutShort);
    EXPECT_STREQ(walker.Detail, "entry cut short: 16 stored bytes announced, the package ends after 15");
}

TEST(PackageWalker, AnEmptyOrHeaderlessPackageIsAProblem)
{
    PackageWalker walker;
    EXPECT_TRUE(Walk("", &walker).empty());
    EXPECT_EQ(walker.Problem, PackageEmpty);
    EXPECT_STREQ(walker.Detail, "the package is empty");
    EXPECT_TRUE(Walk(std::string(100, 'x'), &walker).empty());
    EXPECT_EQ(walker.Problem, PackageEmpty);
    EXPECT_STREQ(walker.Detail, "the package is shorter than one entry header");
}

TEST(PackageWalker, StopsAtTheFirstProblemWithItsEntry)
{
    std::string good = Entry("first.txt", "first");
    std::string compressed = CompressToString(MakeTestData(TextLike, 5000, 2));
    std::string badMode = compressed;
    badMode[8] = 'B';
    std::string truncated = compressed.substr(0, compressed.size() - 3);
    std::string unterminated = EntryHeader("ok.txt", std::string(64, 'd'), 0);
    std::string huge = compressed;
    huge.replace(10, 4, "\0\0\0\x80", 4); // 2147483648 announced
    struct Case {
        std::string Second;
        PackageProblem Problem;
        std::string Detail;
    } cases[] = {
        {EntryHeader("..\\evil.exe", "", 0), PackageBadEntry, "target name would leave its folder"},
        {EntryHeader("C:\\evil.exe", "", 0), PackageBadEntry, "target name would leave its folder"},
        {EntryHeader("Data\\what?.txt", "", 0), PackageBadEntry,
         "target name holds a character Windows does not allow in file names"},
        {EntryHeader(std::string(64, 't'), "", 0), PackageBadEntry, "target name without its terminator"},
        {unterminated, PackageBadEntry, "display text without its terminator"},
        {Entry("b.txt", badMode), PackageCorruptData, "corrupt SZDD data: unknown compression mode 0x42"},
        {Entry("b.txt", truncated), PackageCorruptData, "corrupt SZDD data: compressed data ends after "},
        {Entry("b.txt", huge), PackageCorruptData,
         "corrupt SZDD data: the header announces 2147483648 bytes, more than the 2147483647 the setup "
         "program expands"},
        {Entry("b.txt", compressed + "xyz"), PackageCorruptData,
         "corrupt SZDD data: stored bytes continue after the compressed data"},
        {Entry("b.txt", compressed).substr(0, PackageEntrySize + 10), PackageEntryCutShort,
         "entry cut short: " + std::to_string(compressed.size()) +
             " stored bytes announced, the package ends after 10"},
        {Entry("b.txt", compressed).substr(0, PackageEntrySize + 500), PackageEntryCutShort,
         "entry cut short: " + std::to_string(compressed.size()) +
             " stored bytes announced, the package ends after 500"},
        {Entry("b.txt", "plain text").substr(0, PackageEntrySize + 4), PackageEntryCutShort,
         "entry cut short: 10 stored bytes announced, the package ends after 4"},
    };
    for (const Case& c : cases) {
        PackageWalker walker;
        // A cut entry ends the package; any other problem is followed by a sound entry.
        std::vector<Seen> seen =
            Walk(good + c.Second + (c.Problem == PackageEntryCutShort ? "" : good), &walker);
        EXPECT_EQ(seen.size(), 1u) << c.Detail;
        EXPECT_EQ(walker.Problem, c.Problem) << c.Detail;
        EXPECT_EQ(walker.Index, 1u) << c.Detail;
        EXPECT_EQ(walker.EntryOffset, good.size()) << c.Detail;
        EXPECT_EQ(std::string(walker.Detail).rfind(c.Detail, 0), 0u) << walker.Detail;
        EXPECT_FALSE(NextPackageEntry(&walker)) << "a walk stays stopped";
    }
}

TEST(PackageWalker, TakesAnnouncedLengthsUpTo2147483647)
{
    std::string compressed = CompressToString("hello");
    for (uint32_t announced : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        std::string stored = compressed;
        for (int i = 0; i < 4; ++i)
            stored[10 + i] = static_cast<char>(announced >> (8 * i));
        PackageWalker walker;
        std::vector<Seen> seen = Walk(Entry("a.txt", "a") + Entry("big.bin", stored), &walker, false);
        if (announced <= MaxExpandedEntrySize) {
            EXPECT_EQ(walker.Problem, PackageSound) << walker.Detail;
            ASSERT_EQ(seen.size(), 2u);
            EXPECT_EQ(seen[1].ExpandedSize, announced);
        } else {
            EXPECT_EQ(seen.size(), 1u);
            EXPECT_EQ(walker.Problem, PackageCorruptData);
            EXPECT_EQ(walker.Index, 1u);
            EXPECT_EQ(std::string(walker.Detail),
                      "corrupt SZDD data: the header announces " + std::to_string(announced) +
                          " bytes, more than the 2147483647 the setup program expands");
        }
    }
}

TEST(PackageWalker, FindsAFileWhereAnotherEntryNeedsAFolder)
{
    struct Case {
        std::vector<std::string> Targets;
        uint32_t Index;
        std::string Detail;
    } cases[] = {
        {{"a", "a\\b"}, 1, "the target needs the folder 'a', where entry 0 puts a file"},
        {{"a\\b", "A"}, 1, "the target names a folder that entry 0 needs for its file"},
        {{"x.txt", "Docs\\Guide\\x.txt", "docs/GUIDE"},
         2,
         "the target names a folder that entry 1 needs for its file"},
        {{"Docs/Guide", "x", "DOCS\\guide\\deep\\y"},
         2,
         "the target needs the folder 'DOCS\\guide', where entry 0 puts a file"},
        {{"@\\a\\b", "@xA"}, 1, "the target names a folder that entry 0 needs for its file"},
        {{"@\\lib", "@\\LIB\\x.dll"}, 1, "the target needs the folder '@\\LIB', where entry 0 puts a file"},
    };
    for (const Case& c : cases) {
        std::string package;
        for (const std::string& target : c.Targets)
            package += Entry(target, "content");
        PackageWalker walker;
        std::vector<Seen> seen = Walk(package, &walker);
        EXPECT_EQ(seen.size(), c.Index) << c.Detail;
        EXPECT_EQ(walker.Problem, PackageTargetConflict) << c.Detail;
        EXPECT_EQ(walker.Index, c.Index) << c.Detail;
        EXPECT_EQ(walker.EntryOffset, c.Index * (PackageEntrySize + 7)) << c.Detail;
        EXPECT_EQ(std::string(walker.Detail), c.Detail);
    }

    // The same file twice is no conflict (the setup program applies the overwrite rule), nor are
    // names that merely begin alike, nor a system-folder name beside another target's folder.
    std::string package;
    for (const char* target : {"a\\b", "a\\c", "A\\B", "ab", "a.txt", "a\\b.txt", "@\\a", "b", "@\\b\\c"})
        package += Entry(target, "content");
    PackageWalker walker;
    EXPECT_EQ(Walk(package, &walker).size(), 9u);
    EXPECT_EQ(walker.Problem, PackageSound) << walker.Detail;

    // A new walk forgets the targets of the one before.
    EXPECT_EQ(Walk(Entry("a\\b\\c", "content"), &walker).size(), 1u);
    EXPECT_EQ(walker.Problem, PackageSound) << walker.Detail;
}

TEST(PackageWalker, KeepsEveryTargetAsItsTableGrows)
{
    std::string package;
    for (int i = 0; i < 500; ++i)
        package += Entry("d" + std::to_string(i % 10) + "\\f" + std::to_string(i) + ".txt", "");
    struct {
        std::string Last;
        std::string Detail;
    } cases[] = {
        {"D7", "the target names a folder that entry 7 needs for its file"},
        {"d3\\F13.TXT\\x", "the target needs the folder 'd3\\F13.TXT', where entry 13 puts a file"},
        {"d9\\f499.txt\\x", "the target needs the folder 'd9\\f499.txt', where entry 499 puts a file"},
    };
    for (const auto& c : cases) {
        PackageWalker walker;
        EXPECT_EQ(Walk(package + Entry(c.Last, ""), &walker, false).size(), 500u);
        EXPECT_EQ(walker.Problem, PackageTargetConflict);
        EXPECT_EQ(walker.Index, 500u);
        EXPECT_EQ(std::string(walker.Detail), c.Detail);
    }
    PackageWalker walker;
    EXPECT_EQ(Walk(package + Entry("d10\\x", ""), &walker, false).size(), 501u);
    EXPECT_EQ(walker.Problem, PackageSound) << walker.Detail;
}

TEST(PackageWalker, ShortStoredDataWithTheSignatureIsPlain)
{
    // The platform copies files shorter than an SZDD header unchanged, whatever they begin with.
    std::string almost = std::string(reinterpret_cast<const char*>(SzddSignature), SzddSignatureSize) +
                         std::string("A\0\x05", 3);
    PackageWalker walker;
    std::vector<Seen> seen = Walk(Entry("sig.bin", almost), &walker);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].Compressed);
    EXPECT_EQ(seen[0].Content, almost);
}

TEST(PackageWalker, ReportsASinkThatRefuses)
{
    std::string package = Entry("a.txt", CompressToString(MakeTestData(TextLike, 9000, 1)));
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(package.data()), package.size(), 0};
    unsigned char small[100];
    MemoryWriter writer = {small, sizeof small, 0};
    PackageWalker walker;
    BeginPackageWalk(&walker, MemorySource(&reader));
    ASSERT_TRUE(NextPackageEntry(&walker));
    EXPECT_FALSE(ReadEntryContent(&walker, MemorySink(&writer)));
    EXPECT_EQ(walker.Problem, PackageWriteFailed);
}
