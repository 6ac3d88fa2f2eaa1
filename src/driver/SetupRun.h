// One run of the setup program from its entry to its exit code: the command line, the diagnostic
// log of an unattended run, and the one sequence the line asks for.
#pragma once

#include <windows.h>

// Runs the program for module instance: reads the command line; in an unattended run opens the
// /log file (ExitLogUnopenable, having done nothing, when it cannot); then refuses an invalid line,
// lists the switches for /?, or puts up the backdrop and runs the install or the uninstall. The
// common controls and COM must be initialised. Returns the exit code: ExitSuccess in every
// interactive run, the run's own code (ExitCodes) in an unattended one.
int RunSetup(HINSTANCE instance);
