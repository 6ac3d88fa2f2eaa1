// Mode selection from the command line: uninstall when the first argument begins with r or R,
// optionally after one - or /; install otherwise.
#pragma once

// 1 when commandLine (a raw process command line, the program name first, quoted or not) asks
// for uninstall, else 0. Only the first character of the first argument decides, after at most
// one switch character; nothing else is read.
int UninstallModeFromCommandLine(const char* commandLine);

// Sets UninstallMode from the process's command line.
void ParseCommandLine();
