// Package headers for tests, through the shared encoder. Win32-free: used by the format and zpack
// tests on both presets and by the setup program's extraction tests.
#pragma once

#include "format/PackageFormat.h"

#include <stdint.h>
#include <string.h>

#include <string>

// A decoded header whose text fields take the given bytes and zero-fill the rest of their 64
// bytes, so that a 64-byte text stands without its terminator.
inline PackageEntry MakePackageEntry(const std::string& targetField, const std::string& displayField,
                                     int32_t storedSize = 0, uint16_t overwriteMode = 0)
{
    PackageEntry entry = {};
    memcpy(entry.TargetName, targetField.data(),
           targetField.size() < PackageTextSize ? targetField.size() : PackageTextSize);
    memcpy(entry.DisplayText, displayField.data(),
           displayField.size() < PackageTextSize ? displayField.size() : PackageTextSize);
    entry.StoredSize = storedSize;
    entry.OverwriteMode = overwriteMode;
    return entry;
}

// The same header as its 136 bytes.
inline std::string EntryHeader(const std::string& targetField, const std::string& displayField,
                               int32_t storedSize, uint16_t overwriteMode = 0)
{
    unsigned char bytes[PackageEntrySize];
    EncodePackageEntry(MakePackageEntry(targetField, displayField, storedSize, overwriteMode), bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}
