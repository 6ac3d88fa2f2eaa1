#include "payload/RemovalBounds.h"

#include "core/PathUtilities.h"
#include "core/StartMenuFolders.h"
#include "format/PackageFormat.h"

#include <shlobj.h>
#include <string.h>

#include <initializer_list>

namespace {

// The part of an absolute path after its root (C:\ or \\).
const char* BelowRoot(const char* path) { return path + (path[1] == ':' ? 3 : 2); }

// True when relative is empty or a relative path that stays where it starts (one trailing
// backslash allowed, as folder records of extraction have). relative fits MAX_PATH.
bool StaysBelow(const char* relative)
{
    char work[MAX_PATH];
    lstrcpynA(work, relative, sizeof work);
    size_t length = strlen(work);
    if (length > 0 && work[length - 1] == '\\')
        work[--length] = '\0';
    return length == 0 || IsContainedRelativePath(work);
}

// Keeps folder only when it can be trusted as a boundary: absolute, without "." or "..", its
// separators folded and without its trailing backslash (a drive root keeps it).
void AdoptFolder(char* folder)
{
    size_t length = strnlen(folder, MAX_PATH);
    if (length < MAX_PATH) {
        FoldSeparators(folder);
        length = strlen(folder);
    }
    if (length >= MAX_PATH || !IsAbsolutePath(folder) || !StaysBelow(BelowRoot(folder))) {
        folder[0] = '\0';
        return;
    }
    if (length > 3 && folder[length - 1] == '\\')
        folder[length - 1] = '\0';
}

// True when path is folder itself or lies below it: letter case ignored, and only at a backslash,
// so that C:\Foo2 is not inside C:\Foo. path fits MAX_PATH.
bool IsInside(const char* path, const char* folder)
{
    size_t length = strlen(folder);
    if (length == 0 || strnlen(path, length) < length)
        return false;
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(length), folder,
                       static_cast<int>(length)) != CSTR_EQUAL)
        return false;
    const char* rest = path + length;
    if (folder[length - 1] != '\\') {
        if (*rest == '\0')
            return true;
        if (*rest != '\\')
            return false;
        ++rest;
    }
    return StaysBelow(rest);
}

} // namespace

void FindAllowedFolders(HWND owner, const char* installationFolder, AllowedFolders* allowed)
{
    lstrcpynA(allowed->Installation, installationFolder, MAX_PATH);
    AdoptFolder(allowed->Installation);

    UINT length = GetSystemDirectoryA(allowed->System, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        allowed->System[0] = '\0';
    AdoptFolder(allowed->System);

    GetProductStartMenuFolder(owner, CSIDL_PROGRAMS, allowed->StartMenu);
    AdoptFolder(allowed->StartMenu);
    GetProductStartMenuFolder(owner, CSIDL_COMMON_PROGRAMS, allowed->CommonStartMenu);
    AdoptFolder(allowed->CommonStartMenu);
}

// The log is data a user may have been able to change, read by a program with administrator
// rights: only paths within what the installation made are acted on.
bool IsRemovable(const char* path, const AllowedFolders& allowed)
{
    if (strnlen(path, MAX_PATH) >= MAX_PATH || !IsAbsolutePath(path))
        return false;
    for (const char* folder :
         {allowed.Installation, allowed.System, allowed.StartMenu, allowed.CommonStartMenu})
        if (IsInside(path, folder))
            return true;
    return false;
}

bool IsInStartMenu(const char* path, const AllowedFolders& allowed)
{
    return strnlen(path, MAX_PATH) < MAX_PATH &&
           (IsInside(path, allowed.StartMenu) || IsInside(path, allowed.CommonStartMenu));
}

bool NormalizeInstallationFolder(char* folder)
{
    char adopted[MAX_PATH];
    lstrcpynA(adopted, folder, sizeof adopted);
    AdoptFolder(adopted);
    if (adopted[0] == '\0')
        return false;
    memcpy(folder, adopted, strlen(adopted) + 1);
    return true;
}
