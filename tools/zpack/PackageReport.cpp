#include "PackageReport.h"

#include "ManifestReader.h"
#include "ProgressLine.h"
#include "ToolPlatform.h"

#include <errno.h>
#include <string.h>

namespace {

const uint64_t MaxPackageSize = 0xFFFFFFFF;

struct ProgressSource {
    ByteSource Inner;
    ProgressLine* Line;
    uint64_t Done;
};

size_t ReadWithProgress(void* context, unsigned char* buffer, size_t count, bool* failed)
{
    ProgressSource* source = static_cast<ProgressSource*>(context);
    size_t got = source->Inner.Read(source->Inner.Context, buffer, count, failed);
    source->Done += got;
    ShowProgress(source->Line, source->Done, "");
    return got;
}

FILE* OpenPackage(const char* packagePath, FILE* err, uint64_t* size)
{
    PathKind kind = InspectPath(packagePath, size);
    if (kind != PathRegularFile) {
        fprintf(err, "zpack: %s: %s\n", packagePath,
                kind == PathMissing ? "no such package" : "not a regular file");
        return nullptr;
    }
    FILE* file = OpenForReading(packagePath);
    if (file == nullptr)
        fprintf(err, "zpack: %s: cannot open: %s\n", packagePath, strerror(errno));
    return file;
}

} // namespace

void ReportPackageProblem(FILE* err, const char* packagePath, const PackageWalker& walker)
{
    if (walker.Problem == PackageEmpty)
        fprintf(err, "zpack: %s: %s (the setup program stops with an unexpected end of file)\n", packagePath,
                walker.Detail);
    else
        fprintf(err, "zpack: %s: entry %lu at offset %llu: %s\n", packagePath,
                static_cast<unsigned long>(walker.Index), static_cast<unsigned long long>(walker.EntryOffset),
                walker.Detail);
}

void WarnTrailingBytes(FILE* err, const char* packagePath, const PackageWalker& walker)
{
    if (walker.TrailingBytes > 0)
        fprintf(err,
                "zpack: warning: %s: %lu bytes after the last entry at offset %llu, fewer than a header; the "
                "setup program ignores them\n",
                packagePath, static_cast<unsigned long>(walker.TrailingBytes),
                static_cast<unsigned long long>(walker.Offset - walker.TrailingBytes));
}

void WarnNegativeSize(FILE* err, const char* packagePath, const PackageWalker& walker)
{
    if (walker.NegativeStoredSize)
        fprintf(err, "zpack: warning: %s: entry %lu at offset %llu: stored size %ld is negative, read as 0\n",
                packagePath, static_cast<unsigned long>(walker.Index),
                static_cast<unsigned long long>(walker.EntryOffset),
                static_cast<long>(walker.Entry.StoredSize));
}

int ListPackage(const char* packagePath, FILE* out, FILE* err)
{
    uint64_t size = 0;
    FILE* file = OpenPackage(packagePath, err, &size);
    if (file == nullptr)
        return 1;
    PackageWalker walker;
    BeginPackageWalk(&walker, FileSource(file));
    while (NextPackageEntry(&walker)) {
        WarnNegativeSize(err, packagePath, walker);
        fprintf(out, "%lu | %s | %s | %s | %lu | %lu | %s\n", static_cast<unsigned long>(walker.Index),
                walker.Entry.TargetName, walker.Entry.DisplayText,
                OverwriteModeName(walker.Entry.OverwriteMode), static_cast<unsigned long>(walker.StoredCount),
                static_cast<unsigned long>(walker.ExpandedSize), walker.Compressed ? "compressed" : "stored");
    }
    fclose(file);
    if (walker.Problem != PackageSound) {
        ReportPackageProblem(err, packagePath, walker);
        return 1;
    }
    WarnTrailingBytes(err, packagePath, walker);
    return 0;
}

int VerifyPackage(const char* packagePath, FILE* out, FILE* err)
{
    uint64_t size = 0;
    FILE* file = OpenPackage(packagePath, err, &size);
    if (file == nullptr)
        return 1;
    ProgressLine progress;
    char label[128];
    snprintf(label, sizeof label, "verifying %s", packagePath);
    BeginProgress(&progress, err, label, size);
    ProgressSource source = {FileSource(file), &progress, 0};
    PackageWalker walker;
    BeginPackageWalk(&walker, ByteSource{ReadWithProgress, &source});
    uint64_t stored = 0, expanded = 0;
    while (NextPackageEntry(&walker)) {
        uint64_t produced = 0;
        if (!ReadEntryContent(&walker, CountingSink(&produced)))
            break;
        if (walker.NegativeStoredSize) {
            EndProgress(&progress);
            WarnNegativeSize(err, packagePath, walker);
        }
        stored += walker.StoredCount;
        expanded += produced;
    }
    EndProgress(&progress);
    fclose(file);
    if (walker.Problem != PackageSound) {
        ReportPackageProblem(err, packagePath, walker);
        return 1;
    }
    if (walker.Offset > MaxPackageSize) {
        fprintf(err, "zpack: %s: %llu bytes, more than the 4294967295 the setup program reads\n", packagePath,
                static_cast<unsigned long long>(walker.Offset));
        return 1;
    }
    WarnTrailingBytes(err, packagePath, walker);
    fprintf(out, "zpack: %s is sound: %lu entries, %llu bytes stored, %llu bytes expanded\n", packagePath,
            static_cast<unsigned long>(walker.Count), static_cast<unsigned long long>(stored),
            static_cast<unsigned long long>(expanded));
    return 0;
}
