// libFuzzer target: any bytes compressed and expanded again must come back unchanged, in no more
// room than storing every byte as a literal takes.
#include "format/SzddCompressor.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static unsigned char compressed[1 << 20];
    static unsigned char expanded[1 << 19];
    if (size > sizeof expanded)
        return 0;
    MemoryReader reader = {data, size, 0};
    MemoryWriter writer = {compressed, sizeof compressed, 0};
    SzddReport report;
    if (CompressSzdd(MemorySource(&reader), MemorySink(&writer), static_cast<uint32_t>(size), 0, &report) !=
        SzddOk)
        __builtin_trap();
    if (writer.Size > SzddHeaderSize + size + (size + 7) / 8)
        __builtin_trap();
    MemoryReader back = {compressed, writer.Size, 0};
    MemoryWriter out = {expanded, sizeof expanded, 0};
    if (ExpandSzdd(MemorySource(&back), MemorySink(&out), &report) != SzddOk)
        __builtin_trap();
    if (out.Size != size || (size > 0 && memcmp(expanded, data, size) != 0))
        __builtin_trap();
    return 0;
}
