#include "core/InstallJournal.h"

#include "core/JournalInternals.h"
#include "core/JournalRecords.h"

#include <stdio.h>
#include <string.h>

using namespace journal;

namespace {

const char* RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    return nullptr;
}

bool KeyExists(HKEY root, const char* keyPath)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status != ERROR_FILE_NOT_FOUND;
}

// True when the journal already notes that the run makes this key (a value recorded ahead of its
// write, RegistryJournalMode::RecordOnly, finds the keys of the one before it still missing).
bool KeyRecorded(const char* rootName, const char* keyPath)
{
    char line[MAX_PATH + 16] = "\r\n";
    const char* const fields[] = {rootName, keyPath};
    int composed = ComposeRecord(KeyKind, fields, 2, line + 2, sizeof line - 4);
    if (composed < 0)
        return false;
    int length = composed + 4;
    memcpy(line + 2 + composed, "\r\n", 2);
    if (Records.Size < static_cast<DWORD>(length))
        return false;
    for (DWORD at = 0; at + length <= Records.Size; ++at)
        if (Records.Data[at] == '\r' && memcmp(Records.Data + at, line, length) == 0)
            return true;
    return false;
}

} // namespace

RegistryJournalMode RegistryMode = RegistryJournalMode::Each;

void SetRegistryJournalMode(RegistryJournalMode mode) { RegistryMode = mode; }

RegistryJournalMode CurrentRegistryJournalMode()
{
    return InstallJournalActive() ? RegistryMode : RegistryJournalMode::Each;
}

bool JournalRegistryValue(HKEY root, const char* keyPath, const char* valueName)
{
    if (!InstallJournalActive())
        return true;
    const char* rootName = RootName(root);
    if (rootName == nullptr || HasSeparators(keyPath) || HasSeparators(valueName) ||
        strnlen(keyPath, MAX_PATH) >= MAX_PATH) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // One flush for the key records and the value record together: none of them is made yet.
    const bool batched = Batching;
    Batching = true;
    // Every key of the path that a create would make, from the root down, so that undoing them
    // backwards deletes the deepest first.
    char work[MAX_PATH];
    lstrcpynA(work, keyPath, sizeof work);
    bool missing = false;
    bool recorded = true;
    for (size_t i = 0;; ++i) {
        char kept = work[i];
        if (kept != '\\' && kept != '\0')
            continue;
        work[i] = '\0';
        missing = missing || !KeyExists(root, work);
        if (missing && !KeyRecorded(rootName, work) && !RecordLine(true, KeyKind, {rootName, work})) {
            recorded = false;
            break;
        }
        work[i] = kept;
        if (kept == '\0')
            break;
    }
    DWORD type = REG_NONE;
    unsigned char data[MaxJournalledValue];
    DWORD size = sizeof data;
    LONG status = ERROR_FILE_NOT_FOUND;
    HKEY key = nullptr;
    if (recorded && !missing && RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        status = RegQueryValueExA(key, valueName, nullptr, &type, data, &size);
        RegCloseKey(key);
    }
    if (recorded && status == ERROR_FILE_NOT_FOUND) {
        recorded = RecordLine(true, ValueKind, {rootName, keyPath, valueName, AbsentData});
    } else if (recorded && status != ERROR_SUCCESS) {
        SetLastError(status);
        recorded = false;
    } else if (recorded) {
        char hex[2 * MaxJournalledValue + 1];
        for (DWORD i = 0; i < size; ++i)
            snprintf(hex + 2 * i, 3, "%02X", data[i]);
        hex[2 * size] = '\0';
        char typeText[16];
        snprintf(typeText, sizeof typeText, "%lu", static_cast<unsigned long>(type));
        recorded = RecordLine(true, ValueKind, {rootName, keyPath, valueName, typeText, hex});
    }
    Batching = batched;
    DWORD error = GetLastError();
    if (recorded && !batched && !FlushJournal())
        return false;
    SetLastError(error);
    return recorded;
}
