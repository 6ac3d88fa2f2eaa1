// Every registry key and value of the product: the defaults read before the wizard, the uninstall
// entry and add-in keys written after extraction, the optional Run value, and their removal.
#pragma once

#include <windows.h>

// Key paths; the root each is used under is noted.
extern const char CurrentVersionKey[];  // HKLM: the defaults read by the install
extern const char UninstallKey[];       // HKLM: this version's uninstall entry
extern const char OldUninstallKey[];    // HKLM: the previous major version's entry, only ever read
extern const char ProductSettingsKey[]; // HKLM and HKCU: the product's own settings, removed only
extern const char AddinDesignerKey[];   // HKLM
extern const char LoadBehaviorsKey[];   // HKLM: AddinDesignerKey\LoadBehaviors
extern const char RunKey[];             // HKLM written; HKLM and HKCU removed

// Value names and defaults used by the install and uninstall sequences.
extern const char ProgramFilesDirValue[];   // under CurrentVersionKey
extern const char DefaultProgramFilesDir[]; // when ProgramFilesDirValue cannot be read
extern const char RegisteredOwnerValue[];   // under CurrentVersionKey
extern const char InstallLocationValue[];   // under UninstallKey and OldUninstallKey
extern const char RunValueName[];           // under RunKey

// Writes the uninstall entry and the add-in designer keys under HKLM, value by value (best effort,
// nothing reported). uninstallerPath: the full path of Setup.exe in DestinationFolder, at most
// MAX_PATH - 1 characters; "UninstallPath" and "UninstallString" receive it quoted, followed by
// " /r". A longer path is not written into those two values at all. "QuietUninstallString"
// receives the quoted path followed by " /r /quiet". For the Apps list the entry also gets
// "EstimatedSize" (KiB of the files in DestinationFolder, the uninstaller counted as the running
// program), "InstallDate" (local yyyymmdd), "DisplayIcon" (tpz2.exe in DestinationFolder, ",0")
// and "NoModify" and "NoRepair" (1). Reads DestinationFolder, RegisteredOwnerName and the running
// program's own path.
void WriteProductRegistration(const char* uninstallerPath);

// Removes the uninstall entry, the settings keys (HKLM and HKCU), the Run values (HKLM and HKCU)
// and the add-in keys, each ancestor only while it is left without subkeys. The previous version's
// entry and the "Uninstall" key itself stay.
void RemoveProductRegistration();
