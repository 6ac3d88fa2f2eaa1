#include "support/WindowWatch.h"

#include "support/ChildProcess.h"

#include <gtest/gtest.h>

WatchedChild::WatchedChild(std::string commandLine, const TextTrigger* trigger)
{
    const std::string failure =
        Watch.Start(std::move(commandLine), BesideTests("WindowWatchHook.dll"), trigger);
    if (!failure.empty())
        ADD_FAILURE() << failure;
}

WatchedChild::~WatchedChild()
{
    Watch.Release();
    if (Watch.Process().hProcess != nullptr)
        Finish(0);
}

std::vector<std::string> WatchedChild::ShownWindows() const
{
    bool overflow = false;
    std::vector<std::string> shown = Watch.ShownWindows(&overflow);
    if (overflow)
        ADD_FAILURE() << "more shows than the watch holds";
    return shown;
}

DWORD WatchedChild::Finish(DWORD limitMs)
{
    if (Watch.Process().hProcess == nullptr)
        return ~0u;
    const DWORD code = FinishChild(Watch.Process(), limitMs);
    Watch.ForgetProcess();
    return code;
}
