#include "PackageBuild.h"

#include "format/PackageWalker.h"
#include "format/SzddTestData.h"
#include "zpack/ZpackTestSupport.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

struct Source {
    std::string Name;
    std::string Content;
    bool Store;
};

// Sizes around a 5000-byte chunk, the 4096-byte window and the 14 bytes read to classify a file;
// a file that does not shrink (stored after all, part of it compressed in vain), files kept as they
// are, and one that must be compressed although marked store.
std::vector<Source> VariedSources()
{
    std::string signedFile = std::string(reinterpret_cast<const char*>(SzddSignature), SzddSignatureSize) +
                             std::string("A\0\x05\0\0\0", 6) + MakeTestData(TextLike, 6000, 9);
    return {{"empty.txt", "", false},
            {"one.txt", "x", false},
            {"short.txt", MakeTestData(TextLike, 13, 1), false},
            {"lead.txt", MakeTestData(TextLike, 14, 1), false},
            {"window.txt", MakeTestData(TextLike, 4096, 2), false},
            {"under.bin", MakeTestData(BinaryLike, 4999, 3), false},
            {"chunk.bin", MakeTestData(LowEntropy, 5000, 4), false},
            {"over.bin", MakeTestData(LongRuns, 5001, 5), false},
            {"reach.txt", MakeTestData(TextLike, 5018, 6), false},
            {"big.exe", MakeTestData(TextLike, 60000, 7) + MakeTestData(BinaryLike, 20000, 7), false},
            {"random.bin", MakeTestData(RandomBytes, 9000, 8), false},
            {"kept.txt", MakeTestData(TextLike, 7000, 10), true},
            {"signed.dll", signedFile, true}};
}

std::string Build(const ScopedTempDir& dir, const std::string& manifest, const BuildOptions& options)
{
    std::string package = dir.Join("Setup.z");
    FILE* out = fopen(dir.Join("out.txt").c_str(), "wb");
    FILE* err = fopen(dir.Join("err.txt").c_str(), "wb");
    int status = BuildPackage(manifest.c_str(), package.c_str(), options, out, err);
    fclose(out);
    fclose(err);
    EXPECT_EQ(status, 0) << ReadTestFile(dir.Join("err.txt"));
    return ReadTestFile(package);
}

} // namespace

TEST(PackageBuild, IsTheSameOnAnyNumberOfThreadsInAnyChunks)
{
    ScopedTempDir dir;
    std::vector<Source> sources = VariedSources();
    std::string lines;
    for (const Source& source : sources) {
        WriteTestFile(dir.Join(source.Name), source.Content);
        lines += source.Name + " | " + source.Name + " | | | " + (source.Store ? "store" : "") + "\n";
    }
    std::string manifest = dir.Join("Setup.manifest");
    WriteTestFile(manifest, lines);

    const std::string reference = Build(dir, manifest, BuildOptions{1, 5000});
    const BuildOptions others[] = {{2, 5000}, {4, 777}, {3, 4096}, {2, 1u << 20}};
    for (const BuildOptions& options : others)
        EXPECT_TRUE(Build(dir, manifest, options) == reference)
            << options.Threads << " threads, chunks of " << options.ChunkSize;
    ZpackRun run = RunZpackCommand(dir, {"build", manifest, "-o", dir.Join("cli.z"), "-j", "2"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(ReadTestFile(dir.Join("cli.z")) == reference);

    // And it is what the one-pass compressor makes of each file, or the file itself.
    MemoryReader reader = {reinterpret_cast<const unsigned char*>(reference.data()), reference.size(), 0};
    PackageWalker walker;
    BeginPackageWalk(&walker, MemorySource(&reader));
    size_t index = 0;
    for (; NextPackageEntry(&walker); ++index) {
        ASSERT_LT(index, sources.size());
        const Source& source = sources[index];
        std::string stored = reference.substr(reader.Position - walker.LeadSize, walker.StoredCount);
        bool compressed = source.Name == "signed.dll" || (!source.Store && source.Name != "random.bin" &&
                                                          source.Content.size() > SzddHeaderSize);
        EXPECT_EQ(walker.Compressed, compressed) << source.Name;
        EXPECT_TRUE(stored ==
                    (compressed ? CompressToString(source.Content, source.Name.back()) : source.Content))
            << source.Name;
    }
    EXPECT_EQ(index, sources.size());
    EXPECT_EQ(walker.Problem, PackageSound);
}
