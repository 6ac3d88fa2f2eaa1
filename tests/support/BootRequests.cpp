#include "support/BootRequests.h"

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

namespace {

const char SessionManagerKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char PendingValue[] = "PendingFileRenameOperations";

std::string WininitPath()
{
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\Wininit.ini";
}

RegistryValue PendingRenames() { return QueryValue(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingValue); }

} // namespace

SavedBootRequests::SavedBootRequests()
    : WininitExisted(FileExists(WininitPath())), Wininit(WininitText()), Pending(PendingRenames())
{
}

SavedBootRequests::~SavedBootRequests()
{
    if (WininitExisted)
        WriteTestFile(WininitPath(), Wininit);
    else
        DeleteFileA(WininitPath().c_str());
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_SET_VALUE, &key);
    if (Pending.Found)
        RegSetValueExA(key, PendingValue, 0, Pending.Type, reinterpret_cast<const BYTE*>(Pending.Data.data()),
                       static_cast<DWORD>(Pending.Data.size()));
    else
        RegDeleteValueA(key, PendingValue);
    RegCloseKey(key);
    EXPECT_TRUE(Untouched()) << "the requests for the next start could not be put back";
}

bool SavedBootRequests::Untouched() const
{
    RegistryValue pending = PendingRenames();
    return FileExists(WininitPath()) == WininitExisted && WininitText() == Wininit &&
           pending.Found == Pending.Found && pending.Data == Pending.Data;
}

std::string WininitText() { return FileExists(WininitPath()) ? ReadTestFile(WininitPath()) : std::string(); }

bool IsPendingDeletion(const std::string& path)
{
    // Pairs of texts: the file as "\??\" and its path, then its new name, empty for a deletion.
    std::string entry = "\\??\\" + path + std::string(2, '\0');
    std::string data = std::string(1, '\0') + PendingRenames().Data;
    return data.find('\0' + entry) != std::string::npos;
}
