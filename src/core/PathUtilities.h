// Path text and folder chains. Paths are ANSI text in MAX_PATH (260-byte) buffers; the only
// separator is the backslash. Nothing here throws.
#pragma once

#include <windows.h>

// Splits path into its folder part (up to and including the last backslash), base name and
// extension (from the name's last dot, dot included). Each output holds MAX_PATH bytes; a part
// that would not fit is cut. A name whose only dot leads (.profile) is all base name.
void SplitPath(const char* path, char* folder, char* baseName, char* extension);

// Fills result (MAX_PATH bytes) with the running program's folder (with its trailing backslash),
// then, when besideOnly is false, the program's base name and a dot, then text.
// False, with result empty, when the path would not fit.
bool PathBesideProgram(char* result, const char* text, bool besideOnly);

// Appends component to path (a non-empty text in a MAX_PATH buffer) after exactly one backslash.
// False, with path unchanged, when path is empty or the result would not fit.
bool AppendPathComponent(char* path, const char* component);

// Creates every missing folder of path; its first component (a drive) is taken to exist.
// On success stores in *created (when given) whether any folder was made. False on a path without
// a backslash, a component that is a file, or a folder the system refuses to create; the folders
// made before the failure stay. Each folder it makes is told to the hooks of SetFolderCreationHooks:
// the making hook before (its false fails the call, the folder not made), the made hook after.
bool CreateFolderChain(const char* path, int* created = nullptr);

// Who is told of each folder CreateFolderChain makes: the making hook before it is made (false
// refuses it), the made hook once it exists. The run wires the install journal's pair here, so that
// an undo knows every folder it made; null for either tells nobody.
typedef bool (*FolderMakingHook)(const char* folder);
typedef void (*FolderMadeHook)();
void SetFolderCreationHooks(FolderMakingHook making, FolderMadeHook made);

// Removes the folder, then each parent while the system lets it (only empty folders go).
// True only when the walk removed the path's first component itself.
bool RemoveFolderChain(const char* path);

// True for a drive path (C:\...) or a network path (\\server\...), never for one relative to the
// current folder or drive.
bool IsAbsolutePath(const char* path);

// Folds each run of backslashes after the root into one, in place: the system reads C:\a\\b as
// C:\a\b, and so must every comparison of paths. The two that open a network path stay.
void FoldSeparators(char* path);

// True when both texts name the same path as the system reads them: letter case ignored, runs of
// backslashes read as one, a trailing backslash ignored. Paths of under MAX_PATH bytes; longer
// ones are never the same.
bool IsSamePathText(const char* first, const char* second);

// True when both paths name one existing file or folder, however each is spelt (short 8.3 names,
// letter case, links): the volume and the file index of the open files are compared.
bool IsSameFile(const char* first, const char* second);

// The longest installation folder (without a trailing backslash): a file can be replaced in a
// folder only when the system has room for a temporary name beside it. The command line, the
// wizard's folder browser and the install itself all hold to it.
const size_t InstallFolderLimit = MAX_PATH - 15;

// True when the system says nothing is at folder (not found, or its path not found); another
// failure to look is no proof that it is missing.
bool IsMissingFolder(const char* folder);
