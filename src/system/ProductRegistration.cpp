#include "system/ProductRegistration.h"

#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "core/ProductVersion.h"
#include "core/SetupState.h"
#include "system/Registry.h"

#include <stdio.h>
#include <string.h>

#define PRODUCT_SETTINGS_KEY "Software\\TALVIQ\\Project Zorvane PE\\2.0"
#define ADDIN_DESIGNER_KEY "Software\\Microsoft\\Shared Tools\\Addin Designer\\TALVIQ Project Zorvane\\2.0"

const char CurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char UninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane PE 2.0";
const char OldUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TALVIQ Project Zorvane 1.0";
const char ProductSettingsKey[] = PRODUCT_SETTINGS_KEY;
const char AddinDesignerKey[] = ADDIN_DESIGNER_KEY;
const char LoadBehaviorsKey[] = ADDIN_DESIGNER_KEY "\\LoadBehaviors";
const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

const char ProgramFilesDirValue[] = "ProgramFilesDir";
const char DefaultProgramFilesDir[] = "C:\\Program Files";
const char RegisteredOwnerValue[] = "RegisteredOwner";
const char InstallLocationValue[] = "InstallLocation";
const char RunValueName[] = "TPZ20";

namespace {

// Where the add-in designer finds the product's settings.
const char AddinSettingsLocation[] = "HKEY_CURRENT_USER\\" PRODUCT_SETTINGS_KEY;

const char SupportPage[] = "https://www.talviq.example/support";
const char ProductsPage[] = "https://www.talviq.example/products";
const char HomePage[] = "https://www.talviq.example/";

// Quotes around the path keep a path with spaces from being split at its first blank. Sized so
// that every path that fits MAX_PATH fits quoted, with " /r" and the terminator.
const size_t UninstallCommandSize = MAX_PATH + 5;
const char QuietSwitches[] = " /r /quiet";

const char ProductProgramName[] = "tpz2.exe";

// An old file set aside during an upgrade ("~vo", four hex digits, ".tmp") goes when the run ends:
// it is no part of the installation.
bool IsAsideName(const char* name)
{
    return strlen(name) == 11 && _strnicmp(name, "~vo", 3) == 0 && lstrcmpiA(name + 7, ".tmp") == 0;
}

// Adds to *bytes the sizes of the files below folder but the one at skip; a junction or link to
// a folder is not followed (what it leads to is not the installation's).
void AddFolderContentSize(const char* folder, const char* skip, unsigned long long* bytes)
{
    char pattern[MAX_PATH];
    lstrcpynA(pattern, folder, sizeof pattern);
    if (!AppendPathComponent(pattern, "*"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const char* name = found.cFileName;
        char path[MAX_PATH];
        lstrcpynA(path, folder, sizeof path);
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0 || IsAsideName(name) ||
            !AppendPathComponent(path, name))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                AddFolderContentSize(path, skip, bytes);
        } else if (lstrcmpiA(path, skip) != 0) {
            *bytes += (unsigned long long)found.nFileSizeHigh << 32 | found.nFileSizeLow;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// What the Apps list shows as the size: the files in DestinationFolder, with the uninstaller
// counted as this program, which is copied there after the entry is written. KiB, rounded up.
DWORD InstalledSizeKiB(const char* uninstallerPath)
{
    unsigned long long bytes = 0;
    AddFolderContentSize(DestinationFolder, uninstallerPath, &bytes);
    char ownPath[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, ownPath, sizeof ownPath);
    WIN32_FILE_ATTRIBUTE_DATA own;
    if (length > 0 && length < sizeof ownPath && GetFileAttributesExA(ownPath, GetFileExInfoStandard, &own))
        bytes += (unsigned long long)own.nFileSizeHigh << 32 | own.nFileSizeLow;
    const unsigned long long kib = (bytes + 1023) / 1024;
    return kib > 0xFFFFFFFFull ? 0xFFFFFFFF : DWORD(kib);
}

// The values the Apps list reads beyond the design's: size, date, icon, and that there is
// nothing to change or repair (so no Change or Repair button leads to the empty ModifyPath).
void WriteAppsListValues(const char* uninstallerPath)
{
    HKEY machine = HKEY_LOCAL_MACHINE;
    WriteRegistryDword(machine, UninstallKey, "EstimatedSize", InstalledSizeKiB(uninstallerPath));
    SYSTEMTIME today;
    GetLocalTime(&today);
    char date[16];
    snprintf(date, sizeof date, "%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    WriteRegistryString(machine, UninstallKey, "InstallDate", date);
    char program[MAX_PATH];
    lstrcpynA(program, DestinationFolder, sizeof program);
    if (AppendPathComponent(program, ProductProgramName)) {
        char icon[MAX_PATH + 2];
        snprintf(icon, sizeof icon, "%s,0", program);
        WriteRegistryString(machine, UninstallKey, "DisplayIcon", icon);
    }
    WriteRegistryDword(machine, UninstallKey, "NoModify", 1);
    WriteRegistryDword(machine, UninstallKey, "NoRepair", 1);
}

} // namespace

void WriteProductRegistration(const char* uninstallerPath)
{
    HKEY machine = HKEY_LOCAL_MACHINE;
    char uninstallCommand[UninstallCommandSize];
    bool commandFits = strnlen(uninstallerPath, MAX_PATH) < MAX_PATH;
    char quietCommand[MAX_PATH + sizeof QuietSwitches + 2];
    if (commandFits) {
        snprintf(uninstallCommand, sizeof uninstallCommand, "\"%s\" /r", uninstallerPath);
        snprintf(quietCommand, sizeof quietCommand, "\"%s\"%s", uninstallerPath, QuietSwitches);
    }

    WriteRegistryString(machine, UninstallKey, "DisplayName", ProductDisplayName);
    if (commandFits) {
        WriteRegistryString(machine, UninstallKey, "UninstallPath", uninstallCommand);
        WriteRegistryString(machine, UninstallKey, "UninstallString", uninstallCommand);
        // Deployment tools remove a product without a window through this value, whoever installed it.
        WriteRegistryString(machine, UninstallKey, "QuietUninstallString", quietCommand);
    }
    WriteRegistryString(machine, UninstallKey, "ModifyPath", "");
    WriteRegistryString(machine, UninstallKey, InstallLocationValue, DestinationFolder);
    char sourceFolder[MAX_PATH];
    PathBesideProgram(sourceFolder, "", true);
    WriteRegistryString(machine, UninstallKey, "InstallSource", sourceFolder);
    WriteRegistryString(machine, UninstallKey, "DisplayVersion", "Version " PRODUCT_VERSION_TEXT " Demo");
    WriteRegistryDword(machine, UninstallKey, "VersionMajor", PRODUCT_VERSION_MAJOR);
    WriteRegistryDword(machine, UninstallKey, "VersionMinor", PRODUCT_VERSION_MINOR);
    WriteRegistryString(machine, UninstallKey, "Publisher", "TALVIQ");
    WriteRegistryString(machine, UninstallKey, "ProductID", "");
    WriteRegistryString(machine, UninstallKey, "RegOwner", RegisteredOwnerName);
    WriteRegistryString(machine, UninstallKey, "RegCompany", "");
    WriteRegistryString(machine, UninstallKey, "HelpTelephone", "");
    WriteRegistryString(machine, UninstallKey, "HelpLink", SupportPage);
    WriteRegistryString(machine, UninstallKey, "URLUpdateInfo", ProductsPage);
    WriteRegistryString(machine, UninstallKey, "URLInfoAbout", HomePage);
    WriteAppsListValues(uninstallerPath);

    WriteRegistryString(machine, AddinDesignerKey, "", AddinSettingsLocation);
    WriteRegistryDword(machine, LoadBehaviorsKey, "None", 0);
    WriteRegistryDword(machine, LoadBehaviorsKey, "Startup", 1);
}

void RemoveProductRegistration()
{
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, UninstallKey);
    DeleteRegistryKeyAndEmptyParents(HKEY_LOCAL_MACHINE, ProductSettingsKey);
    DeleteRegistryKeyAndEmptyParents(HKEY_CURRENT_USER, ProductSettingsKey);
    DeleteRegistryValue(HKEY_CURRENT_USER, RunKey, RunValueName);
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, RunKey, RunValueName);
    DeleteRegistryKeyAndEmptyParents(HKEY_LOCAL_MACHINE, LoadBehaviorsKey);
}
