#include "zpack/ZpackTestSupport.h"

#include "ZpackCommand.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace {

std::string ReadBack(FILE* file)
{
    std::string text;
    rewind(file);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    fclose(file);
    return text;
}

void ListInto(const std::string& root, const std::string& relative, std::vector<std::string>* found)
{
#ifdef _WIN32
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((root + "\\" + relative + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            found->push_back(relative + name + "\\");
            ListInto(root, relative + name + "\\", found);
        } else {
            found->push_back(relative + name);
        }
    } while (FindNextFileA(search, &data));
    FindClose(search);
#else
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
            ListInto(root, relative + name + "/", found);
        } else {
            found->push_back(relative + name);
        }
    }
    closedir(folder);
#endif
}

} // namespace

ZpackRun RunZpackCommand(const ScopedTempDir& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> words = {"zpack"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::string outPath = dir.Join("stdout.txt"), errPath = dir.Join("stderr.txt");
    FILE* out = fopen(outPath.c_str(), "w+b");
    FILE* err = fopen(errPath.c_str(), "w+b");
    ZpackRun run = {-1, std::string(), std::string()};
    if (out == nullptr || err == nullptr) {
        ADD_FAILURE() << "cannot capture the output";
        return run;
    }
    run.Status = RunZpack(static_cast<int>(words.size()), argv.data(), out, err);
    run.Out = ReadBack(out);
    run.Err = ReadBack(err);
    remove(outPath.c_str());
    remove(errPath.c_str());
    return run;
}

std::vector<std::string> ListTree(const std::string& root)
{
    std::vector<std::string> found;
    ListInto(root, "", &found);
    std::sort(found.begin(), found.end());
    return found;
}
