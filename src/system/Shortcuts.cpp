#include "system/Shortcuts.h"

#include "core/AsideFiles.h"
#include "core/InstallJournal.h"
#include "core/PathUtilities.h"
#include "core/ProductTexts.h"
#include "core/ZorvaneException.h"
#include "core/SetupState.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

namespace {

void (*LogFolder)(FileWriter& log, const char* folder);
void (*LogFile)(FileWriter& log, const char* path);

struct ShortcutEntry {
    const char* FileName;
    const char* Target;
    int IconIndex;
    const char* Arguments;
    const char* Description;
};

// Icon 1 of Setup.exe is its second icon group, the uninstall icon.
const ShortcutEntry Shortcuts[] = {
    {"Project Zorvane PE Demo.lnk", "tpz2.exe", 0, nullptr, ProductDisplayName},
    {"Wendlor.lnk", "Wendlor.exe", 0, nullptr, nullptr},
    {"Uninstall Project Zorvane Demo.lnk", "Setup.exe", 1, " /r", nullptr},
};

// True when every name of the table joins folder without exceeding MAX_PATH.
bool AllJoinsFit(const char* folder, bool useTargets)
{
    for (const ShortcutEntry& shortcut : Shortcuts) {
        char joined[MAX_PATH];
        lstrcpynA(joined, folder, sizeof joined);
        if (!AppendPathComponent(joined, useTargets ? shortcut.Target : shortcut.FileName))
            return false;
    }
    return true;
}

// systemError: the reason the message shows; left as it is when the system's own call failed.
[[noreturn]] void FailFolder(const char* folder, DWORD systemError = 0)
{
    if (systemError != 0)
        SetLastError(systemError);
    throw ZorvaneException(ErrFailedToCreateFolder, folder);
}

} // namespace

HRESULT CreateShellLink(const char* linkPath, const char* targetPath, int iconIndex, const char* arguments,
                        const char* description)
{
    IShellLinkA* link = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      reinterpret_cast<void**>(&link));
    if (FAILED(result))
        return result;
    link->SetPath(targetPath);
    if (iconIndex != 0)
        link->SetIconLocation(targetPath, iconIndex);
    if (arguments != nullptr)
        link->SetArguments(arguments);
    if (description != nullptr)
        link->SetDescription(description);

    IPersistFile* file = nullptr;
    result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(result)) {
        WCHAR widePath[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH) == 0)
            result = HRESULT_FROM_WIN32(GetLastError());
        else
            result = file->Save(widePath, TRUE);
        file->Release();
    }
    link->Release();
    return result;
}

void SetShortcutLogging(void (*logFolder)(FileWriter& log, const char* folder),
                        void (*logFile)(FileWriter& log, const char* path))
{
    LogFolder = logFolder;
    LogFile = logFile;
}

void CreateStartMenuShortcuts(HWND owner, int programsId, FileWriter& log, char* linkPath, char* targetPath)
{
    GetSpecialFolderPath(owner, programsId, linkPath);
    CreateShortcutsInProgramsFolder(log, linkPath, targetPath);
}

void CreateShortcutsInProgramsFolder(FileWriter& log, char* linkPath, char* targetPath)
{
    if (!IsAbsolutePath(linkPath) || !AppendPathComponent(linkPath, StartMenuFolder)) {
        // Name the folder that was meant, as far as the error's name field holds it; with no
        // Programs folder at all that is the bare folder name.
        char meant[2 * MAX_PATH];
        snprintf(meant, sizeof meant, "%s%s%s", linkPath, linkPath[0] != '\0' ? "\\" : "", StartMenuFolder);
        FailFolder(meant, IsAbsolutePath(linkPath) ? ERROR_FILENAME_EXCED_RANGE : ERROR_PATH_NOT_FOUND);
    }
    char folder[MAX_PATH];
    lstrcpynA(folder, linkPath, sizeof folder);
    if (!AllJoinsFit(folder, false))
        FailFolder(folder, ERROR_FILENAME_EXCED_RANGE);
    // Targets that cannot be named are the destination's fault, so the message names it.
    if (!AllJoinsFit(DestinationFolder, true))
        FailFolder(DestinationFolder, ERROR_FILENAME_EXCED_RANGE);
    if (!CreateFolderChain(folder))
        FailFolder(folder);
    if (LogFolder != nullptr)
        LogFolder(log, folder);

    for (const ShortcutEntry& shortcut : Shortcuts) {
        lstrcpynA(targetPath, DestinationFolder, MAX_PATH);
        AppendPathComponent(targetPath, shortcut.Target);
        lstrcpynA(linkPath, folder, MAX_PATH);
        AppendPathComponent(linkPath, shortcut.FileName);
        PrepareFileChange(linkPath);
        DeleteFileA(linkPath);
        CreateShellLink(linkPath, targetPath, shortcut.IconIndex, shortcut.Arguments, shortcut.Description);
        JournalFileMade(linkPath);
        if (LogFile != nullptr)
            LogFile(log, linkPath);
    }
}
