// A program of the tests started under the window watch (uidriver/WindowWatch.h), with the hook
// from beside the test program; what fails to start or to be watched is a test failure.
#pragma once

#include "uidriver/WindowWatch.h"

#include <windows.h>

#include <string>
#include <vector>

class WatchedChild {
public:
    // Starts commandLine watched, with trigger (if any) armed before its first instruction; a
    // start or a hook that fails is a test failure, and then the process is null.
    explicit WatchedChild(std::string commandLine, const TextTrigger* trigger = nullptr);
    ~WatchedChild();
    WatchedChild(const WatchedChild&) = delete;
    WatchedChild& operator=(const WatchedChild&) = delete;

    const PROCESS_INFORMATION& Process() const { return Watch.Process(); }

    // "class|caption" of each top-level window shown so far, in the order of the first show, each
    // once; the caption as it was when the window was shown.
    std::vector<std::string> ShownWindows() const;

    // Waits up to timeoutMs until window ("class|caption") has been shown; true when it was.
    bool WaitForShown(const std::string& window, DWORD timeoutMs)
    {
        return Watch.WaitForShown(window, timeoutMs);
    }

    // Whether the trigger went off (its button pressed, or its window held).
    bool TriggerPressed() const { return Watch.TriggerFired(); }

    // A holding trigger's window, held painted; Release lets the program go on.
    bool WaitForHold(DWORD timeoutMs) { return Watch.WaitForHold(timeoutMs); }
    void Release() { Watch.Release(); }

    // Waits up to limitMs for the end (terminating the program then, as a test failure) and
    // returns its exit code; ~0u for a null process. The windows stay readable.
    DWORD Finish(DWORD limitMs);

private:
    WindowWatch Watch;
};
