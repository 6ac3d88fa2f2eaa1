// The install benchmark, run under Wine by bench/run:
//   InstallBench PACKAGE FOLDER LOG
//     installs PACKAGE into FOLDER (which need not exist) with ExtractPackage, the progress dialog
//     shown, writing the install log LOG; prints "install SECONDS".
//   InstallBench --parts PACKAGE FOLDER LOG
//     does the same work step by step as ExtractPackage does it and prints the seconds of each
//     kind of step, to show where the time goes.
//   InstallBench --file-floor design|new-files PACKAGE FOLDER
//     the floor the file operations set, with nothing expanded, logged or shown; prints
//     "floor MODE SECONDS". design: the design's operations per entry (the stored bytes into a
//     stored-bytes temporary made anew and deleted, the expanded length written over the expansion
//     temporary, a new file of that length at the target); new-files: only the new file of each
//     entry, as any installer makes it.
// Times are wall clock from the first header read to the last file in place.
#include "core/FileAccess.h"
#include "core/PathUtilities.h"
#include "core/ZorvaneException.h"
#include "core/SetupState.h"
#include "format/PackageFormat.h"
#include "format/SzddFormat.h"
#include "payload/InstallLog.h"
#include "driver/PackageInstall.h"
#include "payload/EntryExpansion.h"
#include "payload/EntryPlacement.h"
#include "ui/ProgressDisplay.h"

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <stdio.h>
#include <string.h>

namespace {

double Seconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Kinds of step.
enum Part {
    StoredPass,
    TemporaryDeleted,
    Folders,
    TargetCheck,
    CopyIntoPlace,
    Logging,
    StatusText,
    ProgressBar,
    HeaderRead,
    PartCount
};
const char* const PartNames[PartCount] = {"stored bytes to both temporaries",
                                          "stored-bytes temporary deleted",
                                          "folders",
                                          "target looked up",
                                          "copy into place",
                                          "logging",
                                          "status text",
                                          "progress bar",
                                          "header read"};

struct Clock {
    double Spent[PartCount];
    double Started;
    Part Current;
};

void Switch(Clock* clock, Part next)
{
    double now = Seconds();
    clock->Spent[clock->Current] += now - clock->Started;
    clock->Started = now;
    clock->Current = next;
}

// The next entry's header; false at the end of the package.
bool ReadEntry(FileReader& package, PackageEntry* entry)
{
    unsigned char bytes[PackageEntrySize];
    try {
        package.Read(bytes, sizeof bytes);
    } catch (const ZorvaneException&) {
        return false;
    }
    DecodePackageEntry(bytes, entry);
    return true;
}

// ExtractPackage's steps for every entry, in its order and with its calls, each kind timed.
// Assumes a sound package whose targets are all new.
void ExtractInParts(HWND progress, FileReader& package, FileWriter& log, Clock* clock)
{
    DWORD packageSize = package.Size();
    char folder[MAX_PATH], storedPath[MAX_PATH], expandedPath[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "~vt", 0, storedPath);
    GetTempFileNameA(folder, "~vx", 0, expandedPath);
    ExpansionFile expanded(expandedPath);
    HeldContent held = {};
    char shownText[PackageTextSize] = "";
    unsigned shownPercent = ~0u;
    clock->Current = HeaderRead;
    clock->Started = Seconds();
    for (;;) {
        Switch(clock, HeaderRead);
        PackageEntry entry;
        if (!ReadEntry(package, &entry))
            break;
        char target[MAX_PATH];
        if (IsSystemFolderTarget(entry))
            GetSystemDirectoryA(target, MAX_PATH);
        else
            lstrcpynA(target, DestinationFolder, MAX_PATH);
        AppendPathComponent(target, TargetRelativePath(entry));

        Switch(clock, StatusText);
        if (strcmp(shownText, entry.DisplayText) != 0) {
            SetProgressStatus(progress, entry.DisplayText);
            lstrcpynA(shownText, entry.DisplayText, sizeof shownText);
        }
        Switch(clock, StoredPass);
        {
            FileWriter stored(storedPath, FileWriter::DeleteWhenClosed);
            PassStoredBytes(package, entry.StoredSize, &stored, expanded, &held);
            Switch(clock, TemporaryDeleted);
        }

        Switch(clock, Folders);
        char targetFolder[MAX_PATH], baseName[MAX_PATH], extension[MAX_PATH];
        SplitPath(target, targetFolder, baseName, extension);
        int created = 0;
        CreateFolderChain(targetFolder, &created);
        Switch(clock, Logging);
        if (created)
            WriteLogRecord(log, FolderRecord, targetFolder);

        Switch(clock, TargetCheck);
        GetFileAttributesA(target);
        Switch(clock, Logging);
        WriteLogRecord(log, FileRecord, target);
        Switch(clock, CopyIntoPlace);
        if (held.Whole)
            WriteNewFile(target, held);
        else
            expanded.CopyToNewFile(target);

        Switch(clock, ProgressBar);
        unsigned percent = static_cast<unsigned>(static_cast<ULONGLONG>(package.Tell()) * 100 /
                                                 (packageSize > 0 ? packageSize : 1));
        if (percent != shownPercent) {
            SetProgressPosition(progress, percent);
            shownPercent = percent;
        }
    }
    Switch(clock, HeaderRead);
    if (held.Data != nullptr)
        HeapFree(GetProcessHeap(), 0, held.Data);
    expanded.Release();
    DeleteFileA(storedPath);
    DeleteFileA(expandedPath);
}

// The file operations of every entry of package with its bytes unexpanded: the expanded length
// (from the compressed data's header, else the stored size) is written as zeros. Throws what the
// file classes throw.
void WriteFilesOnly(FileReader& package, const char* folder, bool designTemporaries)
{
    char temporaryFolder[MAX_PATH], storedPath[MAX_PATH], expandedPath[MAX_PATH];
    GetTempPathA(sizeof temporaryFolder, temporaryFolder);
    GetTempFileNameA(temporaryFolder, "~vt", 0, storedPath);
    GetTempFileNameA(temporaryFolder, "~vx", 0, expandedPath);
    ExpansionFile expanded(expandedPath);
    static unsigned char chunk[64 * 1024];
    static const unsigned char zeros[64 * 1024] = {};
    PackageEntry entry;
    while (ReadEntry(package, &entry)) {
        char target[MAX_PATH];
        lstrcpynA(target, folder, MAX_PATH);
        AppendPathComponent(target, TargetRelativePath(entry));
        uint32_t length = entry.StoredSize > 0 ? static_cast<uint32_t>(entry.StoredSize) : 0;
        {
            std::unique_ptr<FileWriter> stored;
            if (designTemporaries)
                stored.reset(new FileWriter(storedPath, FileWriter::DeleteWhenClosed));
            for (int32_t left = entry.StoredSize, first = 1; left > 0; first = 0) {
                DWORD count =
                    left < static_cast<int32_t>(sizeof chunk) ? static_cast<DWORD>(left) : sizeof chunk;
                package.Read(chunk, count);
                if (stored)
                    stored->Write(chunk, count);
                if (first && LooksCompressed(chunk, count)) {
                    SzddHeader header;
                    DecodeSzddHeader(chunk, &header);
                    length = header.ExpandedLength;
                }
                left -= static_cast<int32_t>(count);
            }
        }
        if (designTemporaries) {
            expanded.Rewind();
            for (uint32_t left = length; left > 0;) {
                DWORD count = left < sizeof zeros ? left : sizeof zeros;
                expanded.Write(zeros, count);
                left -= count;
            }
            expanded.CutHere();
        }
        char targetFolder[MAX_PATH], baseName[MAX_PATH], extension[MAX_PATH];
        SplitPath(target, targetFolder, baseName, extension);
        CreateFolderChain(targetFolder);
        FileWriter file(target);
        for (uint32_t left = length; left > 0;) {
            DWORD count = left < sizeof zeros ? left : sizeof zeros;
            file.Write(zeros, count);
            left -= count;
        }
    }
    expanded.Release();
    DeleteFileA(storedPath);
    DeleteFileA(expandedPath);
}

int FileFloor(const char* mode, const char* packagePath, const char* folder)
{
    bool design = strcmp(mode, "design") == 0;
    try {
        FileReader package(packagePath);
        double start = Seconds();
        WriteFilesOnly(package, folder, design);
        printf("floor %s %.4f\n", design ? "design" : "new-files", Seconds() - start);
    } catch (const ZorvaneException& error) {
        fprintf(stderr, "InstallBench: %s\n", ComposeMessageText(error));
        return 1;
    }
    return 0;
}

int Usage()
{
    fprintf(stderr, "usage: InstallBench [--parts] PACKAGE FOLDER LOG\n"
                    "       InstallBench --file-floor design|new-files PACKAGE FOLDER\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && strcmp(argv[1], "--file-floor") == 0 &&
        (strcmp(argv[2], "design") == 0 || strcmp(argv[2], "new-files") == 0))
        return FileFloor(argv[2], argv[3], argv[4]);
    bool parts = argc == 5 && strcmp(argv[1], "--parts") == 0;
    if (argc != (parts ? 5 : 4))
        return Usage();
    const char* packagePath = argv[parts ? 2 : 1];
    const char* folder = argv[parts ? 3 : 2];
    const char* logPath = argv[parts ? 4 : 3];
    ModuleInstance = GetModuleHandleA(nullptr);
    InitCommonControls();
    lstrcpynA(DestinationFolder, folder, MAX_PATH);
    if (!CreateFolderChain(DestinationFolder)) {
        fprintf(stderr, "InstallBench: cannot create %s\n", DestinationFolder);
        return 1;
    }
    HWND progress = CreateProgressDisplay(nullptr);
    if (progress == nullptr) {
        fprintf(stderr, "InstallBench: cannot show the progress dialog\n");
        return 1;
    }
    int status = 0;
    try {
        FileReader package(packagePath);
        FileWriter log(logPath);
        if (parts) {
            Clock clock = {};
            double start = Seconds();
            ExtractInParts(progress, package, log, &clock);
            double total = Seconds() - start;
            for (int i = 0; i < PartCount; ++i)
                printf("part %s %.4f\n", PartNames[i], clock.Spent[i]);
            printf("parts total %.4f\n", total);
        } else {
            double start = Seconds();
            ExtractPackage(progress, package, log);
            printf("install %.4f\n", Seconds() - start);
        }
    } catch (const ZorvaneException& error) {
        fprintf(stderr, "InstallBench: %s\n", ComposeMessageText(error));
        status = 1;
    }
    DestroyWindow(progress);
    return status;
}
