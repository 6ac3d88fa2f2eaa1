#include "PackageBuild.h"

#include "CompressionPipeline.h"
#include "ManifestReader.h"
#include "ProgressLine.h"
#include "ToolPlatform.h"
#include "format/ByteStream.h"
#include "format/SzddCompressor.h"

#include <errno.h>
#include <string.h>

#include <vector>

namespace {

const uint64_t MaxStoredSize = 0x7FFFFFFF;
// The setup program reads the package with 32-bit positions.
const uint64_t MaxPackageSize = 0xFFFFFFFF;

struct BuildState {
    const char* ManifestPath;
    const char* PackagePath;
    FILE* Err;
    FILE* Package;
    uint64_t Position; // bytes written to the package so far
    ProgressLine Progress;
    uint64_t SourceBytesDone;
    const char* CurrentItem;
    CompressionPipeline* Pipeline;
    SzddEncoder* Encoder;
};

// Reads a source file while moving the progress line.
struct ProgressReader {
    ByteSource Inner;
    BuildState* State;
};

size_t ReadWithProgress(void* context, unsigned char* buffer, size_t count, bool* failed)
{
    ProgressReader* reader = static_cast<ProgressReader*>(context);
    size_t got = reader->Inner.Read(reader->Inner.Context, buffer, count, failed);
    reader->State->SourceBytesDone += got;
    ShowProgress(&reader->State->Progress, reader->State->SourceBytesDone, reader->State->CurrentItem);
    return got;
}

// Passes compressed bytes to the package until they reach Limit: past that, the file is better
// stored as it is, and the sink refuses.
struct LimitedWriter {
    ByteSink Inner;
    uint64_t Limit;
    uint64_t Written;
    bool OverLimit;
};

bool WriteLimited(void* context, const unsigned char* data, size_t count)
{
    LimitedWriter* writer = static_cast<LimitedWriter*>(context);
    if (writer->Written + count > writer->Limit) {
        writer->OverLimit = true;
        return false;
    }
    writer->Written += count;
    return writer->Inner.Write(writer->Inner.Context, data, count);
}

void ReportEntry(BuildState* state, const ManifestEntry& entry, const char* message, const char* detail = "")
{
    EndProgress(&state->Progress);
    fprintf(state->Err, "zpack: %s:%u: %s%s\n", state->ManifestPath, entry.Line, message, detail);
}

bool WriteHeader(BuildState* state, const ManifestEntry& entry, uint32_t storedSize)
{
    PackageEntry header;
    memset(&header, 0, sizeof header);
    snprintf(header.TargetName, sizeof header.TargetName, "%s", entry.Target);
    snprintf(header.DisplayText, sizeof header.DisplayText, "%s", entry.DisplayText);
    header.StoredSize = static_cast<int32_t>(storedSize);
    header.OverwriteMode = entry.OverwriteMode;
    unsigned char bytes[PackageEntrySize];
    EncodePackageEntry(header, bytes);
    return fwrite(bytes, 1, sizeof bytes, state->Package) == sizeof bytes;
}

// Copies the source as it is; *stored receives the count.
bool CopySource(BuildState* state, const ManifestEntry& entry, FILE* source, uint64_t* stored)
{
    ProgressReader reader = {FileSource(source), state};
    ByteSource input = {ReadWithProgress, &reader};
    unsigned char buffer[65536];
    bool failed = false;
    uint64_t copied = 0;
    size_t got;
    while ((got = input.Read(input.Context, buffer, sizeof buffer, &failed)) > 0) {
        if (fwrite(buffer, 1, got, state->Package) != got) {
            ReportEntry(state, entry, "cannot write the package: ", strerror(errno));
            return false;
        }
        copied += got;
    }
    if (failed) {
        ReportEntry(state, entry, "read error in the source file ", entry.Source);
        return false;
    }
    if (copied != entry.SourceSize) {
        ReportEntry(state, entry, "the source file changed while it was read: ", entry.Source);
        return false;
    }
    *stored = copied;
    return true;
}

// Encodes the entry's chunks as the pipeline delivers them, the first one already at hand.
// *overLimit: the compressed data would not be smaller than the file, which is better stored.
bool CompressEntry(BuildState* state, const ManifestEntry& entry, uint32_t index, bool mustCompress,
                   uint64_t* stored, bool* overLimit)
{
    // Compressed, it must come out smaller than the file and fit an entry.
    uint64_t limit =
        mustCompress || entry.SourceSize - 1 > MaxStoredSize ? MaxStoredSize : entry.SourceSize - 1;
    LimitedWriter writer = {FileSink(state->Package), limit, 0, false};
    const char* name = strrchr(entry.Target, '\\');
    name = name != nullptr ? name + 1 : entry.Target;
    SzddReport report;
    bool ok = BeginSzddEncoding(state->Encoder, ByteSink{WriteLimited, &writer},
                                static_cast<uint32_t>(entry.SourceSize),
                                static_cast<unsigned char>(name[strlen(name) - 1]), &report);
    for (bool last = false; ok && !last;) {
        const PipelineChunk* chunk = NextChunk(state->Pipeline);
        if (chunk->Kind == ChunkFailed) {
            if (chunk->Failure == SourceReadFailed)
                ReportEntry(state, entry, "read error in the source file ", entry.Source);
            else
                ReportEntry(state, entry, "the source file changed while it was read: ", entry.Source);
            ReleaseChunk(state->Pipeline);
            return false;
        }
        state->SourceBytesDone += chunk->Count;
        ShowProgress(&state->Progress, state->SourceBytesDone, entry.Target);
        ok =
            EncodeSzddPositions(state->Encoder, chunk->Bytes, chunk->Lengths, chunk->Distances, chunk->Count);
        last = chunk->Last;
        ReleaseChunk(state->Pipeline);
    }
    ok = ok && FinishSzddEncoding(state->Encoder);
    if (ok) {
        *stored = report.BytesOut;
        return true;
    }
    SkipEntry(state->Pipeline, index);
    *overLimit = writer.OverLimit;
    if (writer.OverLimit && (mustCompress || entry.SourceSize > MaxStoredSize))
        ReportEntry(state, entry, "compressed, the file is larger than an entry can store");
    else if (!writer.OverLimit)
        ReportEntry(state, entry, "cannot write the package: ", strerror(errno));
    return false;
}

// Writes one entry (header and stored bytes) at the package's current end.
bool AddEntry(BuildState* state, const ManifestEntry& entry, uint32_t index)
{
    state->CurrentItem = entry.Target;
    uint64_t headerAt = state->Position;
    uint64_t contentAt = headerAt + PackageEntrySize;
    uint64_t sourceStart = state->SourceBytesDone;
    const PipelineChunk* first = NextChunk(state->Pipeline);
    if (first->Kind == ChunkFailed && first->Failure == SourceNotOpened) {
        ReportEntry(state, entry, "cannot open the source file ", entry.Source);
        ReleaseChunk(state->Pipeline);
        return false;
    }
    bool ok = WriteHeader(state, entry, 0);

    // Stored plain, a file that begins with an SZDD header would be expanded by the setup program;
    // such a file is always stored compressed.
    bool mustCompress = first->BeginsLikeSzdd;
    if (mustCompress && entry.Store) {
        EndProgress(&state->Progress);
        fprintf(state->Err,
                "zpack: note: %s:%u: '%s' begins with an SZDD header, which the setup program would expand, "
                "so it is stored compressed\n",
                state->ManifestPath, entry.Line, entry.Source);
    }

    uint64_t stored = 0;
    bool compressed = false;
    if (first->Kind == ChunkPlain) {
        ReleaseChunk(state->Pipeline);
    } else if (ok) {
        bool overLimit = false;
        compressed = CompressEntry(state, entry, index, mustCompress, &stored, &overLimit);
        if (!compressed && !(overLimit && !mustCompress && entry.SourceSize <= MaxStoredSize))
            return false;
        if (!compressed) {
            // Not smaller compressed: store it as it is, over what was written.
            state->SourceBytesDone = sourceStart;
            ok = SeekTo(state->Package, contentAt);
        }
    } else {
        SkipEntry(state->Pipeline, index);
    }
    if (ok && !compressed) {
        FILE* source = OpenForReading(entry.Source);
        if (source == nullptr) {
            ReportEntry(state, entry, "cannot open the source file ", entry.Source);
            return false;
        }
        bool copied = CopySource(state, entry, source, &stored);
        fclose(source);
        if (!copied)
            return false;
    }
    if (!ok) {
        ReportEntry(state, entry, "cannot write the package: ", strerror(errno));
        return false;
    }
    state->Position = contentAt + stored;
    if (state->Position > MaxPackageSize) {
        ReportEntry(state, entry,
                    "the package grows beyond 4294967295 bytes, more than the setup program reads");
        return false;
    }
    if (!SeekTo(state->Package, headerAt) || !WriteHeader(state, entry, static_cast<uint32_t>(stored)) ||
        !SeekTo(state->Package, state->Position)) {
        ReportEntry(state, entry, "cannot write the package: ", strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int BuildPackage(const char* manifestPath, const char* packagePath, const BuildOptions& options, FILE* out,
                 FILE* err)
{
    std::vector<ManifestEntry> entries;
    if (!ReadManifest(manifestPath, &entries, err))
        return 1;

    char temporary[ToolPathSize];
    int length = snprintf(temporary, sizeof temporary, "%s.zpack-%lu.tmp", packagePath, CurrentProcessId());
    if (length < 0 || static_cast<size_t>(length) >= sizeof temporary) {
        fprintf(err, "zpack: %s: the package path is too long\n", packagePath);
        return 1;
    }
    BuildState state;
    memset(&state, 0, sizeof state);
    state.ManifestPath = manifestPath;
    state.PackagePath = packagePath;
    state.Err = err;
    state.Package = CreateNewFile(temporary);
    if (state.Package == nullptr) {
        fprintf(err, "zpack: %s: cannot create the temporary package: %s\n", temporary, strerror(errno));
        return 1;
    }
    uint64_t total = 0;
    for (const ManifestEntry& entry : entries)
        total += entry.SourceSize;
    char label[128];
    snprintf(label, sizeof label, "building %s", packagePath);
    BeginProgress(&state.Progress, err, label, total);

    state.Pipeline = StartCompressionPipeline(entries, options.Threads, options.ChunkSize);
    state.Encoder = CreateSzddEncoder();
    bool ok = state.Pipeline != nullptr && state.Encoder != nullptr;
    if (!ok)
        fprintf(err, "zpack: not enough memory to compress\n");
    for (uint32_t i = 0; ok && i < entries.size(); ++i)
        ok = AddEntry(&state, entries[i], i);
    StopCompressionPipeline(state.Pipeline);
    DestroySzddEncoder(state.Encoder);
    EndProgress(&state.Progress);
    // An entry stored after a failed compression can leave bytes beyond the end.
    if (ok && !TruncateOpenFile(state.Package, state.Position)) {
        fprintf(err, "zpack: %s: cannot write the package: %s\n", temporary, strerror(errno));
        ok = false;
    }
    if (fclose(state.Package) != 0 && ok) {
        fprintf(err, "zpack: %s: cannot write the package: %s\n", temporary, strerror(errno));
        ok = false;
    }
    if (ok && !MoveIntoPlace(temporary, packagePath)) {
        fprintf(err, "zpack: %s: cannot replace the package: %s\n", packagePath, strerror(errno));
        ok = false;
    }
    if (!ok) {
        RemoveFileAt(temporary);
        return 1;
    }
    fprintf(out, "zpack: wrote %s: %u entries, %llu bytes from %llu bytes of files\n", packagePath,
            static_cast<unsigned>(entries.size()), static_cast<unsigned long long>(state.Position),
            static_cast<unsigned long long>(total));
    return 0;
}
