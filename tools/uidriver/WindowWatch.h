// Starts a program with every top-level window it shows watched from its first instruction: it
// starts suspended, a hook that runs inside it (WindowWatchHook.dll) is set for its process, then
// it runs. The hook reports each show while it happens, in the program's own thread, so a window
// up for a millisecond is seen as surely as one that stays, however busy the machine. The watcher
// need not look at all while the program runs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Something to do at a moment of the program's own: once control ControlId of a window gets the
// text Text, press its window's button ButtonId from the window's own thread, as a click at that
// very moment would, however late the watcher would have looked. ButtonId 0 holds instead: the
// window is painted there and then, and its thread waits until the watcher has looked (Release).
struct TextTrigger {
    int ControlId;
    std::string Text;
    int ButtonId;
};

class WindowWatch {
public:
    WindowWatch() = default;
    ~WindowWatch(); // lets a held program go on; the process itself is the caller's
    WindowWatch(const WindowWatch&) = delete;
    WindowWatch& operator=(const WindowWatch&) = delete;

    // Starts commandLine watched through the hook at hookPath, with trigger (if any) armed before
    // its first instruction. Returns "" when it runs watched, else what failed (then no process).
    std::string Start(std::string commandLine, const std::string& hookPath, const TextTrigger* trigger);

    const PROCESS_INFORMATION& Process() const { return Info; }
    // The process and thread handles are the caller's from now on.
    void ForgetProcess() { Info = {}; }

    // "class|caption" of each top-level window shown so far, in the order of the first show, each
    // once; the caption as it was when the window was shown. *overflow: more shows than it holds.
    std::vector<std::string> ShownWindows(bool* overflow = nullptr) const;

    // Waits up to timeoutMs until window ("class|caption") has been shown; true when it was.
    bool WaitForShown(const std::string& window, DWORD timeoutMs);

    // Whether the trigger went off (its button pressed, or its window held).
    bool TriggerFired() const;

    // With a holding trigger: waits up to timeoutMs until the window is held painted; then
    // Release lets the program go on.
    bool WaitForHold(DWORD timeoutMs);
    void Release();

private:
    PROCESS_INFORMATION Info = {};
    HANDLE Mapping = nullptr;
    HANDLE Shown = nullptr;
    HANDLE Held = nullptr;
    HANDLE Released = nullptr;
    struct WatchSection* Section = nullptr;
    HWINEVENTHOOK Hook = nullptr;
    HMODULE HookModule = nullptr;
};
