// zpack list and zpack verify: read a package as the setup program does.
#pragma once

#include "format/PackageWalker.h"

#include <stdio.h>

// One line per entry on out: index | target | display text | overwrite | stored bytes |
// expanded bytes | compressed or stored. Stops at a structural problem. Returns the exit status.
int ListPackage(const char* packagePath, FILE* out, FILE* err);

// Walks the package and expands every entry; prints a summary on out and exits 0 when sound,
// else names the first problem on err and exits 1.
int VerifyPackage(const char* packagePath, FILE* out, FILE* err);

// "zpack: PACKAGE: entry I at offset O: what" for the walker's problem.
void ReportPackageProblem(FILE* err, const char* packagePath, const PackageWalker& walker);

// Warnings that do not stop the setup program: bytes after the last entry, a negative StoredSize.
void WarnTrailingBytes(FILE* err, const char* packagePath, const PackageWalker& walker);
void WarnNegativeSize(FILE* err, const char* packagePath, const PackageWalker& walker);
