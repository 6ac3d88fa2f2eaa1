// Where the journal's undo and commit may act: the destination, the accepted folders and keys,
// and the names this program gives its own files. Judges only; what acts is JournalUndo.
#include "core/InstallJournal.h"

#include "core/JournalInternals.h"
#include "format/PackageFormat.h"

#include <ctype.h>
#include <string.h>

using namespace journal;

namespace {

// True when path is folder itself or lies below it: letter case ignored, only at a backslash, and
// no "." or ".." component below it.
bool IsInside(const char* path, const char* folder)
{
    if (folder == nullptr || folder[0] == '\0')
        return false;
    size_t length = strlen(folder);
    if (folder[length - 1] == '\\')
        --length;
    if (strnlen(path, MAX_PATH) < length ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(length), folder,
                       static_cast<int>(length)) != CSTR_EQUAL)
        return false;
    const char* rest = path + length;
    if (*rest == '\0')
        return true;
    return *rest == '\\' && (rest[1] == '\0' || IsContainedRelativePath(rest + 1));
}

} // namespace

// A name this program gives its own files: prefix, one to four hex digits, ".tmp" (the forms of
// GetTempFileName, which some systems write without leading zeros, and of ChooseAsideName).
bool journal::HasOwnTemporaryName(const char* path, const char* prefix)
{
    const char* name = strrchr(path, '\\');
    name = name == nullptr ? path : name + 1;
    size_t length = strlen(prefix);
    size_t total = strnlen(name, 16);
    if (total < length + 5 || total > length + 8 || _strnicmp(name, prefix, length) != 0 ||
        lstrcmpiA(name + total - 4, ".tmp") != 0)
        return false;
    for (const char* digit = name + length; digit < name + total - 4; ++digit)
        if (!isxdigit(static_cast<unsigned char>(*digit)))
            return false;
    return true;
}

bool journal::IsAsideOf(const char* aside, const char* target)
{
    const char* asideName = strrchr(aside, '\\');
    const char* targetName = strrchr(target, '\\');
    return asideName != nullptr && targetName != nullptr && asideName - aside == targetName - target &&
           _strnicmp(aside, target, asideName - aside) == 0 && HasOwnTemporaryName(aside, "~vo");
}

bool journal::FileAllowed(const Limits& limits, const char* path)
{
    if (limits.Bounds == nullptr)
        return true;
    if (IsInside(path, Destination))
        return true;
    for (const char* folder : limits.Bounds->Folders)
        if (IsInside(path, folder))
            return true;
    return false;
}

bool journal::FolderAllowed(const Limits& limits, const char* folder)
{
    return FileAllowed(limits, folder) || (limits.Bounds != nullptr && IsInside(Destination, folder));
}

bool journal::KeyAllowed(const Limits& limits, const char* root, const char* keyPath, bool ancestors)
{
    if (limits.Bounds == nullptr)
        return true;
    if (strcmp(root, "HKLM") != 0)
        return false;
    for (int i = 0; i < limits.Bounds->KeyCount; ++i) {
        const char* key = limits.Bounds->Keys[i];
        if (IsInside(keyPath, key) || (ancestors && IsInside(key, keyPath)))
            return true;
    }
    return false;
}
