// libFuzzer target: any bytes as a package, walked as zpack verify and zpack list walk it.
#include "format/PackageWalker.h"

#include <stddef.h>
#include <stdint.h>

namespace {

void Walk(const uint8_t* data, size_t size, bool readContent, size_t sinkCapacity)
{
    static unsigned char output[1 << 16];
    MemoryReader reader = {data, size, 0};
    PackageWalker walker;
    BeginPackageWalk(&walker, MemorySource(&reader));
    uint32_t entries = 0;
    while (NextPackageEntry(&walker)) {
        if (walker.Index != entries++ || CheckPackageEntry(walker.Entry) != EntryIsSound)
            __builtin_trap();
        if (readContent) {
            MemoryWriter writer = {output, sinkCapacity < sizeof output ? sinkCapacity : sizeof output, 0};
            if (!ReadEntryContent(&walker, MemorySink(&writer)))
                break;
            if (walker.Compressed && writer.Size != walker.ExpandedSize)
                __builtin_trap();
        }
    }
    // Never more read than given, and a clean end accounts for every byte.
    if (walker.Offset > size || reader.Position != walker.Offset)
        __builtin_trap();
    if (walker.Problem == PackageSound && walker.Offset != size)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Walk(data, size, true, 1 << 16);
    Walk(data, size, true, size % 97);
    Walk(data, size, false, 0);
    return 0;
}
