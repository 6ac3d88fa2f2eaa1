#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

ScopedTempDir::ScopedTempDir()
{
    const char* base = getenv("TMPDIR");
    char name[4096];
    snprintf(name, sizeof name, "%s/zt-XXXXXX", base != nullptr && base[0] != '\0' ? base : "/tmp");
    if (mkdtemp(name) == nullptr) {
        ADD_FAILURE() << "cannot create a temporary folder from " << name << ": " << strerror(errno);
        return;
    }
    Root = name;
}

ScopedTempDir::~ScopedTempDir()
{
    if (!Root.empty()) {
        EXPECT_TRUE(RemoveTree(Root)) << "temporary folder left behind: " << Root;
    }
}

std::string ScopedTempDir::Join(const std::string& relative) const { return Root + "/" + relative; }

void WriteTestFile(const std::string& path, const std::string& content)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << "cannot create " << path;
    size_t written = fwrite(content.data(), 1, content.size(), file);
    int closed = fclose(file);
    ASSERT_TRUE(written == content.size() && closed == 0) << "cannot write " << path;
}

std::string ReadTestFile(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open " << path;
        return std::string();
    }
    std::string content;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, got);
    fclose(file);
    return content;
}

bool FileExists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool FolderExists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool RemoveTree(const std::string& path)
{
    DIR* folder = opendir(path.c_str());
    if (folder != nullptr) {
        while (struct dirent* found = readdir(folder)) {
            std::string name = found->d_name;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "/" + name;
            struct stat status;
            if (lstat(child.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
                chmod(child.c_str(), 0700);
                RemoveTree(child);
            } else {
                unlink(child.c_str());
            }
        }
        closedir(folder);
    }
    rmdir(path.c_str());
    struct stat status;
    return lstat(path.c_str(), &status) != 0;
}

void ListTreeInto(const std::string& root, const std::string& relative, std::vector<std::string>* found)
{
    DIR* folder = opendir((root + "/" + relative).c_str());
    if (folder == nullptr)
        return;
    while (struct dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat status;
        if (stat((root + "/" + relative + name).c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            found->push_back(relative + name + "/");
            ListTreeInto(root, relative + name + "/", found);
        } else {
            found->push_back(relative + name);
        }
    }
    closedir(folder);
}
