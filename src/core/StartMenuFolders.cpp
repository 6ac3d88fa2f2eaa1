#include "core/StartMenuFolders.h"

#include "core/PathUtilities.h"

#include <shlobj.h>

const char StartMenuFolder[] = "TALVIQ Project Zorvane PE Demo";

void GetSpecialFolderPath(HWND owner, int folderId, char* path)
{
    path[0] = '\0';
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || allocator == nullptr)
        return;
    LPITEMIDLIST items = nullptr;
    SHGetSpecialFolderLocation(owner, folderId, &items);
    if (items != nullptr) {
        if (!SHGetPathFromIDListA(items, path))
            path[0] = '\0';
        allocator->Free(items);
    }
    allocator->Release();
}

bool GetProductStartMenuFolder(HWND owner, int programsId, char* path)
{
    GetSpecialFolderPath(owner, programsId, path);
    if (path[0] != '\0' && AppendPathComponent(path, StartMenuFolder))
        return true;
    path[0] = '\0';
    return false;
}
