// The floor the design sets for an installation: the platform's LZ expansion alone turning each
// entry's stored bytes into a file, in one process. Run under Wine by bench/run:
//   LzFloor PACKAGE FOLDER
// First writes every entry's stored bytes to FOLDER\stored\N (not timed), then expands each with
// LZOpenFileA and LZCopy to FOLDER\expanded\N and prints "floor SECONDS" for that loop.
#include "format/PackageFormat.h"

#include <windows.h>

#include <lzexpand.h>

#include <stdio.h>

namespace {

double Seconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool NumberedPath(char* path, const char* folder, const char* kind, unsigned index)
{
    int length = snprintf(path, MAX_PATH, "%s\\%s\\%u", folder, kind, index);
    return length > 0 && length < MAX_PATH;
}

// Splits the package into one file of stored bytes per entry; the number of entries, or -1.
int SplitPackage(const char* packagePath, const char* folder)
{
    HANDLE package = CreateFileA(packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (package == INVALID_HANDLE_VALUE)
        return -1;
    static unsigned char buffer[1 << 16];
    unsigned count = 0;
    bool ok = true;
    for (;;) {
        unsigned char bytes[PackageEntrySize];
        DWORD got = 0;
        if (!ReadFile(package, bytes, sizeof bytes, &got, nullptr) || got < sizeof bytes)
            break;
        PackageEntry entry;
        DecodePackageEntry(bytes, &entry);
        char path[MAX_PATH];
        ok = NumberedPath(path, folder, "stored", count);
        HANDLE stored =
            ok ? CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
               : INVALID_HANDLE_VALUE;
        ok = stored != INVALID_HANDLE_VALUE;
        for (DWORD left = StoredByteCount(entry); ok && left > 0;) {
            DWORD chunk = left < sizeof buffer ? left : sizeof buffer;
            DWORD written = 0;
            ok = ReadFile(package, buffer, chunk, &got, nullptr) && got == chunk &&
                 WriteFile(stored, buffer, chunk, &written, nullptr) && written == chunk;
            left -= chunk;
        }
        if (stored != INVALID_HANDLE_VALUE)
            CloseHandle(stored);
        if (!ok)
            break;
        ++count;
    }
    CloseHandle(package);
    return ok ? static_cast<int>(count) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: LzFloor PACKAGE FOLDER\n");
        return 2;
    }
    char stored[MAX_PATH], expanded[MAX_PATH];
    snprintf(stored, sizeof stored, "%s\\stored", argv[2]);
    snprintf(expanded, sizeof expanded, "%s\\expanded", argv[2]);
    CreateDirectoryA(argv[2], nullptr);
    CreateDirectoryA(stored, nullptr);
    CreateDirectoryA(expanded, nullptr);
    int count = SplitPackage(argv[1], argv[2]);
    if (count < 0) {
        fprintf(stderr, "LzFloor: cannot split %s into %s\n", argv[1], stored);
        return 1;
    }
    double start = Seconds();
    for (int i = 0; i < count; ++i) {
        char from[MAX_PATH], to[MAX_PATH];
        NumberedPath(from, argv[2], "stored", static_cast<unsigned>(i));
        NumberedPath(to, argv[2], "expanded", static_cast<unsigned>(i));
        OFSTRUCT openFile = {};
        INT source = LZOpenFileA(from, &openFile, OF_READ);
        INT target = LZOpenFileA(to, &openFile, OF_CREATE | OF_READWRITE);
        LONG copied = source >= 0 && target >= 0 ? LZCopy(source, target) : -1;
        if (source >= 0)
            LZClose(source);
        if (target >= 0)
            LZClose(target);
        if (copied < 0) {
            fprintf(stderr, "LzFloor: cannot expand %s\n", from);
            return 1;
        }
    }
    printf("floor %.4f\n", Seconds() - start);
    return 0;
}
