// The package file Setup.z: entries back to back, each a 136-byte header followed by StoredSize
// stored bytes (SZDD-compressed or plain). No file header, count or trailer. Shared by the setup
// program and zpack; no Win32 here.
#pragma once

#include <stddef.h>
#include <stdint.h>

const size_t PackageEntrySize = 136;
const size_t PackageTextSize = 64;
// A system-folder target is '@', one unread byte, then the name.
const char SystemFolderMark = '@';
const size_t SystemFolderNameOffset = 2;

// The most bytes an entry may expand to: the setup program takes the announced length through
// LZSeek, whose position is a signed 32-bit value, and refuses a larger one as corrupt.
const uint32_t MaxExpandedEntrySize = 0x7FFFFFFF;

// OverwriteMode values; any value other than the first two means AlwaysReplace.
enum OverwriteMode : uint16_t {
    ReplaceIfNewer = 1,
    KeepExisting = 2,
    AlwaysReplace = 3,
};

// One decoded header. The text fields are kept exactly as stored: they need not hold a zero.
struct PackageEntry {
    char TargetName[PackageTextSize];  // offset 0
    char DisplayText[PackageTextSize]; // offset 64
    int32_t StoredSize;                // offset 128, little-endian; 0 or less: no bytes follow
    uint16_t OverwriteMode;            // offset 132, little-endian
    uint16_t Reserved;                 // offset 134, not read by the setup program
};

void DecodePackageEntry(const unsigned char bytes[PackageEntrySize], PackageEntry* entry);
void EncodePackageEntry(const PackageEntry& entry, unsigned char bytes[PackageEntrySize]);

// Bytes of stored data that follow the header: StoredSize, or 0 when it is 0 or negative.
uint32_t StoredByteCount(const PackageEntry& entry);

bool IsSystemFolderTarget(const PackageEntry& entry);

// The target's path relative to its base folder (the destination or the system folder).
// Only meaningful when CheckPackageEntry found the entry sound.
const char* TargetRelativePath(const PackageEntry& entry);

enum EntryFault {
    EntryIsSound,
    TargetUnterminated,      // no zero byte in the target field
    DisplayTextUnterminated, // no zero byte in the display text field
    TargetEmpty,             // nothing to name a file
    TargetLeavesFolder,      // absolute, drive, leading separator, a dot-dot component, a device
    TargetBadCharacter,      // a character Windows does not allow in file names (IsReservedNameCharacter)
};

EntryFault CheckPackageEntry(const PackageEntry& entry);
const char* DescribeEntryFault(EntryFault fault);

// True when the path component from begin to end (exclusive) names a device: CON, PRN, AUX, NUL,
// COM1 to COM9 or LPT1 to LPT9, whatever extension follows and ignoring case and trailing blanks.
bool IsDeviceName(const char* begin, const char* end);

// True for a character Windows does not allow in a file or folder name, apart from the separators
// and ':': < > " | ? * and the control characters 1 to 31.
bool IsReservedNameCharacter(char c);

// True when path (zero-terminated) names a file inside a base folder on Windows: relative, no
// drive or stream colon, no leading separator, no component that Windows would read as "..",
// no empty component, no trailing separator, no device name (CON, NUL, COM1...), no reserved
// character (IsReservedNameCharacter). Both slashes count as separators, as they do for the
// Windows file functions.
bool IsContainedRelativePath(const char* path);
