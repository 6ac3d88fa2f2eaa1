// What the window watch's hook (WindowWatchHook.dll, inside the watched program) and its watcher
// (WindowWatch.cpp, in the test or the demo) share: the names of the section and event, keyed by the watched
// process's id, and the section's layout.
#pragma once

#include <windows.h>

#include <stdio.h>

const int WatchSlots = 256;
const int WatchTextChars = 200; // "class|caption", terminator included, cut to fit

struct WatchSection {
    volatile LONG Taken;               // slots handed out, in the order of the shows
    volatile LONG Written[WatchSlots]; // 1 once the slot's text is complete
    char Text[WatchSlots][WatchTextChars];

    // The trigger, set by the watcher before the program runs: once the control TriggerControl
    // of a window gets the text TriggerText, the hook presses TriggerButton of that window from
    // its own thread; with TriggerButton 0 it paints the window there and then and holds its
    // thread until the watcher releases it (or HoldLimitMs passed).
    LONG TriggerControl;
    LONG TriggerButton;
    char TriggerText[WatchTextChars];
    volatile LONG TriggerPressed; // 1 once the button was pressed
};

// The section's name for process processId, in a buffer of at least 64 characters.
inline void WatchSectionName(char* name, DWORD processId)
{
    snprintf(name, 64, "Local\\ZorvaneWindowWatch.%lu", static_cast<unsigned long>(processId));
}

// The auto-reset event the hook sets after each report.
inline void WatchEventName(char* name, DWORD processId)
{
    snprintf(name, 64, "Local\\ZorvaneWindowWatch.%lu.shown", static_cast<unsigned long>(processId));
}

// The manual-reset events of a holding trigger: set by the hook once the window is held
// painted, and by the watcher to let it go on.
inline void WatchHeldName(char* name, DWORD processId)
{
    snprintf(name, 64, "Local\\ZorvaneWindowWatch.%lu.held", static_cast<unsigned long>(processId));
}
inline void WatchReleaseName(char* name, DWORD processId)
{
    snprintf(name, 64, "Local\\ZorvaneWindowWatch.%lu.release", static_cast<unsigned long>(processId));
}
const DWORD HoldLimitMs = 60000;

// The hook's entry, as WindowWatchHook.dll exports it.
const char WatchHookExport[] = "WatchWindowCreation";
