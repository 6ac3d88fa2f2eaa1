// A fresh folder under the user's temporary folder for one test, removed with all its content
// when the object goes; the removal is checked.
#pragma once

#include <windows.h>

#include <string>

class ScopedTempDir {
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    // The folder's path, without a trailing backslash.
    const std::string& Path() const { return Root; }
    // Path() joined with a relative name by one backslash.
    std::string Join(const std::string& relative) const;

private:
    std::string Root;
};

// Test file helpers on real files.
void WriteTestFile(const std::string& path, const std::string& content);
std::string ReadTestFile(const std::string& path);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Deletes a folder and all it holds; true when it is gone afterwards.
bool RemoveTree(const std::string& path);
