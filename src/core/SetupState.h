// Process-wide state of one setup run, shared by the sequences and the parts they call: set by the
// entry from the command line, read by every layer, so it lives at the bottom.
#pragma once

#include <windows.h>

#include <atomic>

// The program's own module: resources and its own path come from it.
extern HINSTANCE ModuleInstance;
// 1 when the command line asked for uninstall, else 0.
extern int UninstallMode;
// Bitmap resource 105, shown on every wizard page; loaded and freed by the entry.
extern HBITMAP WizardBitmap;
// The installation folder: the registry default, changed by the wizard, then read by extraction,
// registration and shortcut creation.
extern char DestinationFolder[MAX_PATH];
// The Windows registered owner, written into the uninstall entry.
extern char RegisteredOwnerName[128];

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

// Set when the user closes a window of a passive run (the backdrop, or the progress dialog's
// Cancel button), on the thread of those windows: the run stops at its next safe point.
extern std::atomic<bool> CancelRequested;

// True when RunOptions asks for a run without the wizard, questions and message boxes.
bool IsUnattended();
