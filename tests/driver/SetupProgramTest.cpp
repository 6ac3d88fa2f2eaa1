// Checks of the shipped Setup.exe as a user's machine sees it: a self-contained 32-bit GUI
// program that asks for administrator rights and carries its version. They read the 32-bit image
// as a file, so a 64-bit test build checks it just the same.
#include <windows.h>
#include <imagehlp.h>
#include <shellapi.h>

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string SetupProgramPath() { return BuildTreePath(SHIPPED_SETUP_EXE_UNIX_PATH); }

std::vector<unsigned char> ReadWhole(const std::string& path)
{
    std::vector<unsigned char> bytes;
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD got = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size())
        bytes.clear();
    CloseHandle(file);
    return bytes;
}

// Names of the DLLs the image imports, read from its import directory; ntOffset is e_lfanew.
std::vector<std::string> ImportedDlls(const std::vector<unsigned char>& image, size_t ntOffset)
{
    std::vector<std::string> names;
    IMAGE_NT_HEADERS32 nt;
    memcpy(&nt, image.data() + ntOffset, sizeof nt);
    size_t sectionTable =
        ntOffset + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) + nt.FileHeader.SizeOfOptionalHeader;
    std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
    if (sectionTable + sections.size() * sizeof(IMAGE_SECTION_HEADER) > image.size())
        return names;
    memcpy(sections.data(), image.data() + sectionTable, sections.size() * sizeof(IMAGE_SECTION_HEADER));
    auto fileOffset = [&](DWORD rva) -> size_t {
        for (const IMAGE_SECTION_HEADER& s : sections)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return rva - s.VirtualAddress + s.PointerToRawData;
        return 0;
    };
    size_t at = fileOffset(nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    while (at != 0 && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= image.size()) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        memcpy(&descriptor, image.data() + at, sizeof descriptor);
        size_t name = descriptor.Name != 0 ? fileOffset(descriptor.Name) : 0;
        if (name == 0 || name >= image.size())
            break;
        const char* text = reinterpret_cast<const char*>(image.data() + name);
        names.push_back(std::string(text, strnlen(text, image.size() - name)));
        at += sizeof descriptor;
    }
    return names;
}

std::string VersionString(const std::vector<unsigned char>& info, const char* name)
{
    char query[128];
    snprintf(query, sizeof query, "\\StringFileInfo\\040904E4\\%s", name);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), query, &value, &length) || value == nullptr)
        return "<missing>";
    return static_cast<const char*>(value);
}

} // namespace

TEST(SetupProgram, IsA32BitGuiImageImportingNoMinGwRuntime)
{
    std::vector<unsigned char> image = ReadWhole(SetupProgramPath());
    ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER)) << SetupProgramPath();
    IMAGE_DOS_HEADER dos;
    memcpy(&dos, image.data(), sizeof dos);
    ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
    ASSERT_LT(static_cast<size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS32), image.size());
    IMAGE_NT_HEADERS32 nt;
    memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
    EXPECT_EQ(nt.Signature, static_cast<DWORD>(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    std::vector<std::string> dlls = ImportedDlls(image, dos.e_lfanew);
    ASSERT_FALSE(dlls.empty());
    EXPECT_NE(std::find(dlls.begin(), dlls.end(), "KERNEL32.dll"), dlls.end());
    for (const std::string& dll : dlls) {
        std::string lower = dll;
        for (char& c : lower)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(lower.find("libstdc++"), std::string::npos) << dll;
        EXPECT_EQ(lower.find("libgcc"), std::string::npos) << dll;
        EXPECT_EQ(lower.find("libwinpthread"), std::string::npos) << dll;
    }
}

TEST(SetupProgram, CarriesVersion2520070AndItsNames)
{
    std::string path = SetupProgramPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(5, 2));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 207));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(5, 2));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 207));
    EXPECT_EQ(VersionString(info, "InternalName"), "Setup");
    EXPECT_EQ(VersionString(info, "OriginalFilename"), "Setup.exe");
    EXPECT_EQ(VersionString(info, "CompanyName"), "TALVIQ");
    EXPECT_EQ(VersionString(info, "ProductName"), "TALVIQ Project Zorvane 2 PE Demo");
    EXPECT_EQ(VersionString(info, "FileDescription"), "TALVIQ Project Zorvane 2 PE Demo Setup");
    EXPECT_EQ(VersionString(info, "FileVersion"), "2.5.207.0");
    EXPECT_NE(VersionString(info, "LegalCopyright").find("TALVIQ"), std::string::npos);
}

TEST(SetupProgram, ManifestRequiresAdministratorAndNamesTheSupportedWindowsVersions)
{
    HMODULE image = LoadLibraryExA(SetupProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    HRSRC resource = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(resource, nullptr) << "no manifest resource 1";
    const char* text = static_cast<const char*>(LockResource(LoadResource(image, resource)));
    std::string manifest(text, SizeofResource(image, resource));
    FreeLibrary(image);
    EXPECT_NE(manifest.find("requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">"),
              std::string::npos)
        << manifest;
    // The identifiers Windows gives its versions: Vista, 7, 8, 8.1, 10 and 11.
    for (const char* id : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"{") + id + "}\"/>"), std::string::npos) << id;
}

TEST(SetupProgram, HeaderChecksumIsTheOneWindowsComputes)
{
    std::string path = SetupProgramPath();
    DWORD stored = 0;
    DWORD computed = 0;
    ASSERT_EQ(MapFileAndCheckSumA(path.c_str(), &stored, &computed), static_cast<DWORD>(CHECKSUM_SUCCESS));
    EXPECT_NE(stored, 0u);
    EXPECT_EQ(stored, computed);
}

BOOL CALLBACK CollectIconGroup(HMODULE, LPCSTR, LPSTR name, LONG_PTR groups)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<int>*>(groups)->push_back(
            static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

TEST(SetupProgram, CarriesTheSetupIconThenTheUninstallIcon)
{
    std::string path = SetupProgramPath();
    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    std::vector<int> groups;
    EnumResourceNamesA(image, MAKEINTRESOURCEA(14), CollectIconGroup, reinterpret_cast<LONG_PTR>(&groups));
    FreeLibrary(image);
    EXPECT_EQ(groups, (std::vector<int>{101, 103}));

    // The shell's view: two icons, and index 1 (the uninstall shortcut's) is a real icon.
    EXPECT_EQ(ExtractIconExA(path.c_str(), -1, nullptr, nullptr, 0), 2u);
    HICON large = nullptr;
    ASSERT_EQ(ExtractIconExA(path.c_str(), 1, &large, nullptr, 1), 1u);
    EXPECT_NE(large, nullptr);
    DestroyIcon(large);
}
