#include "format/PackageFormat.h"

#include <string.h>

namespace {

uint32_t ReadLittle32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void WriteLittle32(unsigned char* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Windows drops trailing dots and blanks from a component, so ". ", "..." and ".. " all end up
// naming the current or parent folder.
bool IsDotsComponent(const char* begin, const char* end)
{
    bool hasDot = false;
    for (const char* p = begin; p < end; ++p) {
        if (*p == '.')
            hasDot = true;
        else if (*p != ' ')
            return false;
    }
    return hasDot;
}

bool HasReservedNameCharacter(const char* path)
{
    for (; *path != '\0'; ++path)
        if (IsReservedNameCharacter(*path))
            return true;
    return false;
}

} // namespace

void DecodePackageEntry(const unsigned char bytes[PackageEntrySize], PackageEntry* entry)
{
    memcpy(entry->TargetName, bytes, PackageTextSize);
    memcpy(entry->DisplayText, bytes + 64, PackageTextSize);
    entry->StoredSize = static_cast<int32_t>(ReadLittle32(bytes + 128));
    entry->OverwriteMode = static_cast<uint16_t>(bytes[132] | bytes[133] << 8);
    entry->Reserved = static_cast<uint16_t>(bytes[134] | bytes[135] << 8);
}

void EncodePackageEntry(const PackageEntry& entry, unsigned char bytes[PackageEntrySize])
{
    memcpy(bytes, entry.TargetName, PackageTextSize);
    memcpy(bytes + 64, entry.DisplayText, PackageTextSize);
    WriteLittle32(bytes + 128, static_cast<uint32_t>(entry.StoredSize));
    bytes[132] = static_cast<unsigned char>(entry.OverwriteMode);
    bytes[133] = static_cast<unsigned char>(entry.OverwriteMode >> 8);
    bytes[134] = static_cast<unsigned char>(entry.Reserved);
    bytes[135] = static_cast<unsigned char>(entry.Reserved >> 8);
}

uint32_t StoredByteCount(const PackageEntry& entry)
{
    return entry.StoredSize > 0 ? static_cast<uint32_t>(entry.StoredSize) : 0;
}

bool IsSystemFolderTarget(const PackageEntry& entry) { return entry.TargetName[0] == SystemFolderMark; }

const char* TargetRelativePath(const PackageEntry& entry)
{
    return IsSystemFolderTarget(entry) ? entry.TargetName + SystemFolderNameOffset : entry.TargetName;
}

bool IsDeviceName(const char* begin, const char* end)
{
    const char* stem = begin;
    while (stem < end && *stem != '.')
        ++stem;
    while (stem > begin && stem[-1] == ' ')
        --stem;
    size_t length = static_cast<size_t>(stem - begin);
    char upper[5] = {0};
    if (length < 3 || length > 4)
        return false;
    for (size_t i = 0; i < length; ++i)
        upper[i] = (begin[i] >= 'a' && begin[i] <= 'z') ? static_cast<char>(begin[i] - 'a' + 'A') : begin[i];
    if (length == 3)
        return !strcmp(upper, "CON") || !strcmp(upper, "PRN") || !strcmp(upper, "AUX") ||
               !strcmp(upper, "NUL");
    return (!strncmp(upper, "COM", 3) || !strncmp(upper, "LPT", 3)) && upper[3] >= '1' && upper[3] <= '9';
}

bool IsReservedNameCharacter(char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return (byte >= 1 && byte < 32) || (byte != 0 && strchr("<>\"|?*", byte) != nullptr);
}

bool IsContainedRelativePath(const char* path)
{
    if (path[0] == '\0' || IsSeparator(path[0]))
        return false;
    const char* begin = path;
    for (;;) {
        const char* end = begin;
        while (*end != '\0' && !IsSeparator(*end)) {
            // A colon is a drive (C:x) or a stream (name:stream); neither belongs in a target.
            // The other reserved characters would make the file calls fail.
            if (*end == ':' || IsReservedNameCharacter(*end))
                return false;
            ++end;
        }
        if (end == begin || IsDotsComponent(begin, end) || IsDeviceName(begin, end))
            return false;
        if (*end == '\0')
            return true;
        begin = end + 1;
    }
}

EntryFault CheckPackageEntry(const PackageEntry& entry)
{
    size_t start = IsSystemFolderTarget(entry) ? SystemFolderNameOffset : 0;
    if (memchr(entry.TargetName + start, '\0', PackageTextSize - start) == nullptr)
        return TargetUnterminated;
    if (memchr(entry.DisplayText, '\0', PackageTextSize) == nullptr)
        return DisplayTextUnterminated;
    const char* relative = TargetRelativePath(entry);
    if (relative[0] == '\0')
        return TargetEmpty;
    if (HasReservedNameCharacter(relative))
        return TargetBadCharacter;
    if (!IsContainedRelativePath(relative))
        return TargetLeavesFolder;
    return EntryIsSound;
}

const char* DescribeEntryFault(EntryFault fault)
{
    switch (fault) {
    case EntryIsSound:
        return "sound";
    case TargetUnterminated:
        return "target name without its terminator";
    case DisplayTextUnterminated:
        return "display text without its terminator";
    case TargetEmpty:
        return "empty target name";
    case TargetLeavesFolder:
        return "target name would leave its folder";
    case TargetBadCharacter:
        return "target name holds a character Windows does not allow in file names";
    }
    return "unknown fault";
}
