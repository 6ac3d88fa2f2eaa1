#include "VersionResource.h"

#include <string.h>

namespace {

const uint16_t ResourceTypeVersion = 16;
const uint32_t ResourceNameVersion = 1;
const uint32_t ResourceDataIsDirectory = 0x80000000u;
const uint32_t ResourceNameIsString = 0x80000000u;
// The resource directory's entry in the optional header's data directories.
const uint32_t ResourceDirectoryIndex = 2;
// The fixed part (VS_FIXEDFILEINFO) is 13 DWORDs; the file version is its third and fourth.
const uint32_t FixedInfoSize = 52;

bool Fits(size_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

uint16_t Word(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Dword(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// One image: its bytes and the section table that maps relative virtual addresses to file
// offsets.
struct Image {
    const unsigned char* Data;
    size_t Size;
    uint64_t Sections;
    uint16_t SectionCount;
};

// The file offset of rva with length bytes behind it inside one section's raw data.
bool FileOffset(const Image& image, uint32_t rva, uint32_t length, uint64_t* offset)
{
    for (uint16_t i = 0; i < image.SectionCount; ++i) {
        const unsigned char* section = image.Data + image.Sections + 40u * i;
        uint32_t address = Dword(section + 12);
        uint32_t rawSize = Dword(section + 16);
        uint32_t rawOffset = Dword(section + 20);
        if (rva >= address && static_cast<uint64_t>(rva) - address + length <= rawSize) {
            *offset = static_cast<uint64_t>(rawOffset) + (rva - address);
            return Fits(image.Size, *offset, length);
        }
    }
    return false;
}

// The entry of the directory at directory (an offset inside the resource section at base) whose
// id is id, or the only entry when id is 0. Returns Absent when there is none.
ImageVersionResult FindEntry(const Image& image, uint64_t base, uint64_t sectionSize, uint32_t directory,
                             uint32_t id, uint32_t* target)
{
    if (!Fits(sectionSize, directory, 16))
        return ImageVersionUnknown;
    const unsigned char* header = image.Data + base + directory;
    uint32_t named = Word(header + 12);
    uint32_t ids = Word(header + 14);
    if (!Fits(sectionSize, directory + 16ull, 8ull * (named + ids)))
        return ImageVersionUnknown;
    if (id == 0) {
        if (named + ids != 1)
            return named + ids == 0 ? ImageVersionAbsent : ImageVersionUnknown;
        *target = Dword(header + 20);
        return ImageVersionFound;
    }
    for (uint32_t i = named; i < named + ids; ++i) {
        const unsigned char* entry = header + 16 + 8 * i;
        if ((Dword(entry) & ResourceNameIsString) == 0 && Dword(entry) == id) {
            *target = Dword(entry + 4);
            return ImageVersionFound;
        }
    }
    return ImageVersionAbsent;
}

} // namespace

ImageVersionResult ReadImageFileVersion(const unsigned char* data, size_t size, uint32_t* high, uint32_t* low)
{
    if (size < 64 || data[0] != 'M' || data[1] != 'Z')
        return ImageVersionAbsent;
    uint32_t pe = Dword(data + 0x3c);
    if (!Fits(size, pe, 24) || memcmp(data + pe, "PE\0\0", 4) != 0)
        return ImageVersionUnknown;
    uint16_t sectionCount = Word(data + pe + 6);
    uint16_t optionalSize = Word(data + pe + 20);
    uint64_t optional = pe + 24ull;
    if (!Fits(size, optional, optionalSize) || optionalSize < 2)
        return ImageVersionUnknown;
    uint16_t magic = Word(data + optional);
    uint64_t directories;
    if (magic == 0x10b)
        directories = optional + 96;
    else if (magic == 0x20b)
        directories = optional + 112;
    else
        return ImageVersionUnknown;
    if (directories > optional + optionalSize)
        return ImageVersionUnknown;
    uint64_t directoryEntry = directories + 8ull * ResourceDirectoryIndex;
    if (directoryEntry + 8 > optional + optionalSize ||
        Dword(data + directories - 4) <= ResourceDirectoryIndex)
        return ImageVersionAbsent;
    uint32_t resourceRva = Dword(data + directoryEntry);
    uint32_t resourceSize = Dword(data + directoryEntry + 4);
    if (resourceRva == 0 || resourceSize == 0)
        return ImageVersionAbsent;
    Image image = {data, size, optional + optionalSize, sectionCount};
    if (!Fits(size, image.Sections, 40ull * sectionCount))
        return ImageVersionUnknown;
    uint64_t base;
    if (!FileOffset(image, resourceRva, resourceSize, &base))
        return ImageVersionUnknown;

    // Type, then name, then language: each level's entry names the next directory.
    uint32_t next = 0;
    ImageVersionResult found = FindEntry(image, base, resourceSize, 0, ResourceTypeVersion, &next);
    if (found != ImageVersionFound)
        return found;
    const uint32_t levels[] = {ResourceNameVersion, 0};
    for (uint32_t id : levels) {
        if ((next & ResourceDataIsDirectory) == 0)
            return ImageVersionUnknown;
        found = FindEntry(image, base, resourceSize, next & ~ResourceDataIsDirectory, id, &next);
        if (found != ImageVersionFound)
            return found;
    }
    if ((next & ResourceDataIsDirectory) != 0 || !Fits(resourceSize, next, 16))
        return ImageVersionUnknown;
    const unsigned char* dataEntry = data + base + next;
    uint64_t block;
    uint32_t blockSize = Dword(dataEntry + 4);
    if (!FileOffset(image, Dword(dataEntry), blockSize, &block))
        return ImageVersionUnknown;

    // VS_VERSIONINFO: length, value length, type, the key "VS_VERSION_INFO" in UTF-16, padding to
    // a 32-bit boundary, then the fixed part.
    static const char Key[] = "VS_VERSION_INFO";
    const uint64_t fixed = 40;
    if (blockSize < fixed + FixedInfoSize)
        return ImageVersionUnknown;
    const unsigned char* info = data + block;
    for (size_t i = 0; i < sizeof Key; ++i)
        if (Word(info + 6 + 2 * i) != static_cast<unsigned char>(Key[i]))
            return ImageVersionUnknown;
    if (Word(info + 2) < FixedInfoSize)
        return ImageVersionUnknown;
    *high = Dword(info + fixed + 8);
    *low = Dword(info + fixed + 12);
    return ImageVersionFound;
}
