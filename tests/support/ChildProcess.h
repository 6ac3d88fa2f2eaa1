// Starting a program of the tests as a child and waiting for its end.
#pragma once

#include <windows.h>

#include <string>

// True where this test program runs emulated: the 32-bit build through QEMU (scripts/test says
// which route it took), where every program's start takes seconds.
bool EmulatedRoute();

// A program or file beside this test program.
std::string BesideTests(const char* name);

// Starts commandLine, with application as the program when given (so that a program whose name
// lacks the extension .exe runs as it is named); a failed start is a test failure and gives a
// null process.
PROCESS_INFORMATION StartChild(std::string commandLine, const char* application = nullptr);

// Waits up to limitMs for process to end (terminating it then, as a test failure) and returns its
// exit code; ~0u for a null process.
DWORD FinishChild(PROCESS_INFORMATION process, DWORD limitMs);
