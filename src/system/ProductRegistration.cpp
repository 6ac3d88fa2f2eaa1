#include "system/ProductRegistration.h"

#include "core/PathUtilities.h"
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

    WriteRegistryString(machine, UninstallKey, "DisplayName", "TALVIQ Project Zorvane 2 PE Demo");
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
    WriteRegistryString(machine, UninstallKey, "DisplayVersion", "Version 2.6.213 Demo");
    WriteRegistryDword(machine, UninstallKey, "VersionMajor", 2);
    WriteRegistryDword(machine, UninstallKey, "VersionMinor", 6);
    WriteRegistryString(machine, UninstallKey, "Publisher", "TALVIQ");
    WriteRegistryString(machine, UninstallKey, "ProductID", "");
    WriteRegistryString(machine, UninstallKey, "RegOwner", RegisteredOwnerName);
    WriteRegistryString(machine, UninstallKey, "RegCompany", "");
    WriteRegistryString(machine, UninstallKey, "HelpTelephone", "");
    WriteRegistryString(machine, UninstallKey, "HelpLink", SupportPage);
    WriteRegistryString(machine, UninstallKey, "URLUpdateInfo", ProductsPage);
    WriteRegistryString(machine, UninstallKey, "URLInfoAbout", HomePage);

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
