// Everything in which zpack on the build host and zpack.exe on Windows differ: path sizes and
// separators, file and folder calls the C library does not cover, terminals. Nothing here throws.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef _WIN32
const size_t ToolPathSize = 260; // MAX_PATH, terminator included
const char NativeSeparator = '\\';
#else
const size_t ToolPathSize = 4096; // PATH_MAX, terminator included
const char NativeSeparator = '/';
#endif

bool IsSeparatorCharacter(char c);

enum PathKind {
    PathMissing,
    PathRegularFile,
    PathFolder,
    PathOtherKind, // a device, pipe or anything else that is not a plain file or folder
};

// What path names; *size receives a regular file's size in bytes (when size is not null).
PathKind InspectPath(const char* path, uint64_t* size);

// Creates path as a new, empty file opened for binary writing; null when it already exists or
// cannot be created.
FILE* CreateNewFile(const char* path);

// Opens an existing file for binary reading; null when it cannot.
FILE* OpenForReading(const char* path);

// Renames from to to, replacing a file of that name. False when the system refuses.
bool MoveIntoPlace(const char* from, const char* to);

bool RemoveFileAt(const char* path);

// Creates one folder (its parent must exist). False when it exists already or cannot be made.
bool MakeFolder(const char* path);

// Removes an empty folder; false when it cannot.
bool RemoveEmptyFolder(const char* path);

// Moves an open stream to an absolute byte position, beyond 2 GB too.
bool SeekTo(FILE* file, uint64_t position);

// Cuts an open stream (flushed first) to size bytes.
bool TruncateOpenFile(FILE* file, uint64_t size);

bool IsTerminal(FILE* stream);

// The running process's id, to make temporary names that no other zpack run uses.
unsigned long CurrentProcessId();
