// Reading, writing and deleting registry data. Every operation opens its key with full access,
// does one thing and closes the key again; none reports failure. A key path is a sub-key path
// below the root, components separated by single backslashes, at most 259 characters.
#pragma once

#include <windows.h>

// Fills output (maximumLength bytes, at least 1, terminator included) with the REG_SZ value, cut
// to maximumLength - 1 characters. The default text, cut the same way, takes its place when the
// key or value is missing, the key cannot be opened with full access, the value is not REG_SZ
// (REG_EXPAND_SZ included) or its data exceed 256 bytes. The output always ends up terminated.
void ReadRegistryString(HKEY root, const char* keyPath, const char* valueName, const char* defaultText,
                        char* output, DWORD maximumLength);

// Creates every missing key of the path and sets the value as REG_SZ with its terminator
// (the empty text is one zero byte). An empty value name sets the key's default value.
// While an install journal is active the value's previous state and the keys made are recorded
// first (a write that cannot be recorded is not made), and a refused write is noted for
// RegistryWriteRefused.
void WriteRegistryString(HKEY root, const char* keyPath, const char* valueName, const char* text);

// As WriteRegistryString, as a 4-byte REG_DWORD.
void WriteRegistryDword(HKEY root, const char* keyPath, const char* valueName, DWORD value);

// Deletes the last key of the path from its parent (the root itself for a path without a
// backslash). A key that still has subkeys stays where the system refuses to delete it.
// A path longer than 259 characters is left alone rather than cut to some other key's name.
void DeleteRegistryKey(HKEY root, const char* keyPath);

// Deletes one value of the key; an empty name deletes the default value.
void DeleteRegistryValue(HKEY root, const char* keyPath, const char* valueName);

// Deletes the last key of the path, then climbs towards the root deleting each ancestor that has
// been left without subkeys (its values go with it). Stops at the first ancestor that cannot be
// opened or still has subkeys; the path's first component, directly under the root, always stays.
// A path longer than 259 characters is left alone.
void DeleteRegistryKeyAndEmptyParents(HKEY root, const char* keyPath);

// The first write refused while the install journal active now was, as "HKEY_LOCAL_MACHINE\key
// path" in where (MAX_PATH bytes), with the system's code as the thread's last error; false when
// none was refused.
bool RegistryWriteRefused(char* where);
