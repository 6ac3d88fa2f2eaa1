// zpack extract: writes every entry's expanded content under a folder.
#pragma once

#include <stdio.h>

// The folder that receives the system-folder ('@') entries inside the extraction folder.
extern const char SystemFolderName[];

// Extracts every entry of the package under folder (created when missing), system-folder entries
// under folder/@system. Every header is checked first, so a faulty header or a file where another
// entry needs a folder is refused before anything is made. Each file is then expanded into a
// temporary name beside its target; only when the whole package has been read without a problem
// are they moved into place, the files they replace set aside until all are in place. Any
// failure leaves the folder as it was: temporaries and folders made are removed, files moved in
// are taken out and the replaced ones put back. Returns the exit status.
int ExtractPackageFiles(const char* packagePath, const char* folder, FILE* out, FILE* err);
