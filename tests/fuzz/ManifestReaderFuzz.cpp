// libFuzzer target: any bytes as a zpack manifest, read beside two real source files.
#include "ManifestReader.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// One folder per fuzzing process, holding the manifest and the sources it may name.
const std::string& Folder()
{
    static std::string folder = [] {
        char pattern[] = "/tmp/zpack-manifest-fuzz-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            abort();
        std::string made = pattern;
        for (const char* name : {"/a", "/b.txt"}) {
            FILE* source = fopen((made + name).c_str(), "wb");
            if (source == nullptr)
                abort();
            fputs("source bytes\n", source);
            fclose(source);
        }
        return made;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string manifest = Folder() + "/input.zpack";
    FILE* file = fopen(manifest.c_str(), "wb");
    if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0)
        abort();
    static FILE* sink = fopen("/dev/null", "w");
    std::vector<ManifestEntry> entries;
    bool sound = ReadManifest(manifest.c_str(), &entries, sink);
    if (sound && entries.empty())
        __builtin_trap();
    for (const ManifestEntry& entry : entries) {
        // What the reader accepts is what the setup program can take.
        if (sound && (CheckManifestTarget(entry.Target) != nullptr || entry.DisplayText[0] == '\0' ||
                      memchr(entry.Target, 0, sizeof entry.Target) == nullptr))
            __builtin_trap();
    }
    return 0;
}
