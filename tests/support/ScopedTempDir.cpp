#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

ScopedTempDir::ScopedTempDir()
{
    char base[MAX_PATH];
    char name[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) {
        ADD_FAILURE() << "no temporary folder, error " << GetLastError();
        return;
    }
    // The folder is made under a name only formed, never first made as a file and deleted: in that
    // moment a test program running beside this one could be handed the same name.
    static unsigned next = GetCurrentProcessId() * 7919u + GetTickCount();
    for (int tries = 0; tries < 0x10000; ++tries) {
        const unsigned unique = next++ & 0xFFFF;
        if (unique == 0 || GetTempFileNameA(base, "zt", unique, name) == 0)
            continue;
        if (CreateDirectoryA(name, nullptr)) {
            Root = name;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) {
            ADD_FAILURE() << "cannot create " << name << ", error " << GetLastError();
            return;
        }
    }
    ADD_FAILURE() << "no free temporary folder name in " << base;
}

ScopedTempDir::~ScopedTempDir()
{
    if (!Root.empty()) {
        EXPECT_TRUE(RemoveTree(Root)) << "temporary folder left behind: " << Root;
    }
}

std::string ScopedTempDir::Join(const std::string& relative) const { return Root + "\\" + relative; }

void WriteTestFile(const std::string& path, const std::string& content)
{
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << path;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok && written == content.size()) << "cannot write " << path;
}

std::string ReadTestFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open " << path;
        return std::string();
    }
    std::string content;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        content.append(chunk, got);
    CloseHandle(file);
    return content;
}

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

void RemoveTreeOnce(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTreeOnce(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

bool RemoveTree(const std::string& path)
{
    // The shell may still hold a file it was just told about (a new shortcut, say) for a moment;
    // give it up to two seconds before calling the folder left behind.
    DWORD start = GetTickCount();
    for (;;) {
        RemoveTreeOnce(path);
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return true;
        if (GetTickCount() - start >= 2000)
            return false;
        Sleep(50);
    }
}

std::string BuildTreePath(const char* unixPath)
{
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::vector<std::string> FilesMatching(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::vector<std::string> ExtractionTemporaries()
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::vector<std::string> names = FilesMatching(std::string(folder) + "~vt*");
    for (const std::string& name : FilesMatching(std::string(folder) + "~vx*"))
        names.push_back(name);
    return names;
}

std::vector<std::string> DiagnosticLogLines(const std::string& path)
{
    // Each line begins with "YYYY-MM-DD HH:MM:SS  ".
    const size_t stampLength = 21;
    std::vector<std::string> lines;
    std::string content = ReadTestFile(path);
    for (size_t at = 0; at < content.size();) {
        size_t end = content.find("\r\n", at);
        if (end == std::string::npos)
            end = content.size();
        lines.push_back(end - at > stampLength ? content.substr(at + stampLength, end - at - stampLength)
                                               : content.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

void ListTreeInto(const std::string& root, const std::string& relative, std::vector<std::string>* found)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((root + "\\" + relative + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            found->push_back(relative + name + "\\");
            ListTreeInto(root, relative + name + "\\", found);
        } else {
            found->push_back(relative + name);
        }
    } while (FindNextFileA(search, &data));
    FindClose(search);
}
