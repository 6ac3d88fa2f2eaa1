// Builds package bytes in tests: headers through the shared encoder, stored bytes as given, and a
// minimal compress-format (SZDD) encoder that writes literals only, which any expander must accept.
#pragma once

#include "format/PackageFormat.h"
#include "support/PackageEntryBytes.h"

#include <stdint.h>

#include <string>

// A compress-format stream of content made of literals only: the 14-byte header (magic, mode 'A',
// missingLastChar, the length as 32-bit little-endian), then groups of one flag byte 0xFF and up
// to 8 literal bytes; a short last group keeps its flag byte.
std::string SzddLiterals(const std::string& content, char missingLastChar = '_');

// A header announcing stored.size() bytes, followed by stored.
std::string PackageEntryBytes(const std::string& target, const std::string& display,
                              const std::string& stored, uint16_t overwriteMode = AlwaysReplace);
