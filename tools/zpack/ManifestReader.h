// The manifest zpack builds a package from: text, one entry per line,
//   target | source | display text | overwrite | storage
// with blanks around the fields trimmed, trailing fields optional, blank lines and lines whose
// first non-blank character is '#' ignored, and source paths relative to the manifest's folder.
#pragma once

#include "ToolPlatform.h"
#include "format/PackageFormat.h"

#include <stdint.h>
#include <stdio.h>

#include <vector>

// Longest manifest line, line end excluded.
const size_t ManifestLineSize = 2048;

struct ManifestEntry {
    unsigned Line;
    char Target[PackageTextSize];      // as stored in the header; "@\name" for the system folder
    char DisplayText[PackageTextSize]; // never empty: defaults to the target's file name
    char Source[ToolPathSize];         // joined to the manifest's folder when relative
    uint16_t OverwriteMode;
    bool Store;          // keep the file as it is instead of compressing it
    uint64_t SourceSize; // bytes, when read
};

// Reads and checks the whole manifest, sources included. Prints every refusal as
// "zpack: MANIFEST:LINE: message" on err. True when there was none and at least one entry.
bool ReadManifest(const char* path, std::vector<ManifestEntry>* entries, FILE* err);

// Null when target is a valid manifest target, else what is wrong with it.
const char* CheckManifestTarget(const char* target);

// "replace-if-newer", "keep-existing" or "always-replace" for a stored OverwriteMode.
const char* OverwriteModeName(uint16_t mode);
