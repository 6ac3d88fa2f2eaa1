#include "driver/CommandLine.h"

#include "core/SetupState.h"

int UninstallModeFromCommandLine(const char* commandLine)
{
    const char* at = commandLine;
    // The program name: up to the closing quote, or to the first blank when unquoted.
    if (*at == '"') {
        ++at;
        while (*at != '\0' && *at != '"')
            ++at;
    } else {
        while (*at != '\0' && *at != ' ' && *at != '\t')
            ++at;
    }
    if (*at != '\0')
        ++at;
    while (*at == ' ' || *at == '\t')
        ++at;
    if (*at == '-' || *at == '/')
        ++at;
    return *at == 'r' || *at == 'R' ? 1 : 0;
}

void ParseCommandLine() { UninstallMode = UninstallModeFromCommandLine(GetCommandLineA()); }
