#include "support/MachineSnapshot.h"

#include "support/ScopedTempDir.h"

#include <shlobj.h>

namespace {

void AddFolderTree(const std::string& folder, MachineSnapshot* snapshot)
{
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        (*snapshot)["file " + folder] = ReadTestFile(folder);
        return;
    }
    (*snapshot)["folder " + folder] = "";
    for (const std::string& name : FilesMatching(folder + "\\*")) {
        if (name != "." && name != "..")
            AddFolderTree(folder + "\\" + name, snapshot);
    }
}

void AddRegistryTree(HKEY root, const std::string& rootName, const std::string& keyPath,
                     MachineSnapshot* snapshot)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    const std::string name = rootName + "\\" + keyPath;
    (*snapshot)["key " + name] = "";
    std::vector<std::string> subkeys;
    for (DWORD index = 0;; ++index) {
        char valueName[16384];
        DWORD nameLength = sizeof valueName;
        BYTE data[16384];
        DWORD size = sizeof data;
        DWORD type = REG_NONE;
        if (RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        (*snapshot)["value " + name + "|" + std::string(valueName, nameLength)] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    for (DWORD index = 0;; ++index) {
        char subkey[256];
        DWORD length = sizeof subkey;
        if (RegEnumKeyExA(key, index, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.emplace_back(subkey, length);
    }
    RegCloseKey(key);
    for (const std::string& subkey : subkeys)
        AddRegistryTree(root, rootName, keyPath + "\\" + subkey, snapshot);
}

// Printable form of an item's content: short texts as they are, anything else by its size.
std::string Shown(const std::string& content)
{
    for (char c : content)
        if (static_cast<unsigned char>(c) < 32 && c != '\r' && c != '\n' && c != '\0')
            return std::to_string(content.size()) + " bytes";
    return content.size() <= 80 ? "\"" + content + "\"" : std::to_string(content.size()) + " bytes";
}

} // namespace

MachineSnapshot TakeSnapshot(const std::vector<std::string>& folders, const std::vector<RegistryTree>& keys)
{
    MachineSnapshot snapshot;
    for (const std::string& folder : folders)
        AddFolderTree(folder, &snapshot);
    for (const RegistryTree& tree : keys)
        AddRegistryTree(tree.Root, tree.Root == HKEY_CURRENT_USER ? "HKCU" : "HKLM", tree.Key, &snapshot);
    return snapshot;
}

MachineSnapshot TakeProductSnapshot(const std::vector<std::string>& folders)
{
    char programs[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, FALSE);
    std::vector<std::string> all = folders;
    all.push_back(std::string(programs) + "\\TALVIQ Project Zorvane PE Demo");
    all.push_back(InstallJournalFile());
    MachineSnapshot snapshot = TakeSnapshot(
        all, {{HKEY_LOCAL_MACHINE,
               "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane PE 2.0"},
              {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Shared Tools"},
              {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
              {HKEY_LOCAL_MACHINE, "Software\\TALVIQ"},
              {HKEY_CURRENT_USER, "Software\\TALVIQ"}});
    for (const std::string& temporary : ExtractionTemporaries())
        snapshot["temporary " + temporary] = "";
    return snapshot;
}

std::string InstallJournalFile()
{
    char common[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
    return std::string(common) + "\\TALVIQ Setup\\Zorvane Setup.jnl";
}

std::string SnapshotDifferences(const MachineSnapshot& before, const MachineSnapshot& after)
{
    std::string differences;
    for (const auto& item : before) {
        auto found = after.find(item.first);
        if (found == after.end())
            differences += "removed: " + item.first + "\n";
        else if (found->second != item.second)
            differences += "changed: " + item.first + " from " + Shown(item.second) + " to " +
                           Shown(found->second) + "\n";
    }
    for (const auto& item : after)
        if (before.find(item.first) == before.end())
            differences += "added: " + item.first + "\n";
    return differences;
}
