#include "support/SetupFixtures.h"

#include <algorithm>

namespace {

const char CurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char ProgramFilesValue[] = "ProgramFilesDir";

} // namespace

std::string ProgramsFolder(int programsId)
{
    char programs[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, programs, programsId, FALSE);
    return std::string(programs) + "\\TALVIQ Project Zorvane PE Demo";
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

ProgramFilesOverride::ProgramFilesOverride()
    : Saved(QueryValue(HKEY_LOCAL_MACHINE, CurrentVersion, ProgramFilesValue))
{
}

ProgramFilesOverride::~ProgramFilesOverride()
{
    SetRawValue(HKEY_LOCAL_MACHINE, CurrentVersion, ProgramFilesValue, Saved.Type, Saved.Data.data(),
                static_cast<DWORD>(Saved.Data.size()));
}

void ProgramFilesOverride::PointTo(const std::string& folder)
{
    SetRawValue(HKEY_LOCAL_MACHINE, CurrentVersion, ProgramFilesValue, REG_SZ, folder.c_str(),
                static_cast<DWORD>(folder.size() + 1));
}
