// A fresh folder under the user's temporary folder for one test, removed with all its content
// when the object goes; the removal is checked. ScopedTempDir.cpp serves Windows,
// ScopedTempDirPosix.cpp the native build of the Win32-free code.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

class ScopedTempDir {
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    // The folder's path, without a trailing backslash.
    const std::string& Path() const { return Root; }
    // Path() joined with a relative name by one separator (a backslash on Windows, else a slash).
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
// Appends every file and folder under root + relative (relative empty or ending in the separator)
// to found, named relative to root, in the order the system lists them; a folder ends in the
// separator (a backslash on Windows, else a slash).
void ListTreeInto(const std::string& root, const std::string& relative, std::vector<std::string>* found);
// Every file and folder under root as ListTreeInto names them, sorted. Empty when root cannot be
// listed.
inline std::vector<std::string> ListTree(const std::string& root)
{
    std::vector<std::string> found;
    ListTreeInto(root, "", &found);
    std::sort(found.begin(), found.end());
    return found;
}

#ifdef _WIN32
// Names (without folder) of the files and folders matching a FindFirstFile pattern, such as
// "C:\\dir\\~vt*", in the order the system lists them.
std::vector<std::string> FilesMatching(const std::string& pattern);
// Names of the extraction temporaries ("~vt", "~vx") in the user's temporary folder.
std::vector<std::string> ExtractionTemporaries();
// The lines of a diagnostic log (CR LF ends), each without its time stamp.
std::vector<std::string> DiagnosticLogLines(const std::string& path);

// A file of the build tree, whose Unix path the build passes in, as a Windows program under Wine
// sees it: Wine maps the Unix root to drive Z:.
std::string BuildTreePath(const char* unixPath);
#endif
