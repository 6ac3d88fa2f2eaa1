// libFuzzer target: any bytes as a program image whose file version is read.
#include "format/VersionResource.h"

#include <stddef.h>
#include <stdint.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint32_t high = 0;
    uint32_t low = 0;
    ReadImageFileVersion(data, size, &high, &low);
    return 0;
}
