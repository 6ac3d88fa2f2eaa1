#include "zpack/ZpackTestSupport.h"

#include "ZpackCommand.h"

#include <gtest/gtest.h>

#include <stdio.h>

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
