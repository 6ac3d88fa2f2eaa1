#include "core/SystemLibraries.h"

#include <string.h>

namespace {

// Values from the system's libloaderapi.h, for headers that predate them.
const DWORD SearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32

// The DLL of that name in the system folder, by its full path, loaded once and kept.
HMODULE SystemModule(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    size_t nameLength = strlen(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH)
        return nullptr;
    path[length] = '\\';
    memcpy(path + length + 1, name, nameLength + 1);
    // A full path is searched nowhere else; the flag also keeps the DLL's own imports in the
    // system folder where the system knows it.
    HMODULE module = LoadLibraryExA(path, nullptr, SearchSystem32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryA(path); // a system older than the flag
    return module;
}

template <typename Function> Function Procedure(const char* dll, HMODULE* module, const char* name)
{
    if (*module == nullptr)
        *module = SystemModule(dll);
    return *module == nullptr
               ? nullptr
               : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(*module, name)));
}

HMODULE Version;
HMODULE CommonControls;

} // namespace

void RestrictDllSearchToSystemFolder()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesFunction restrict =
        kernel == nullptr ? nullptr
                          : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                                reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (restrict != nullptr)
        restrict(SearchSystem32);
}

DWORD SystemGetFileVersionInfoSize(LPCSTR path, LPDWORD handle)
{
    typedef DWORD(WINAPI * Function)(LPCSTR, LPDWORD);
    Function call = Procedure<Function>("version.dll", &Version, "GetFileVersionInfoSizeA");
    return call == nullptr ? 0 : call(path, handle);
}

BOOL SystemGetFileVersionInfo(LPCSTR path, DWORD handle, DWORD size, LPVOID data)
{
    typedef BOOL(WINAPI * Function)(LPCSTR, DWORD, DWORD, LPVOID);
    Function call = Procedure<Function>("version.dll", &Version, "GetFileVersionInfoA");
    return call == nullptr ? FALSE : call(path, handle, size, data);
}

BOOL SystemVerQueryValue(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length)
{
    typedef BOOL(WINAPI * Function)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    Function call = Procedure<Function>("version.dll", &Version, "VerQueryValueA");
    return call == nullptr ? FALSE : call(block, subBlock, buffer, length);
}

void SystemInitCommonControls()
{
    typedef void(WINAPI * Function)();
    Function call = Procedure<Function>("comctl32.dll", &CommonControls, "InitCommonControls");
    if (call != nullptr)
        call();
}

INT_PTR SystemPropertySheet(LPCPROPSHEETHEADERA header)
{
    typedef INT_PTR(WINAPI * Function)(LPCPROPSHEETHEADERA);
    Function call = Procedure<Function>("comctl32.dll", &CommonControls, "PropertySheetA");
    return call == nullptr ? -1 : call(header);
}
