// zpack build: turns a manifest and its source files into a package.
#pragma once

#include <stdint.h>
#include <stdio.h>

struct BuildOptions {
    unsigned Threads;   // threads that compress, the caller's included (at least 1)
    uint32_t ChunkSize; // input bytes searched as one piece; the package does not depend on it
};

// Builds packagePath from the manifest, writing a temporary file beside it that replaces the
// package only when complete; on any failure nothing is left behind. Messages go to err, the
// summary to out. Returns the exit status: 0 when built, 1 otherwise. The package is the same byte
// for byte whatever the options.
int BuildPackage(const char* manifestPath, const char* packagePath, const BuildOptions& options, FILE* out,
                 FILE* err);
