// zpack extract: writes every entry's expanded content under a folder.
#pragma once

#include <stdio.h>

// The folder that receives the system-folder ('@') entries inside the extraction folder.
extern const char SystemFolderName[];

// Extracts every entry of the package under folder (created when missing), system-folder entries
// under folder/@system. Each file is expanded into a temporary name beside its target; only when
// the whole package has been read without a problem are they moved into place, so a corrupt
// package, an escaping name or a failed write leaves nothing behind (folders made are removed
// again). Returns the exit status.
int ExtractPackageFiles(const char* packagePath, const char* folder, FILE* out, FILE* err);
