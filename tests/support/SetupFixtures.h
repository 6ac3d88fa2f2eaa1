// What the tests that run Setup.exe end to end share: the product's Start-menu folder, the
// proposed Program Files folder pointed into a test's own folder, a line looked for in a list.
#pragma once

#include "support/RegistryProbe.h"

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

// The product's folder in the Programs folder programsId (the user's, or all users').
std::string ProgramsFolder(int programsId = CSIDL_PROGRAMS);

// True when line is one of lines, exactly.
bool Contains(const std::vector<std::string>& lines, const std::string& line);

// The machine's proposed Program Files folder (ProgramFilesDir), saved when made and put back
// as it was, type and bytes, when it goes.
class ProgramFilesOverride {
public:
    ProgramFilesOverride();
    ~ProgramFilesOverride();
    ProgramFilesOverride(const ProgramFilesOverride&) = delete;
    ProgramFilesOverride& operator=(const ProgramFilesOverride&) = delete;

    // Proposes folder to the next install.
    void PointTo(const std::string& folder);

private:
    RegistryValue Saved;
};
