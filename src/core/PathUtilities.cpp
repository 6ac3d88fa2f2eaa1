#include "core/PathUtilities.h"

#include <stdio.h>
#include <string.h>

namespace {

FolderMakingHook MakingHook;
FolderMadeHook MadeHook;

// Copies count bytes of source into a MAX_PATH buffer, cutting what does not fit.
void CopyPart(char* target, const char* source, size_t count)
{
    if (count > MAX_PATH - 1)
        count = MAX_PATH - 1;
    memcpy(target, source, count);
    target[count] = '\0';
}

// Length of a text known to belong in a MAX_PATH buffer; MAX_PATH when it does not fit.
size_t BoundedLength(const char* text) { return strnlen(text, MAX_PATH); }

bool ReadFileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* identity)
{
    // No access asked and everything shared: a running program's own file opens too.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool read = GetFileInformationByHandle(file, identity) != FALSE;
    CloseHandle(file);
    return read;
}

} // namespace

void SplitPath(const char* path, char* folder, char* baseName, char* extension)
{
    const char* name = strrchr(path, '\\');
    name = name != nullptr ? name + 1 : path;
    CopyPart(folder, path, name - path);

    const char* dot = strrchr(name, '.');
    if (dot == nullptr || dot == name) {
        // No dot, or only a leading one: the whole name is the base name.
        CopyPart(baseName, name, strlen(name));
        extension[0] = '\0';
        return;
    }
    CopyPart(baseName, name, dot - name);
    CopyPart(extension, dot, strlen(dot));
}

bool PathBesideProgram(char* result, const char* text, bool besideOnly)
{
    char modulePath[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    result[0] = '\0';
    if (length == 0 || length >= sizeof modulePath)
        return false;

    char folder[MAX_PATH];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    SplitPath(modulePath, folder, baseName, extension);

    char joined[MAX_PATH];
    int needed = besideOnly ? snprintf(joined, sizeof joined, "%s%s", folder, text)
                            : snprintf(joined, sizeof joined, "%s%s.%s", folder, baseName, text);
    if (needed < 0 || static_cast<size_t>(needed) >= sizeof joined)
        return false;
    memcpy(result, joined, needed + 1);
    return true;
}

bool AppendPathComponent(char* path, const char* component)
{
    size_t length = BoundedLength(path);
    if (length == 0 || length >= MAX_PATH)
        return false;
    bool needsSeparator = path[length - 1] != '\\';
    size_t componentLength = strlen(component);
    if (length + (needsSeparator ? 1 : 0) + componentLength >= MAX_PATH)
        return false;
    if (needsSeparator)
        path[length++] = '\\';
    memcpy(path + length, component, componentLength + 1);
    return true;
}

void SetFolderCreationHooks(FolderMakingHook making, FolderMadeHook made)
{
    MakingHook = making;
    MadeHook = made;
}

bool CreateFolderChain(const char* path, int* created)
{
    size_t length = BoundedLength(path);
    const char* firstSeparator = static_cast<const char*>(memchr(path, '\\', length));
    if (length >= MAX_PATH || firstSeparator == nullptr)
        return false;

    // Most calls find the whole chain in place, which one look at its last folder tells.
    DWORD whole = GetFileAttributesA(path);
    if (whole != INVALID_FILE_ATTRIBUTES && (whole & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (created != nullptr)
            *created = 0;
        return true;
    }

    char work[MAX_PATH];
    size_t w = firstSeparator - path + 1;
    memcpy(work, path, w);
    size_t i = w;
    int madeAny = 0;

    while (path[i] != '\0') {
        while (path[i] != '\0' && path[i] != '\\')
            work[w++] = path[i++];
        work[w] = '\0';

        DWORD attributes = GetFileAttributesA(work);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if ((MakingHook != nullptr && !MakingHook(work)) || !CreateDirectoryA(work, nullptr))
                return false;
            if (MadeHook != nullptr)
                MadeHook();
            madeAny = 1;
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return false;
        }

        if (path[i] == '\\')
            work[w++] = path[i++];
    }
    if (created != nullptr)
        *created = madeAny;
    return true;
}

bool RemoveFolderChain(const char* path)
{
    size_t length = BoundedLength(path);
    if (length == 0 || length >= MAX_PATH)
        return false;
    char work[MAX_PATH];
    memcpy(work, path, length + 1);
    if (work[length - 1] == '\\')
        work[length - 1] = '\0';

    for (;;) {
        if (!RemoveDirectoryA(work))
            return false;
        char* parent = strrchr(work, '\\');
        if (parent == nullptr)
            return true;
        *parent = '\0';
    }
}

bool IsSameFile(const char* first, const char* second)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return ReadFileIdentity(first, &a) && ReadFileIdentity(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool IsAbsolutePath(const char* path)
{
    bool drive = path[0] != '\0' && path[1] == ':' && path[2] == '\\';
    bool network = path[0] == '\\' && path[1] == '\\';
    return drive || network;
}

void FoldSeparators(char* path)
{
    char* to = path;
    const char* from = path;
    if (from[0] == '\\' && from[1] == '\\') {
        to += 2;
        from += 2;
    }
    for (; *from != '\0'; ++from)
        if (*from != '\\' || to == path || to[-1] != '\\')
            *to++ = *from;
    *to = '\0';
}

namespace {

// Copies path (under MAX_PATH bytes) into work folded, without a trailing backslash; false when
// it does not fit.
bool ComparablePath(const char* path, char* work)
{
    size_t length = BoundedLength(path);
    if (length >= MAX_PATH)
        return false;
    memcpy(work, path, length + 1);
    FoldSeparators(work);
    length = strlen(work);
    if (length > 0 && work[length - 1] == '\\')
        work[length - 1] = '\0';
    return true;
}

} // namespace

bool IsSamePathText(const char* first, const char* second)
{
    char a[MAX_PATH];
    char b[MAX_PATH];
    return ComparablePath(first, a) && ComparablePath(second, b) &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

bool IsMissingFolder(const char* folder)
{
    const bool missing = GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES;
    return missing && (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND);
}
