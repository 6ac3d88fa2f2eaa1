// What the command line asked of this run, set once by the entry before any window exists and read
// by the driver alone: the windows and the layers below are told what they need of it.
#pragma once

#include <windows.h>

// 1 when the command line asked for uninstall, else 0.
extern int UninstallMode;

// Which windows a run shows. Full is the interactive run; the other two run unattended.
enum class UiLevel {
    Full,    // backdrop, wizard, progress, questions and message boxes
    Passive, // backdrop and progress only
    Quiet,   // no window at all
};

// What the switches beyond the mode asked for. Zero-initialised, it describes the interactive run.
struct SetupOptions {
    UiLevel Ui;
    bool ShowHelp;          // /?: list the switches and exit codes, do nothing else
    bool RunAtStartup;      // /runatstartup: Yes to the first closing question
    bool Launch;            // /launch: Yes to the second closing question
    bool NoRestart;         // /norestart: accepted and logged; the program never restarts Windows
    bool AllUsers;          // /allusers: the shortcuts go to the Start menu of all users
    char Folder[MAX_PATH];  // /dir: the installation folder itself, without a trailing backslash; empty: none
    char LogPath[MAX_PATH]; // /log: the diagnostic log; empty: none
    // Why an unattended line is refused (a short text naming the switch); empty when it is not.
    // An interactive run ignores it.
    char Problem[MAX_PATH + 64];
};

extern SetupOptions RunOptions;

// True when RunOptions asks for a run without the wizard, questions and message boxes.
bool IsUnattended();
