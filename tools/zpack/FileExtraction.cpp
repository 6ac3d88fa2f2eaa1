#include "FileExtraction.h"

#include "PackageReport.h"
#include "ProgressLine.h"
#include "ToolPlatform.h"
#include "format/PackageWalker.h"

#include <errno.h>
#include <string.h>

#include <string>
#include <vector>

const char SystemFolderName[] = "@system";

namespace {

struct Extraction {
    const char* PackagePath;
    FILE* Err;
    std::vector<std::string> CreatedFolders; // in creation order
    std::vector<std::string> Temporaries;
    std::vector<std::string> Targets; // where each temporary goes
};

bool Fail(Extraction* x, const PackageWalker& walker, const char* message, const char* detail = "")
{
    fprintf(x->Err, "zpack: %s: entry %lu at offset %llu: %s%s\n", x->PackagePath,
            static_cast<unsigned long>(walker.Index), static_cast<unsigned long long>(walker.EntryOffset),
            message, detail);
    return false;
}

// Makes every missing folder of path up to its last separator, from `from` (an index into path
// just past a folder that exists).
bool CreateFoldersOf(Extraction* x, const PackageWalker& walker, char* path, size_t from)
{
    for (size_t i = from; path[i] != '\0'; ++i) {
        if (path[i] != NativeSeparator)
            continue;
        path[i] = '\0';
        PathKind kind = InspectPath(path, nullptr);
        bool ok = kind == PathFolder;
        if (kind == PathMissing) {
            ok = MakeFolder(path);
            if (ok)
                x->CreatedFolders.push_back(path);
        }
        if (!ok)
            Fail(x, walker, "cannot create the folder ", path);
        path[i] = NativeSeparator;
        if (!ok)
            return false;
    }
    return true;
}

// Expands the current entry into a temporary file beside its target.
bool ExtractEntry(Extraction* x, PackageWalker* walker, const char* folder)
{
    const PackageWalker& current = *walker;
    char target[ToolPathSize];
    int length = snprintf(target, sizeof target, "%s%c%s%s%s", folder, NativeSeparator,
                          IsSystemFolderTarget(walker->Entry) ? SystemFolderName : "",
                          IsSystemFolderTarget(walker->Entry) ? "\\" : "", TargetRelativePath(walker->Entry));
    if (length < 0 || static_cast<size_t>(length) >= sizeof target)
        return Fail(x, current, "the target path is too long for this system");
    size_t relativeStart = strlen(folder) + 1;
    for (char* p = target + relativeStart; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/')
            *p = NativeSeparator;
    if (!CreateFoldersOf(x, current, target, relativeStart))
        return false;
    if (InspectPath(target, nullptr) == PathFolder)
        return Fail(x, current, "a folder stands where the file goes: ", target);

    char temporary[ToolPathSize];
    length = snprintf(temporary, sizeof temporary, "%s.zpack-%lu-%lu.tmp", target, CurrentProcessId(),
                      static_cast<unsigned long>(walker->Index));
    if (length < 0 || static_cast<size_t>(length) >= sizeof temporary)
        return Fail(x, current, "the target path is too long for this system");
    FILE* file = CreateNewFile(temporary);
    if (file == nullptr)
        return Fail(x, current, "cannot create ", temporary);
    x->Temporaries.push_back(temporary);
    x->Targets.push_back(target);
    bool expanded = ReadEntryContent(walker, FileSink(file));
    bool closed = fclose(file) == 0;
    if (!expanded) {
        if (walker->Problem == PackageWriteFailed)
            return Fail(x, current, "cannot write ", temporary);
        ReportPackageProblem(x->Err, x->PackagePath, *walker);
        return false;
    }
    if (!closed)
        return Fail(x, current, "cannot write ", temporary);
    return true;
}

void Discard(Extraction* x, size_t firstTemporary)
{
    for (size_t i = firstTemporary; i < x->Temporaries.size(); ++i)
        RemoveFileAt(x->Temporaries[i].c_str());
    for (size_t i = x->CreatedFolders.size(); i > 0; --i)
        RemoveEmptyFolder(x->CreatedFolders[i - 1].c_str());
}

} // namespace

int ExtractPackageFiles(const char* packagePath, const char* folder, FILE* out, FILE* err)
{
    uint64_t size = 0;
    if (InspectPath(packagePath, &size) != PathRegularFile) {
        fprintf(err, "zpack: %s: no such package\n", packagePath);
        return 1;
    }
    FILE* file = OpenForReading(packagePath);
    if (file == nullptr) {
        fprintf(err, "zpack: %s: cannot open: %s\n", packagePath, strerror(errno));
        return 1;
    }
    Extraction x;
    x.PackagePath = packagePath;
    x.Err = err;
    PathKind kind = InspectPath(folder, nullptr);
    if (kind == PathMissing && MakeFolder(folder)) {
        x.CreatedFolders.push_back(folder);
    } else if (kind != PathFolder) {
        fprintf(err, "zpack: %s: %s\n", folder,
                kind == PathMissing ? "cannot create the folder" : "not a folder");
        fclose(file);
        return 1;
    }

    ProgressLine progress;
    char label[128];
    snprintf(label, sizeof label, "extracting %s", packagePath);
    BeginProgress(&progress, err, label, size);
    PackageWalker walker;
    BeginPackageWalk(&walker, FileSource(file));
    bool ok = true;
    while (ok && NextPackageEntry(&walker)) {
        ShowProgress(&progress, walker.EntryOffset, walker.Entry.TargetName);
        if (walker.NegativeStoredSize) {
            EndProgress(&progress);
            WarnNegativeSize(err, packagePath, walker);
        }
        ok = ExtractEntry(&x, &walker, folder);
    }
    EndProgress(&progress);
    fclose(file);
    if (ok && walker.Problem != PackageSound) {
        ReportPackageProblem(err, packagePath, walker);
        ok = false;
    }
    if (!ok) {
        Discard(&x, 0);
        return 1;
    }
    for (size_t i = 0; i < x.Temporaries.size(); ++i) {
        if (!MoveIntoPlace(x.Temporaries[i].c_str(), x.Targets[i].c_str())) {
            fprintf(err, "zpack: %s: cannot move into place: %s\n", x.Targets[i].c_str(), strerror(errno));
            // What was moved stays; the rest goes.
            x.CreatedFolders.clear();
            Discard(&x, i);
            return 1;
        }
    }
    WarnTrailingBytes(err, packagePath, walker);
    fprintf(out, "zpack: extracted %lu entries from %s into %s\n", static_cast<unsigned long>(walker.Count),
            packagePath, folder);
    return 0;
}
