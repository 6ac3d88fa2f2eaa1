// The file version of a Windows program or library held in memory, read from its version
// resource as the platform's version functions read it from a file: resource type 16, name 1,
// its one language, the fixed part's file version. Needs no Win32, so the extraction can compare
// versions without writing the new file anywhere first.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum ImageVersionResult {
    // A version was read: *high and *low hold the fixed part's file version (most and least
    // significant 32 bits).
    ImageVersionFound,
    // The bytes hold no version the platform could read: not a program image at all, or a
    // 32- or 64-bit image without a version resource.
    ImageVersionAbsent,
    // An image this reader does not follow to the end (16-bit or other formats, several
    // languages, a layout it does not know, data cut short): ask the platform.
    ImageVersionUnknown,
};

// Reads data[0, size) only; *high and *low are written only for ImageVersionFound.
ImageVersionResult ReadImageFileVersion(const unsigned char* data, size_t size, uint32_t* high,
                                        uint32_t* low);
