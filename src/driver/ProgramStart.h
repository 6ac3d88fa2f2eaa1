// Starting the installed product with a command line, as both sequences do.
#pragma once

#include <windows.h>

// Bytes of the product command: the quoted path of tpz2.exe (at most MAX_PATH - 1 characters),
// with room for the longest switch the sequences append (" /UnRegServer") and the terminator.
const size_t ProductCommandSize = MAX_PATH + 2 + 16;

// Writes into command (ProductCommandSize bytes) the path of tpz2.exe in folder, in double quotes.
// False, with command empty, when that path does not fit MAX_PATH.
bool FormatProductCommand(char* command, const char* folder);

// Starts commandLine (no application name, no inherited handles, no creation flags, the current
// environment and folder). With waitMs non-zero, waits for it at most that long (INFINITE: without
// a limit); with exitCode given, it receives the program's exit code, or STILL_ACTIVE when the
// wait ended first (or there was none). Both handles are released. False when it could not be
// started, or when the command line is longer than the system takes. With endIfStillRunning, a
// program still running when the wait ends is ended (exit code 1) before the handles go.
bool StartProgram(const char* commandLine, DWORD waitMs, DWORD* exitCode = nullptr,
                  bool endIfStillRunning = false);

// Writes into text (size bytes) how a program started with StartProgram ended: "done" for exit
// code 0, "still running after N s" (N: waitMs in seconds) for STILL_ACTIVE, else "ended with
// exit code N".
void DescribeProgramEnd(char* text, size_t size, DWORD exitCode, DWORD waitMs);
