// Starts a program of the tests with every top-level window it shows watched from its first
// instruction: it starts suspended, a hook that runs inside it (WindowWatchHook.dll, beside the
// test program) is set for its process, then it runs. The hook reports each show while it happens,
// in the program's own thread, so a window up for a millisecond is seen as surely as one that
// stays, however busy the machine. The test need not look at all while the program runs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Something to do at a moment of the program's own: once control ControlId of a window gets the
// text Text, press its window's button ButtonId from the window's own thread, as a click at that
// very moment would, however late the test would have looked.
struct TextTrigger {
    int ControlId;
    std::string Text;
    int ButtonId;
};

class WatchedChild {
public:
    // Starts commandLine watched, with trigger (if any) armed before its first instruction; a
    // start or a hook that fails is a test failure, and then the process is null.
    explicit WatchedChild(std::string commandLine, const TextTrigger* trigger = nullptr);
    ~WatchedChild();
    WatchedChild(const WatchedChild&) = delete;
    WatchedChild& operator=(const WatchedChild&) = delete;

    const PROCESS_INFORMATION& Process() const { return Info; }

    // "class|caption" of each top-level window shown so far, in the order of the first show, each
    // once; the caption as it was when the window was shown.
    std::vector<std::string> ShownWindows() const;

    // Waits up to timeoutMs until window ("class|caption") has been shown; true when it was.
    bool WaitForShown(const std::string& window, DWORD timeoutMs);

    // Whether the trigger's button was pressed.
    bool TriggerPressed() const;

    // Waits up to limitMs for the end (terminating the program then, as a test failure) and
    // returns its exit code; ~0u for a null process. The windows stay readable.
    DWORD Finish(DWORD limitMs);

private:
    PROCESS_INFORMATION Info = {};
    HANDLE Mapping = nullptr;
    HANDLE Shown = nullptr;
    struct WatchSection* Section = nullptr;
    HWINEVENTHOOK Hook = nullptr;
};
