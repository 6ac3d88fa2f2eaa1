// Runs zpack commands in-process on real files in a temporary folder and captures what they print.
#pragma once

#include "support/ScopedTempDir.h"

#include <string>
#include <vector>

struct ZpackRun {
    int Status;
    std::string Out;
    std::string Err;
};

// Runs "zpack ARGS..." with standard output and error captured through files in dir.
ZpackRun RunZpackCommand(const ScopedTempDir& dir, const std::vector<std::string>& args);
