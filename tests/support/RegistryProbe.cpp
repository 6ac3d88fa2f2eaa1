#include "support/RegistryProbe.h"

#include <gtest/gtest.h>

RegistryValue QueryValue(HKEY root, const std::string& key, const char* name)
{
    RegistryValue value;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(opened, name, nullptr, &value.Type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<char> data(size + 1);
        if (RegQueryValueExA(opened, name, nullptr, &value.Type, reinterpret_cast<BYTE*>(data.data()),
                             &size) == ERROR_SUCCESS) {
            value.Found = true;
            value.Data.assign(data.data(), size);
        }
    }
    RegCloseKey(opened);
    return value;
}

bool KeyExists(HKEY root, const std::string& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

std::vector<std::string> ValueNames(HKEY root, const std::string& key)
{
    std::vector<std::string> names;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD length = sizeof name;
        if (RegEnumValueA(opened, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    RegCloseKey(opened);
    return names;
}

void CreateKey(HKEY root, const std::string& key)
{
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
              ERROR_SUCCESS)
        << "cannot create key " << key;
    RegCloseKey(created);
}

void SetRawValue(HKEY root, const std::string& key, const char* name, DWORD type, const void* data,
                 DWORD size)
{
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
              ERROR_SUCCESS)
        << "cannot create key " << key;
    LONG status = RegSetValueExA(created, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(created);
    ASSERT_EQ(status, ERROR_SUCCESS) << "cannot set " << key << " " << name;
}

bool RemoveKeyTree(HKEY root, const std::string& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &opened) == ERROR_SUCCESS) {
        std::vector<std::string> children;
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD length = sizeof name;
            if (RegEnumKeyExA(opened, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            children.emplace_back(name, length);
        }
        RegCloseKey(opened);
        for (const std::string& child : children)
            RemoveKeyTree(root, key + "\\" + child);
        RegDeleteKeyA(root, key.c_str());
    }
    return !KeyExists(root, key);
}

std::string StoredText(const std::string& text) { return text + std::string(1, '\0'); }

std::string StoredDword(DWORD value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
