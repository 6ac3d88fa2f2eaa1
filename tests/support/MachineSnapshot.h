// The state an installation may change, taken before and after a run to prove that a failed run
// left the machine as it was: every folder and file (with its bytes) of some folder trees, and
// every key and value (type and data) of some registry trees.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct RegistryTree {
    HKEY Root;
    std::string Key;
};

// Items by name: "folder PATH", "file PATH" (the bytes), "key ROOT\KEY", "value ROOT\KEY|NAME"
// (the type, a colon and the data). Missing trees contribute nothing.
typedef std::map<std::string, std::string> MachineSnapshot;

MachineSnapshot TakeSnapshot(const std::vector<std::string>& folders, const std::vector<RegistryTree>& keys);

// The product's own state: the folders given, its Start-menu folder, the install journal in the
// Windows folder and the extraction temporaries, its uninstall entry, the add-in designer keys
// ("Shared Tools"), the Run values and its settings keys.
MachineSnapshot TakeProductSnapshot(const std::vector<std::string>& folders);

// The install journal's path, in the machine-wide application-data folder.
std::string InstallJournalFile();

// One line per item added, removed or changed from before to after; empty when both are equal.
std::string SnapshotDifferences(const MachineSnapshot& before, const MachineSnapshot& after);
