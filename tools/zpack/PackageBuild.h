// zpack build: turns a manifest and its source files into a package.
#pragma once

#include <stdio.h>

// Builds packagePath from the manifest, writing a temporary file beside it that replaces the
// package only when complete; on any failure nothing is left behind. Messages go to err, the
// summary to out. Returns the exit status: 0 when built, 1 otherwise.
int BuildPackage(const char* manifestPath, const char* packagePath, FILE* out, FILE* err);
