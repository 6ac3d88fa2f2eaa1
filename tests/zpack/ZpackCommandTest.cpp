#include "zpack/ZpackTestSupport.h"

#include "ToolPlatform.h"
#include "ZpackCommand.h"
#include "format/PackageWalker.h"
#include "format/SzddTestData.h"

#include <gtest/gtest.h>

#include <string.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>
#include <vector>

namespace {

#ifdef _WIN32
const std::string Sep = "\\";
#else
const std::string Sep = "/";
#endif

// Sources and a manifest in dir/src covering every way an entry can be stored.
struct DemoFiles {
    std::string Text, Random, Kept, Signed;
};

DemoFiles WriteDemoSources(const ScopedTempDir& dir)
{
    DemoFiles files = {MakeTestData(TextLike, 60000, 1), MakeTestData(RandomBytes, 3000, 1),
                       MakeTestData(BinaryLike, 4000, 1), std::string()};
    files.Signed = std::string(reinterpret_cast<const char*>(SzddSignature), SzddSignatureSize) +
                   std::string("A\0\x05\0\0\0hello", 12);
    RemoveTree(dir.Join("src"));
    std::string src = dir.Join("src");
#ifdef _WIN32
    CreateDirectoryA(src.c_str(), nullptr);
    CreateDirectoryA((src + "\\bin").c_str(), nullptr);
#else
    mkdir(src.c_str(), 0755);
    mkdir((src + "/bin").c_str(), 0755);
#endif
    WriteTestFile(src + Sep + "bin" + Sep + "tpz2.exe", files.Text);
    WriteTestFile(src + Sep + "random.bin", files.Random);
    WriteTestFile(src + Sep + "sample.tpz", files.Kept);
    WriteTestFile(src + Sep + "empty.txt", "");
    WriteTestFile(src + Sep + "helper.dll", files.Signed);
    WriteTestFile(src + Sep + "Setup.manifest",
                  "# target | source | display | overwrite | storage\n"
                  "tpz2.exe | bin/tpz2.exe | Main program | replace-if-newer\n"
                  "random.bin | random.bin\n"
                  "Data\\sample.tpz | sample.tpz | Sample | keep-existing | store\n"
                  "Data\\empty.txt | empty.txt\n"
                  "@\\zvhelper.dll | helper.dll | Helper | | store\n");
    return files;
}

// Writes the demo sources and packs them into Setup.z in dir; its path, or empty when build failed.
std::string BuildDemoPackage(const ScopedTempDir& dir)
{
    WriteDemoSources(dir);
    std::string package = dir.Join("Setup.z");
    if (RunZpackCommand(dir, {"build", dir.Join("src" + Sep + "Setup.manifest"), "-o", package}).Status != 0)
        return std::string();
    return package;
}

struct EntrySpan {
    uint64_t Offset;
    uint32_t Stored;
};

std::vector<EntrySpan> EntrySpans(const std::string& package)
{
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(package.data()), package.size(), 0};
    PackageWalker walker;
    BeginPackageWalk(&walker, MemorySource(&reader));
    std::vector<EntrySpan> spans;
    while (NextPackageEntry(&walker))
        spans.push_back({walker.EntryOffset, walker.StoredCount});
    return spans;
}

std::string At(uint64_t offset) { return " at offset " + std::to_string(offset) + ": "; }

} // namespace

TEST(Zpack, BuildsListsVerifiesAndExtractsAPackage)
{
    ScopedTempDir dir;
    DemoFiles files = WriteDemoSources(dir);
    std::string package = dir.Join("Setup.z");
    ZpackRun run = RunZpackCommand(dir, {"build", dir.Join("src" + Sep + "Setup.manifest"), "-o", package});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err,
              "zpack: note: " + dir.Join("src" + Sep + "Setup.manifest") + ":6: '" +
                  dir.Join("src" + Sep + "helper.dll") +
                  "' begins with an SZDD header, which the setup program would expand, so it is stored "
                  "compressed\n");
    std::string bytes = ReadTestFile(package);
    std::vector<EntrySpan> spans = EntrySpans(bytes);
    ASSERT_EQ(spans.size(), 5u);
    EXPECT_EQ(run.Out, "zpack: wrote " + package + ": 5 entries, " + std::to_string(bytes.size()) +
                           " bytes from " + std::to_string(60000 + 3000 + 4000 + 0 + 20) +
                           " bytes of files\n");

    run = RunZpackCommand(dir, {"list", package});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "0 | tpz2.exe | Main program | replace-if-newer | " + std::to_string(spans[0].Stored) +
                           " | 60000 | compressed\n"
                           "1 | random.bin | random.bin | always-replace | 3000 | 3000 | stored\n"
                           "2 | Data\\sample.tpz | Sample | keep-existing | 4000 | 4000 | stored\n"
                           "3 | Data\\empty.txt | empty.txt | always-replace | 0 | 0 | stored\n"
                           "4 | @\\zvhelper.dll | Helper | always-replace | " +
                           std::to_string(spans[4].Stored) + " | 20 | compressed\n");
    EXPECT_LT(spans[0].Stored, 60000u / 2);

    run = RunZpackCommand(dir, {"verify", package});
    EXPECT_EQ(run.Status, 0) << run.Err;
    uint64_t stored = 0;
    for (const EntrySpan& span : spans)
        stored += span.Stored;
    EXPECT_EQ(run.Out, "zpack: " + package + " is sound: 5 entries, " + std::to_string(stored) +
                           " bytes stored, 67020 bytes expanded\n");
    EXPECT_EQ(run.Err, "");

    std::string out = dir.Join("out");
    run = RunZpackCommand(dir, {"extract", package, out});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "zpack: extracted 5 entries from " + package + " into " + out + "\n");
    std::vector<std::string> expected = {"@system" + Sep,
                                         "@system" + Sep + "zvhelper.dll",
                                         "Data" + Sep,
                                         "Data" + Sep + "empty.txt",
                                         "Data" + Sep + "sample.tpz",
                                         "random.bin",
                                         "tpz2.exe"};
    EXPECT_EQ(ListTree(out), expected);
    EXPECT_TRUE(ReadTestFile(out + Sep + "tpz2.exe") == files.Text);
    EXPECT_TRUE(ReadTestFile(out + Sep + "random.bin") == files.Random);
    EXPECT_TRUE(ReadTestFile(out + Sep + "Data" + Sep + "sample.tpz") == files.Kept);
    EXPECT_EQ(ReadTestFile(out + Sep + "Data" + Sep + "empty.txt"), "");
    EXPECT_TRUE(ReadTestFile(out + Sep + "@system" + Sep + "zvhelper.dll") == files.Signed);
}

TEST(Zpack, AFailedBuildLeavesNoPackageAndKeepsTheOldOne)
{
    ScopedTempDir dir;
    WriteDemoSources(dir);
    std::string manifest = dir.Join("src" + Sep + "Setup.manifest");
    WriteTestFile(manifest, ReadTestFile(manifest) + "Data\\..\\..\\evil.exe | random.bin\n");
    std::string package = dir.Join("Setup.z");
    std::vector<std::string> before = ListTree(dir.Path());
    ZpackRun run = RunZpackCommand(dir, {"build", manifest, "-o", package});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "zpack: " + manifest + ":7: the target has a '..' component\n");
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(ListTree(dir.Path()), before) << "no package, no temporary file";

    WriteTestFile(package, "the previous package");
    run = RunZpackCommand(dir, {"build", manifest, "-o", package});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(ReadTestFile(package), "the previous package");
    EXPECT_EQ(ListTree(dir.Path()).size(), before.size() + 1);

    // A package folder that does not exist: refused before anything is written.
    run = RunZpackCommand(dir, {"build", dir.Join("src" + Sep + "Setup.manifest"), "-o",
                                dir.Join("missing" + Sep + "Setup.z")});
    EXPECT_EQ(run.Status, 1);
}

TEST(Zpack, VerifyNamesTheFirstProblemWithItsEntryAndOffset)
{
    ScopedTempDir dir;
    std::string package = BuildDemoPackage(dir);
    ASSERT_FALSE(package.empty());
    const std::string good = ReadTestFile(package);
    std::vector<EntrySpan> spans = EntrySpans(good);
    ASSERT_EQ(spans.size(), 5u);
    const std::string prefix = "zpack: " + package + ": entry ";

    struct Case {
        std::string Bytes;
        std::string Message;
    };
    std::vector<Case> cases;
    std::string cut = good.substr(0, spans[4].Offset + PackageEntrySize + 10);
    cases.push_back({cut, prefix + "4" + At(spans[4].Offset) +
                              "entry cut short: " + std::to_string(spans[4].Stored) +
                              " stored bytes announced, the package ends after 10\n"});
    std::string mode = good;
    mode[spans[0].Offset + PackageEntrySize + 8] = 'B';
    cases.push_back({mode, prefix + "0" + At(0) + "corrupt SZDD data: unknown compression mode 0x42\n"});
    std::string data = good;
    data[spans[0].Offset + PackageEntrySize + 10] ^= 0x01; // the expanded length no longer fits the data
    cases.push_back({data, prefix + "0" + At(0) + "corrupt SZDD data: "});
    std::string huge = good;
    memcpy(&huge[spans[0].Offset + PackageEntrySize + 10], "\0\0\0\x80", 4);
    cases.push_back({huge, prefix + "0" + At(0) +
                               "corrupt SZDD data: the header announces 2147483648 bytes, more than the "
                               "2147483647 the setup program expands\n"});
    std::string escape = good;
    memcpy(&escape[spans[2].Offset], "..\\evil.exe\0", 12);
    cases.push_back({escape, prefix + "2" + At(spans[2].Offset) + "target name would leave its folder\n"});
    std::string conflict = good;
    memcpy(&conflict[spans[3].Offset], "RANDOM.bin\\x\0", 13);
    cases.push_back({conflict, prefix + "3" + At(spans[3].Offset) +
                                   "the target needs the folder 'RANDOM.bin', where entry 1 puts a file\n"});
    std::string display = good;
    memset(&display[spans[3].Offset + PackageTextSize], 'd', PackageTextSize);
    cases.push_back({display, prefix + "3" + At(spans[3].Offset) + "display text without its terminator\n"});
    std::string target = good;
    memset(&target[spans[1].Offset], 't', PackageTextSize);
    cases.push_back({target, prefix + "1" + At(spans[1].Offset) + "target name without its terminator\n"});
    cases.push_back(
        {"", "zpack: " + package +
                 ": the package is empty (the setup program stops with an unexpected end of file)\n"});

    for (const Case& c : cases) {
        WriteTestFile(package, c.Bytes);
        ZpackRun run = RunZpackCommand(dir, {"verify", package});
        EXPECT_EQ(run.Status, 1) << c.Message;
        EXPECT_EQ(run.Err.rfind(c.Message, 0), 0u) << run.Err;
        EXPECT_EQ(run.Out, "");
    }

    WriteTestFile(package, good + std::string(PackageEntrySize - 1, '\0'));
    ZpackRun run = RunZpackCommand(dir, {"verify", package});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "zpack: warning: " + package + ": 135 bytes after the last entry at offset " +
                           std::to_string(good.size()) +
                           ", fewer than a header; the setup program ignores them\n");
    run = RunZpackCommand(dir, {"list", package});
    EXPECT_EQ(run.Status, 0);
    EXPECT_NE(run.Err.find("135 bytes after the last entry"), std::string::npos);
}

TEST(Zpack, ExtractRefusesEscapingNamesAndLeavesNothingOnFailure)
{
    ScopedTempDir dir;
    std::string package = BuildDemoPackage(dir);
    ASSERT_FALSE(package.empty());
    const std::string good = ReadTestFile(package);
    std::vector<EntrySpan> spans = EntrySpans(good);

    std::string escape = good;
    memcpy(&escape[spans[3].Offset], "..\\evil.txt\0", 12);
    std::string corrupt = good;
    corrupt[spans[4].Offset + PackageEntrySize + 8] = 'B';
    // A file where an earlier entry needs a folder, and a folder where an earlier entry put a file.
    std::string fileOnFolder = good;
    memcpy(&fileOnFolder[spans[4].Offset], "data\0", 5);
    std::string folderOnFile = good;
    memcpy(&folderOnFile[spans[4].Offset], "DATA\\sample.tpz\\x\0", 19);
    std::string out = dir.Join("out");
    for (const std::string& bytes :
         {escape, corrupt, fileOnFolder, folderOnFile, good.substr(0, good.size() - 1)}) {
        WriteTestFile(package, bytes);
        std::vector<std::string> before = ListTree(dir.Path());
        ZpackRun run = RunZpackCommand(dir, {"extract", package, out});
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Err.rfind("zpack: " + package + ": entry ", 0), 0u) << run.Err;
        EXPECT_EQ(ListTree(dir.Path()), before) << "no file, no folder, nothing outside: " << run.Err;
    }

    // Into an existing folder: what was there stays, and nothing is added.
#ifdef _WIN32
    CreateDirectoryA(out.c_str(), nullptr);
#else
    mkdir(out.c_str(), 0755);
#endif
    WriteTestFile(out + Sep + "mine.txt", "mine");
    WriteTestFile(package, escape);
    EXPECT_EQ(RunZpackCommand(dir, {"extract", package, out}).Status, 1);
    EXPECT_EQ(ListTree(out), std::vector<std::string>{"mine.txt"});
}

TEST(Zpack, ExtractPutsEverythingBackWhenAFileCannotBeMovedIntoPlace)
{
    ScopedTempDir dir;
    DemoFiles files = WriteDemoSources(dir);
    std::string package = dir.Join("Setup.z");
    ASSERT_EQ(RunZpackCommand(dir, {"build", dir.Join("src" + Sep + "Setup.manifest"), "-o", package}).Status,
              0);
    std::string out = dir.Join("out");
    std::string system = out + Sep + "@system";
#ifdef _WIN32
    CreateDirectoryA(out.c_str(), nullptr);
    CreateDirectoryA(system.c_str(), nullptr);
#else
    mkdir(out.c_str(), 0755);
    mkdir(system.c_str(), 0755);
#endif
    WriteTestFile(out + Sep + "mine.txt", "mine");
    WriteTestFile(out + Sep + "tpz2.exe", "old program");
    WriteTestFile(system + Sep + "zvhelper.dll", "old helper");
    // Left over where the last entry's target would be set aside: it cannot be, after every other
    // file has been moved into place, some of them replacing files, some in folders made for them.
    std::string stale = system + Sep + "zvhelper.dll.zpack-" + std::to_string(CurrentProcessId()) + "-4.old";
    WriteTestFile(stale, "stale");
    std::vector<std::string> before = ListTree(out);

    ZpackRun run = RunZpackCommand(dir, {"extract", package, out});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "zpack: " + system + Sep + "zvhelper.dll: cannot set the existing file aside\n");
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(ListTree(out), before);
    EXPECT_EQ(ReadTestFile(out + Sep + "tpz2.exe"), "old program");
    EXPECT_EQ(ReadTestFile(system + Sep + "zvhelper.dll"), "old helper");
    EXPECT_EQ(ReadTestFile(stale), "stale");

    // Without the leftover the same extraction replaces both files and sets nothing aside for good.
    ASSERT_TRUE(RemoveFileAt(stale.c_str()));
    run = RunZpackCommand(dir, {"extract", package, out});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    std::vector<std::string> expected = {"@system" + Sep,
                                         "@system" + Sep + "zvhelper.dll",
                                         "Data" + Sep,
                                         "Data" + Sep + "empty.txt",
                                         "Data" + Sep + "sample.tpz",
                                         "mine.txt",
                                         "random.bin",
                                         "tpz2.exe"};
    EXPECT_EQ(ListTree(out), expected);
    EXPECT_TRUE(ReadTestFile(out + Sep + "tpz2.exe") == files.Text);
    EXPECT_TRUE(ReadTestFile(system + Sep + "zvhelper.dll") == files.Signed);

#ifdef _WIN32
    // A program holding a target open without sharing its deletion stops the move just the same.
    WriteTestFile(out + Sep + "tpz2.exe", "old program");
    before = ListTree(out);
    std::string held = out + Sep + "random.bin";
    HANDLE handle = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    run = RunZpackCommand(dir, {"extract", package, out});
    CloseHandle(handle);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "zpack: " + held + ": cannot set the existing file aside\n");
    EXPECT_EQ(ListTree(out), before);
    EXPECT_EQ(ReadTestFile(out + Sep + "tpz2.exe"), "old program");
    EXPECT_TRUE(ReadTestFile(held) == files.Random);
#endif
}

TEST(Zpack, AnswersUsageErrorsAndHelp)
{
    ScopedTempDir dir;
    ZpackRun run = RunZpackCommand(dir, {"--help"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, ZpackHelpText);
    for (const char* word :
         {"zpack build MANIFEST -o PACKAGE", "zpack list PACKAGE", "zpack verify PACKAGE",
          "zpack extract PACKAGE DIR", "replace-if-newer", "keep-existing", "always-replace", "compress",
          "store", "@\\name", "63 characters", "61 characters", "Exit status"})
        EXPECT_NE(run.Out.find(word), std::string::npos) << word;

    const std::vector<std::vector<std::string>> wrong = {{},
                                                         {"pack"},
                                                         {"build", "m"},
                                                         {"build", "-o", "p"},
                                                         {"build", "m", "-o"},
                                                         {"build", "m", "-o", "p", "-j"},
                                                         {"build", "m", "-o", "p", "-j", "0"},
                                                         {"build", "m", "-o", "p", "-j", "2x"},
                                                         {"list"},
                                                         {"verify", "a", "b"},
                                                         {"extract", "p"}};
    for (const std::vector<std::string>& args : wrong) {
        run = RunZpackCommand(dir, args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_NE(run.Err.find("Try 'zpack --help'."), std::string::npos);
    }
    run = RunZpackCommand(dir, {"verify", dir.Join("none.z")});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "zpack: " + dir.Join("none.z") + ": no such package\n");
}

TEST(Zpack, PrintsNoProgressWhenErrorsGoToAFile)
{
    ScopedTempDir dir;
    WriteTestFile(dir.Join("big.bin"), MakeTestData(BinaryLike, 5u << 20, 3));
    WriteTestFile(dir.Join("big.manifest"), "big.bin | big.bin\n");
    std::string package = dir.Join("big.z");
    ZpackRun run = RunZpackCommand(dir, {"build", dir.Join("big.manifest"), "-o", package});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "");
    run = RunZpackCommand(dir, {"verify", package});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "");
}
