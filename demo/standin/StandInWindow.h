// The one window of a stand-in program: a fixed-size top-level window that says what the program
// stands in for, living until the user closes it.
#pragma once

#include <windows.h>

// Id of the static control that holds the window's explanation.
const int StandInTextId = 100;

// Registers className, shows the window with title and text, and dispatches messages until it is
// closed. Returns the process exit code: 0 after a normal close, 1 when the window cannot be made.
int RunStandInWindow(HINSTANCE instance, const char* className, const char* title, const char* text);
