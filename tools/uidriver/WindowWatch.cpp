#include "uidriver/WindowWatch.h"

#include "uidriver/WindowWatchShared.h"

#include <algorithm>

#include <string.h>

namespace {

std::string Failed(const char* what, const std::string& about)
{
    return std::string(what) + " " + about + " (error " + std::to_string(GetLastError()) + ")";
}

} // namespace

std::string WindowWatch::Start(std::string commandLine, const std::string& hookPath,
                               const TextTrigger* trigger)
{
    // Loaded here too, so that the watched program finds it at the same path.
    if (HookModule == nullptr && (HookModule = LoadLibraryA(hookPath.c_str())) == nullptr)
        return Failed("cannot load", hookPath);
    FARPROC exported = GetProcAddress(HookModule, WatchHookExport);
    WINEVENTPROC proc = reinterpret_cast<WINEVENTPROC>(reinterpret_cast<void*>(exported));
    if (proc == nullptr)
        return Failed("no hook entry in", hookPath);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &Info)) {
        Info = {};
        return Failed("cannot start", commandLine);
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
    WatchHeldName(name, Info.dwProcessId);
    Held = CreateEventA(nullptr, TRUE, FALSE, name);
    WatchReleaseName(name, Info.dwProcessId);
    Released = CreateEventA(nullptr, TRUE, FALSE, name);
    if (Section != nullptr && Shown != nullptr && Held != nullptr && Released != nullptr)
        Hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, HookModule, proc, Info.dwProcessId,
                               0, WINEVENT_INCONTEXT);
    if (Hook == nullptr) {
        std::string failure = Failed("cannot watch the windows of", commandLine);
        TerminateProcess(Info.hProcess, 1);
        WaitForSingleObject(Info.hProcess, 10000);
        CloseHandle(Info.hThread);
        CloseHandle(Info.hProcess);
        Info = {};
        return failure;
    }
    ResumeThread(Info.hThread);
    return "";
}

WindowWatch::~WindowWatch()
{
    Release();
    if (Hook != nullptr)
        UnhookWinEvent(Hook);
    if (Section != nullptr)
        UnmapViewOfFile(Section);
    for (HANDLE handle : {Mapping, Shown, Held, Released})
        if (handle != nullptr)
            CloseHandle(handle);
}

std::vector<std::string> WindowWatch::ShownWindows(bool* overflow) const
{
    std::vector<std::string> shown;
    if (overflow != nullptr)
        *overflow = Section != nullptr && Section->Taken > WatchSlots;
    if (Section == nullptr)
        return shown;
    const LONG taken = std::min<LONG>(LONG(Section->Taken), WatchSlots);
    for (LONG slot = 0; slot < taken; ++slot) {
        if (Section->Written[slot] == 0)
            continue; // being written now: the next look has it
        std::string text(Section->Text[slot], strnlen(Section->Text[slot], WatchTextChars));
        if (std::find(shown.begin(), shown.end(), text) == shown.end())
            shown.push_back(text);
    }
    return shown;
}

bool WindowWatch::TriggerFired() const { return Section != nullptr && Section->TriggerPressed != 0; }

bool WindowWatch::WaitForShown(const std::string& window, DWORD timeoutMs)
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

bool WindowWatch::WaitForHold(DWORD timeoutMs)
{
    if (Held == nullptr)
        return false;
    HANDLE either[] = {Held, Info.hProcess};
    // A program that ends first was never held.
    return WaitForMultipleObjects(Info.hProcess != nullptr ? 2 : 1, either, FALSE, timeoutMs) ==
           WAIT_OBJECT_0;
}

void WindowWatch::Release()
{
    if (Released != nullptr)
        SetEvent(Released);
}
