#include "system/Registry.h"

#include "core/InstallJournal.h"

#include <stdio.h>
#include <string.h>

namespace {

// The system's ANSI query reports values longer than this as not fitting.
const DWORD QueryBufferSize = 256;

// The first write refused while a journal was active, and that journal's run: a refusal belongs
// to the run it happened in, and none is seen once the journal has ended.
char RefusedKey[MAX_PATH];
LONG RefusedStatus;
unsigned RefusedInRun;

bool RefusalOfThisRun()
{
    return RefusedKey[0] != '\0' && InstallJournalActive() && RefusedInRun == JournalRun();
}

void NoteRefusal(HKEY root, const char* keyPath, LONG status)
{
    if (!InstallJournalActive() || RefusalOfThisRun())
        return;
    snprintf(RefusedKey, sizeof RefusedKey, "%s\\%s",
             root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE", keyPath);
    RefusedStatus = status;
    RefusedInRun = JournalRun();
}

HKEY OpenFullAccess(HKEY root, const char* keyPath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// Creates the key path and sets one value. A write whose previous state the install journal
// cannot keep is not made, as it could not be undone; a refused one is noted there.
void WriteValue(HKEY root, const char* keyPath, const char* valueName, DWORD type, const BYTE* data,
                DWORD size)
{
    const RegistryJournalMode mode = CurrentRegistryJournalMode();
    if (mode != RegistryJournalMode::Recorded && !JournalRegistryValue(root, keyPath, valueName)) {
        NoteRefusal(root, keyPath, static_cast<LONG>(GetLastError()));
        return;
    }
    if (mode == RegistryJournalMode::RecordOnly)
        return;
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, valueName, 0, type, data, size);
        RegCloseKey(key);
        JournalChangeDone();
    }
    if (status != ERROR_SUCCESS)
        NoteRefusal(root, keyPath, status);
}

// Copies count bytes of text (or fewer, up to its first zero) into output, cut to fit.
void CopyCut(char* output, DWORD maximumLength, const char* text, size_t count)
{
    size_t length = strnlen(text, count);
    if (length > maximumLength - 1)
        length = maximumLength - 1;
    memcpy(output, text, length);
    output[length] = '\0';
}

// Copies keyPath into a MAX_PATH work buffer; false when it does not fit whole.
bool CopyKeyPath(char* work, const char* keyPath)
{
    size_t length = strnlen(keyPath, MAX_PATH);
    if (length >= MAX_PATH)
        return false;
    memcpy(work, keyPath, length + 1);
    return true;
}

} // namespace

void ReadRegistryString(HKEY root, const char* keyPath, const char* valueName, const char* defaultText,
                        char* output, DWORD maximumLength)
{
    if (maximumLength == 0)
        return;
    HKEY key = OpenFullAccess(root, keyPath);
    if (key == nullptr) {
        lstrcpynA(output, defaultText, maximumLength);
        return;
    }
    char data[QueryBufferSize];
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (status == ERROR_SUCCESS && type == REG_SZ) {
        // A REG_SZ need not have been stored with its terminator: never read past the data.
        CopyCut(output, maximumLength, data, size);
    } else {
        lstrcpynA(output, defaultText, maximumLength);
    }
    RegCloseKey(key);
}

void WriteRegistryString(HKEY root, const char* keyPath, const char* valueName, const char* text)
{
    WriteValue(root, keyPath, valueName, REG_SZ, reinterpret_cast<const BYTE*>(text),
               static_cast<DWORD>(strlen(text) + 1));
}

void WriteRegistryDword(HKEY root, const char* keyPath, const char* valueName, DWORD value)
{
    WriteValue(root, keyPath, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void DeleteRegistryKey(HKEY root, const char* keyPath)
{
    char work[MAX_PATH];
    if (!CopyKeyPath(work, keyPath))
        return;
    const char* parentPath = "";
    const char* childName = work;
    char* separator = strrchr(work, '\\');
    if (separator != nullptr) {
        *separator = '\0';
        parentPath = work;
        childName = separator + 1;
    }
    HKEY parent = OpenFullAccess(root, parentPath);
    if (parent == nullptr)
        return;
    RegDeleteKeyA(parent, childName);
    RegCloseKey(parent);
}

void DeleteRegistryValue(HKEY root, const char* keyPath, const char* valueName)
{
    HKEY key = OpenFullAccess(root, keyPath);
    if (key == nullptr)
        return;
    RegDeleteValueA(key, valueName);
    RegCloseKey(key);
}

void DeleteRegistryKeyAndEmptyParents(HKEY root, const char* keyPath)
{
    char work[MAX_PATH];
    if (!CopyKeyPath(work, keyPath) || work[0] == '\0')
        return;
    // Each backslash from the right splits parent and child; the text before the first one is
    // never a child, so the key directly under the root stays.
    for (char* scan = work + strlen(work) - 1; scan > work; --scan) {
        if (*scan != '\\')
            continue;
        *scan = '\0';
        HKEY parent = OpenFullAccess(root, work);
        if (parent == nullptr)
            return;
        RegDeleteKeyA(parent, scan + 1);
        DWORD subkeys = 0;
        LONG status = RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(parent);
        if (status != ERROR_SUCCESS || subkeys != 0)
            return;
    }
}

bool RegistryWriteRefused(char* where)
{
    if (!RefusalOfThisRun())
        return false;
    lstrcpynA(where, RefusedKey, MAX_PATH);
    SetLastError(static_cast<DWORD>(RefusedStatus));
    return true;
}
