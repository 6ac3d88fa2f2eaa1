// Stand-in for the product's manager program Wendlor.exe: a window that says what it stands in
// for, living until closed.
#include "StandInWindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return RunStandInWindow(instance, "WendlorStandIn_Class", "Wendlor (stand-in)",
                            "This program stands in for Wendlor, the manager of\n"
                            "TALVIQ Project Zorvane 2 PE Demo.");
}
