#include "support/PackageBuilder.h"

#include <string.h>

std::string SzddLiterals(const std::string& content, char missingLastChar)
{
    std::string stream("SZDD\x88\xF0\x27\x33", 8);
    stream += 'A';
    stream += missingLastChar;
    uint32_t length = static_cast<uint32_t>(content.size());
    for (int i = 0; i < 4; ++i)
        stream += static_cast<char>(length >> (8 * i));
    for (size_t group = 0; group < content.size(); group += 8) {
        stream += '\xFF';
        stream += content.substr(group, 8);
    }
    return stream;
}

std::string PackageEntryBytes(const std::string& target, const std::string& display,
                              const std::string& stored, uint16_t overwriteMode)
{
    return EntryHeader(target, display, static_cast<int32_t>(stored.size()), overwriteMode) + stored;
}
