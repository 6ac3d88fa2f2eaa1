// The version reader over images built here byte by byte (every layout it must follow, refuse or
// leave to the platform, and every cut of a sound image), and, on Windows, over real programs
// against the platform's own version functions.
#include "format/VersionResource.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include "support/ScopedTempDir.h"

#include <windows.h>
#endif

namespace {

void PutWord(std::string& s, size_t at, uint32_t v)
{
    s[at] = static_cast<char>(v & 0xff);
    s[at + 1] = static_cast<char>(v >> 8 & 0xff);
}
void PutDword(std::string& s, size_t at, uint32_t v)
{
    PutWord(s, at, v & 0xffff);
    PutWord(s, at + 2, v >> 16);
}

// How a built image differs from a sound one.
struct Layout {
    bool Pe32Plus = false;
    int Languages = 1;     // entries under the version name
    uint32_t TypeId = 16;  // the resource type holding the version
    uint32_t NameId = 1;   // the version's name
    bool Resources = true; // a resource directory at all
    std::string Key = "VS_VERSION_INFO";
    uint32_t ValueLength = 52;
};

// A program image with one section holding the resource tree and a version block whose file
// version is 1.2.3.4 (high 0x00010002, low 0x00030004).
std::string BuildImage(const Layout& layout)
{
    const size_t pe = 0x80;
    const size_t optionalSize = layout.Pe32Plus ? 240 : 224;
    const size_t sectionTable = pe + 24 + optionalSize;
    const size_t raw = 0x200;
    const uint32_t rva = 0x1000;
    std::string image(raw + 0x200, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    PutDword(image, 0x3c, pe);
    image.replace(pe, 4, std::string("PE\0\0", 4));
    PutWord(image, pe + 4, layout.Pe32Plus ? 0x8664 : 0x14c);
    PutWord(image, pe + 6, 1);
    PutWord(image, pe + 20, static_cast<uint32_t>(optionalSize));
    const size_t optional = pe + 24;
    PutWord(image, optional, layout.Pe32Plus ? 0x20b : 0x10b);
    const size_t directories = optional + (layout.Pe32Plus ? 112 : 96);
    PutDword(image, directories - 4, 16);
    if (layout.Resources) {
        PutDword(image, directories + 16, rva);
        PutDword(image, directories + 20, 0x200);
    }
    image.replace(sectionTable, 5, ".rsrc");
    PutDword(image, sectionTable + 8, 0x200);
    PutDword(image, sectionTable + 12, rva);
    PutDword(image, sectionTable + 16, 0x200);
    PutDword(image, sectionTable + 20, raw);

    // Directories at 0x00 (types), 0x18 (names), 0x30 (languages), data entries from 0x60, the
    // block at 0x100.
    auto directory = [&](size_t at, uint32_t id, uint32_t target, int count) {
        PutWord(image, raw + at + 14, static_cast<uint32_t>(count));
        for (int i = 0; i < count; ++i) {
            PutDword(image, raw + at + 16 + 8 * i, id + i);
            PutDword(image, raw + at + 20 + 8 * i, target + 16 * i);
        }
    };
    directory(0x00, layout.TypeId, 0x80000018, 1);
    directory(0x18, layout.NameId, 0x80000030, 1);
    directory(0x30, 0x409, 0x60, layout.Languages);
    for (int i = 0; i < layout.Languages; ++i) {
        PutDword(image, raw + 0x60 + 16 * i, rva + 0x100);
        PutDword(image, raw + 0x64 + 16 * i, 92);
    }
    const size_t block = raw + 0x100;
    PutWord(image, block, 92);
    PutWord(image, block + 2, layout.ValueLength);
    PutWord(image, block + 4, 0);
    for (size_t i = 0; i < layout.Key.size(); ++i)
        PutWord(image, block + 6 + 2 * i, static_cast<unsigned char>(layout.Key[i]));
    PutDword(image, block + 40, 0xfeef04bd);
    PutDword(image, block + 48, 0x00010002);
    PutDword(image, block + 52, 0x00030004);
    return image;
}

ImageVersionResult Read(const std::string& bytes, uint32_t* high, uint32_t* low)
{
    // Exactly the bytes, in a buffer of their own, so that a read past the end is caught.
    std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    return ReadImageFileVersion(copy.data(), copy.size(), high, low);
}

TEST(VersionResource, EachLayoutIsReadRefusedOrLeftToThePlatform)
{
    struct Case {
        const char* Name;
        Layout Shape;
        ImageVersionResult Expected;
    };
    Layout plus;
    plus.Pe32Plus = true;
    Layout twoLanguages;
    twoLanguages.Languages = 2;
    Layout noResources;
    noResources.Resources = false;
    Layout otherType;
    otherType.TypeId = 3;
    Layout otherName;
    otherName.NameId = 2;
    Layout otherKey;
    otherKey.Key = "VS_VERSION_INFX";
    Layout noValue;
    noValue.ValueLength = 0;
    const Case cases[] = {
        {"32-bit image", Layout(), ImageVersionFound},
        {"64-bit image", plus, ImageVersionFound},
        {"two languages", twoLanguages, ImageVersionUnknown},
        {"no resources", noResources, ImageVersionAbsent},
        {"no version type", otherType, ImageVersionAbsent},
        {"version under another name", otherName, ImageVersionAbsent},
        {"another key", otherKey, ImageVersionUnknown},
        {"no fixed part", noValue, ImageVersionUnknown},
    };
    for (const Case& c : cases) {
        uint32_t high = 0xdead, low = 0xbeef;
        EXPECT_EQ(Read(BuildImage(c.Shape), &high, &low), c.Expected) << c.Name;
        if (c.Expected == ImageVersionFound) {
            EXPECT_EQ(high, 0x00010002u) << c.Name;
            EXPECT_EQ(low, 0x00030004u) << c.Name;
        } else {
            EXPECT_EQ(high, 0xdeadu) << c.Name << ": written without a version";
        }
    }
    uint32_t high = 0, low = 0;
    EXPECT_EQ(Read("Readme: plain text, no program", &high, &low), ImageVersionAbsent);
    EXPECT_EQ(Read("", &high, &low), ImageVersionAbsent);
    std::string neImage = BuildImage(Layout());
    neImage.replace(0x80, 4, std::string("NE\0\0", 4));
    EXPECT_EQ(Read(neImage, &high, &low), ImageVersionUnknown) << "16-bit images are the platform's";
}

TEST(VersionResource, ACutImageIsNeverReadAsAnotherVersion)
{
    const std::string whole = BuildImage(Layout());
    for (size_t size = 0; size < whole.size(); ++size) {
        uint32_t high = 0, low = 0;
        ImageVersionResult result = Read(whole.substr(0, size), &high, &low);
        if (result == ImageVersionFound) {
            EXPECT_TRUE(high == 0x00010002u && low == 0x00030004u) << "cut at " << size;
        }
        // Cut inside the resource section the image cannot be followed to its version.
        if (size < 0x200 + 0x200) {
            EXPECT_NE(result, ImageVersionFound) << "cut at " << size;
        }
    }
}

#ifdef _WIN32
// The programs beside this test and the stand-in product, read here and by the platform.
TEST(VersionResource, RealProgramsReadAsThePlatformReadsThem)
{
    char self[MAX_PATH] = "";
    ASSERT_NE(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    std::string folder(self);
    folder.erase(folder.rfind('\\'));
    const std::string programs[] = {
        self,
        folder + "\\..\\src\\Setup.exe",
        folder + "\\..\\demo\\tpz2.exe",
        folder + "\\versioned-1.2.3.5.exe",
        folder + "\\versioned-40000.0.0.0.exe",
    };
    int found = 0;
    for (const std::string& path : programs) {
        std::string bytes = ReadTestFile(path);
        ASSERT_FALSE(bytes.empty()) << path;
        uint32_t high = 0, low = 0;
        ImageVersionResult result = Read(bytes, &high, &low);
        DWORD unused = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &unused);
        std::vector<char> block(size + 1);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        bool platform = size != 0 && GetFileVersionInfoA(path.c_str(), 0, size, block.data()) &&
                        VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) &&
                        length >= sizeof *fixed;
        ASSERT_NE(result, ImageVersionUnknown) << path;
        EXPECT_EQ(result == ImageVersionFound, platform) << path;
        if (result == ImageVersionFound && platform) {
            EXPECT_EQ(high, fixed->dwFileVersionMS) << path;
            EXPECT_EQ(low, fixed->dwFileVersionLS) << path;
            ++found;
        }
    }
    EXPECT_GE(found, 3) << "the versioned programs and Setup.exe carry versions";
}
#endif

} // namespace
