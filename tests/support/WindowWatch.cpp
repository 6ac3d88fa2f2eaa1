#include "support/WindowWatch.h"

#include "support/ChildProcess.h"
#include "support/WindowWatchShared.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The hook's module, loaded once for the test program; the watched program loads it by this path.
HMODULE HookModule()
{
    static HMODULE module = nullptr;
    if (module == nullptr) {
        const std::string path = BesideTests("WindowWatchHook.dll");
        module = LoadLibraryA(path.c_str());
        EXPECT_NE(module, nullptr) << "cannot load " << path << ": " << GetLastError();
    }
    return module;
}

} // namespace

WatchedChild::WatchedChild(std::string commandLine, const TextTrigger* trigger)
{
    HMODULE module = HookModule();
    FARPROC exported = module != nullptr ? GetProcAddress(module, WatchHookExport) : nullptr;
    WINEVENTPROC proc = reinterpret_cast<WINEVENTPROC>(reinterpret_cast<void*>(exported));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (proc == nullptr || !CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                                           CREATE_SUSPENDED, nullptr, nullptr, &startup, &Info)) {
        ADD_FAILURE() << "cannot start watched: " << commandLine << " (" << GetLastError() << ")";
        Info = {};
        return;
    }
    char name[64];
    WatchSectionName(name, Info.dwProcessId);
    Mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(WatchSection), name);
    if (Mapping != nullptr)
        Section =
            static_cast<WatchSection*>(MapViewOfFile(Mapping, FILE_MAP_WRITE, 0, 0, sizeof(WatchSection)));
    if (Section != nullptr && trigger != nullptr) {
        Section->TriggerControl = trigger->ControlId;
        Section->TriggerButton = trigger->ButtonId;
        lstrcpynA(Section->TriggerText, trigger->Text.c_str(), WatchTextChars);
    }
    WatchEventName(name, Info.dwProcessId);
    Shown = CreateEventA(nullptr, FALSE, FALSE, name);
    if (Section != nullptr && Shown != nullptr)
        Hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, module, proc, Info.dwProcessId, 0,
                               WINEVENT_INCONTEXT);
    if (Hook == nullptr) {
        ADD_FAILURE() << "cannot watch the windows of " << commandLine << " (" << GetLastError() << ")";
        TerminateProcess(Info.hProcess, 1);
        Finish(10000);
        Info = {};
        return;
    }
    ResumeThread(Info.hThread);
}

WatchedChild::~WatchedChild()
{
    if (Info.hProcess != nullptr)
        Finish(0);
    if (Hook != nullptr)
        UnhookWinEvent(Hook);
    if (Section != nullptr)
        UnmapViewOfFile(Section);
    for (HANDLE handle : {Mapping, Shown})
        if (handle != nullptr)
            CloseHandle(handle);
}

std::vector<std::string> WatchedChild::ShownWindows() const
{
    std::vector<std::string> shown;
    if (Section == nullptr)
        return shown;
    const LONG taken = Section->Taken;
    if (taken > WatchSlots)
        ADD_FAILURE() << taken << " shows, more than the watch holds";
    for (LONG slot = 0; slot < std::min<LONG>(taken, WatchSlots); ++slot) {
        if (Section->Written[slot] == 0)
            continue; // being written now: the next look has it
        std::string text(Section->Text[slot], strnlen(Section->Text[slot], WatchTextChars));
        if (std::find(shown.begin(), shown.end(), text) == shown.end())
            shown.push_back(text);
    }
    return shown;
}

bool WatchedChild::TriggerPressed() const { return Section != nullptr && Section->TriggerPressed != 0; }

bool WatchedChild::WaitForShown(const std::string& window, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        std::vector<std::string> shown = ShownWindows();
        if (std::find(shown.begin(), shown.end(), window) != shown.end())
            return true;
        const DWORD spent = GetTickCount() - start;
        if (Shown == nullptr || spent >= timeoutMs)
            return false;
        WaitForSingleObject(Shown, timeoutMs - spent);
    }
}

DWORD WatchedChild::Finish(DWORD limitMs)
{
    if (Info.hProcess == nullptr)
        return ~0u;
    const DWORD code = FinishChild(Info, limitMs);
    Info.hThread = Info.hProcess = nullptr;
    return code;
}
