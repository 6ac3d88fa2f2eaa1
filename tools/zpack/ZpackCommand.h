// The zpack command line: build, list, verify, extract, --help.
#pragma once

#include <stdio.h>

// Runs one zpack command as the program's main would, printing to out and err. Returns the exit
// status: 0 success, 1 a failure or a problem found, 2 a usage error.
int RunZpack(int argc, char** argv, FILE* out, FILE* err);

extern const char ZpackHelpText[];
