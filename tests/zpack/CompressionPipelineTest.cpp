#include "CompressionPipeline.h"

#include "format/SzddTestData.h"
#include "zpack/ZpackTestSupport.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

ManifestEntry Entry(const std::string& source, uint64_t size, bool store = false)
{
    ManifestEntry entry = {};
    snprintf(entry.Source, sizeof entry.Source, "%s", source.c_str());
    entry.SourceSize = size;
    entry.Store = store;
    return entry;
}

} // namespace

TEST(CompressionPipeline, HandsBackEveryEntryInOrderAndNamesFilesThatChangedSinceTheManifest)
{
    ScopedTempDir dir;
    std::string skipped = MakeTestData(TextLike, 5000, 1), grew = MakeTestData(TextLike, 3000, 2);
    std::string shrank = MakeTestData(BinaryLike, 3000, 3), whole = MakeTestData(LowEntropy, 6500, 4);
    WriteTestFile(dir.Join("skipped"), skipped);
    WriteTestFile(dir.Join("shrank"), shrank);
    WriteTestFile(dir.Join("grew"), grew);
    WriteTestFile(dir.Join("kept"), "kept as it is");
    WriteTestFile(dir.Join("empty"), "");
    WriteTestFile(dir.Join("whole"), whole);
    // Sizes as a manifest read them before the files changed.
    std::vector<ManifestEntry> entries = {Entry(dir.Join("skipped"), 5000),  Entry(dir.Join("shrank"), 4000),
                                          Entry(dir.Join("grew"), 2000),     Entry(dir.Join("missing"), 10),
                                          Entry(dir.Join("kept"), 13, true), Entry(dir.Join("empty"), 0),
                                          Entry(dir.Join("whole"), 6500)};

    struct Seen {
        uint32_t Entry;
        ChunkKind Kind;
        bool First, Last;
        ChunkFailure Failure;
    };
    std::vector<Seen> seen;
    std::string wholeBytes;
    CompressionPipeline* pipeline = StartCompressionPipeline(entries, 3, 1000);
    ASSERT_NE(pipeline, nullptr);
    while (const PipelineChunk* chunk = NextChunk(pipeline)) {
        seen.push_back({chunk->Entry, chunk->Kind, chunk->First, chunk->Last,
                        chunk->Kind == ChunkFailed ? chunk->Failure : SourceNotOpened});
        if (chunk->Entry == 6)
            wholeBytes.append(reinterpret_cast<const char*>(chunk->Bytes), chunk->Count);
        if (chunk->Entry == 0 && chunk->Kind == ChunkMatched) {
            EXPECT_TRUE(std::string(reinterpret_cast<const char*>(chunk->Bytes), chunk->Count) ==
                        skipped.substr(0, 1000));
            // As when the file turns out not to shrink: the rest of it is never searched.
            SkipEntry(pipeline, 0);
            continue;
        }
        ReleaseChunk(pipeline);
    }
    StopCompressionPipeline(pipeline);

    const Seen expected[] = {
        {0, ChunkMatched, true, false, SourceNotOpened},  {1, ChunkMatched, true, false, SourceNotOpened},
        {1, ChunkMatched, false, false, SourceNotOpened}, {1, ChunkFailed, false, true, SourceChanged},
        {2, ChunkMatched, true, false, SourceNotOpened},  {2, ChunkFailed, false, true, SourceChanged},
        {3, ChunkFailed, true, true, SourceNotOpened},    {4, ChunkPlain, true, true, SourceNotOpened},
        {5, ChunkPlain, true, true, SourceNotOpened},     {6, ChunkMatched, true, false, SourceNotOpened},
    };
    ASSERT_EQ(seen.size(), 16u);
    for (size_t i = 0; i < seen.size(); ++i) {
        const Seen& want = i < 10 ? expected[i] : Seen{6, ChunkMatched, false, i == 15, SourceNotOpened};
        SCOPED_TRACE("chunk " + std::to_string(i));
        EXPECT_EQ(seen[i].Entry, want.Entry);
        EXPECT_EQ(seen[i].Kind, want.Kind);
        EXPECT_EQ(seen[i].First, want.First);
        EXPECT_EQ(seen[i].Last, want.Last);
        EXPECT_EQ(seen[i].Failure, want.Failure);
    }
    EXPECT_TRUE(wholeBytes == whole);
}
