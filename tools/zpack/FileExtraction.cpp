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

// One expanded entry on its way to its target.
struct Placement {
    std::string Temporary;
    std::string Target;
    std::string Backup; // the file the target held, set aside until the end; empty when none
    bool Moved;         // the temporary is the target now
};

struct Extraction {
    const char* PackagePath;
    FILE* Err;
    std::vector<std::string> CreatedFolders; // in creation order
    std::vector<Placement> Files;            // in package order
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
    x->Files.push_back(Placement{temporary, target, std::string(), false});
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

// Moves one expanded file to its target, setting aside the file the target holds.
bool PlaceFile(Extraction* x, Placement* file, size_t index)
{
    PathKind kind = InspectPath(file->Target.c_str(), nullptr);
    if (kind == PathRegularFile) {
        char backup[ToolPathSize];
        int length = snprintf(backup, sizeof backup, "%s.zpack-%lu-%lu.old", file->Target.c_str(),
                              CurrentProcessId(), static_cast<unsigned long>(index));
        if (length < 0 || static_cast<size_t>(length) >= sizeof backup ||
            InspectPath(backup, nullptr) != PathMissing || !MoveIntoPlace(file->Target.c_str(), backup)) {
            fprintf(x->Err, "zpack: %s: cannot set the existing file aside\n", file->Target.c_str());
            return false;
        }
        file->Backup = backup;
    } else if (kind != PathMissing) {
        fprintf(x->Err, "zpack: %s: not a file, cannot be replaced\n", file->Target.c_str());
        return false;
    }
    if (!MoveIntoPlace(file->Temporary.c_str(), file->Target.c_str())) {
        fprintf(x->Err, "zpack: %s: cannot move into place: %s\n", file->Target.c_str(), strerror(errno));
        return false;
    }
    file->Moved = true;
    return true;
}

// Undoes everything: files moved into place go and the files they replaced come back, latest
// first (an earlier entry may have the same target); temporaries go, then the folders made.
void Discard(Extraction* x)
{
    for (size_t i = x->Files.size(); i > 0; --i) {
        Placement& file = x->Files[i - 1];
        RemoveFileAt(file.Moved ? file.Target.c_str() : file.Temporary.c_str());
        if (!file.Backup.empty() && !MoveIntoPlace(file.Backup.c_str(), file.Target.c_str()))
            fprintf(x->Err, "zpack: %s: cannot be restored; its previous content is in %s\n",
                    file.Target.c_str(), file.Backup.c_str());
    }
    for (size_t i = x->CreatedFolders.size(); i > 0; --i)
        RemoveEmptyFolder(x->CreatedFolders[i - 1].c_str());
}

// Reads every header as the setup program would, without expanding: a faulty header, a file
// where another entry needs a folder or a package cut short is refused before anything is made.
bool CheckHeaders(FILE* file, const char* packagePath, uint64_t size, FILE* err)
{
    ProgressLine progress;
    char label[128];
    snprintf(label, sizeof label, "checking %s", packagePath);
    BeginProgress(&progress, err, label, size);
    PackageWalker walker;
    BeginPackageWalk(&walker, FileSource(file));
    while (NextPackageEntry(&walker))
        ShowProgress(&progress, walker.EntryOffset, walker.Entry.TargetName);
    EndProgress(&progress);
    if (walker.Problem != PackageSound) {
        ReportPackageProblem(err, packagePath, walker);
        return false;
    }
    if (!SeekTo(file, 0)) {
        fprintf(err, "zpack: %s: cannot read it again: %s\n", packagePath, strerror(errno));
        return false;
    }
    return true;
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
    if (!CheckHeaders(file, packagePath, size, err)) {
        fclose(file);
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
    for (size_t i = 0; ok && i < x.Files.size(); ++i)
        ok = PlaceFile(&x, &x.Files[i], i);
    if (!ok) {
        Discard(&x);
        return 1;
    }
    for (const Placement& placed : x.Files)
        if (!placed.Backup.empty() && !RemoveFileAt(placed.Backup.c_str()))
            fprintf(err, "zpack: warning: %s: cannot remove the replaced file\n", placed.Backup.c_str());
    WarnTrailingBytes(err, packagePath, walker);
    fprintf(out, "zpack: extracted %lu entries from %s into %s\n", static_cast<unsigned long>(walker.Count),
            packagePath, folder);
    return 0;
}
