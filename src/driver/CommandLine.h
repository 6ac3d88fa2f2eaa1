// The command line: the mode (uninstall when the first argument begins with r or R, optionally
// after one - or /; install otherwise) and the switches of unattended runs.
#pragma once

#include "driver/RunOptions.h"

// 1 when commandLine (a raw process command line, the program name first, quoted or not) asks
// for uninstall, else 0. Only the first character of the first argument decides, after at most
// one switch character; nothing else is read.
int UninstallModeFromCommandLine(const char* commandLine);

// Reads the switches of commandLine (as above) into options, every field set. Arguments are
// separated by blanks; double quotes group blanks into an argument and are dropped. Switches begin
// with - or / and are read anywhere, in any letter case: /quiet, /passive, /dir=FOLDER, /log=FILE,
// /runatstartup, /launch, /?. In an unattended line (/quiet or /passive) anything else, a refused
// value, an install switch in an uninstall, or an unterminated quote sets options->Problem; the
// first argument, when it selects uninstall, is the mode and no switch. A FOLDER is kept only
// when it is absolute, on a local drive, below the drive's root, without "." or ".." components or
// characters Windows refuses in names, and under MAX_PATH bytes once its trailing backslash is cut.
// Every copy is bounded: no line, however long, overruns a buffer.
void ReadSetupOptions(const char* commandLine, int uninstallMode, SetupOptions* options);

// Sets UninstallMode and RunOptions from the process's command line.
void ParseCommandLine();

// The list of switches and exit codes that /? shows; a carriage return breaks its lines.
extern const char SwitchHelpText[];
