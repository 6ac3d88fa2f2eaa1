// Looks at the real registry in tests, independently of the code under test, and removes what a
// test made.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One value as the system returns it through RegQueryValueExA.
struct RegistryValue {
    bool Found = false;
    DWORD Type = REG_NONE;
    std::string Data; // the raw bytes, terminator included where one was stored
};

RegistryValue QueryValue(HKEY root, const std::string& key, const char* name);
bool KeyExists(HKEY root, const std::string& key);
// Value names in the order the system enumerates them.
std::vector<std::string> ValueNames(HKEY root, const std::string& key);
// Creates the key (and its parents) and sets raw data; a test failure when that is impossible.
void SetRawValue(HKEY root, const std::string& key, const char* name, DWORD type, const void* data,
                 DWORD size);
void CreateKey(HKEY root, const std::string& key);
// Deletes the key with all its subkeys; true when it is gone afterwards.
bool RemoveKeyTree(HKEY root, const std::string& key);

// A REG_SZ's bytes for text: the text and its terminator.
std::string StoredText(const std::string& text);
// A REG_DWORD's 4 little-endian bytes.
std::string StoredDword(DWORD value);
