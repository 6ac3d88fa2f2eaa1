#include "driver/RunningInstanceGuard.h"

#include "core/PathUtilities.h"
#include "driver/RunOptions.h"
#include "driver/UserMessages.h"
#include "support/ChildProcess.h"
#include "support/ScopedTempDir.h"
#include "uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdio.h>
#include <thread>

namespace {

const char InstallQuestion[] =
    "TALVIQ Project Zorvane is currently running. You can't reinstall it unless you quit "
    "the application.\rDo you want to see TALVIQ Project Zorvane's main window?";
const char UninstallQuestion[] =
    "TALVIQ Project Zorvane is currently running. You can't uninstall it unless you "
    "quit the application.\rDo you want to see TALVIQ Project Zorvane's main window?";
const char ExitPrompt[] = "Exit TALVIQ Project Zorvane then press OK to continue";
const std::vector<int> YesNo = {IDYES, IDNO};
const std::vector<int> OkCancel = {IDOK, IDCANCEL};

// True when the named mutex exists for an observer in this process that holds no handle to it.
bool MutexExists()
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "ProjectZorvaneMutex");
    if (mutex == nullptr)
        return false;
    CloseHandle(mutex);
    return true;
}

std::string UniqueName(const char* purpose)
{
    static int counter = 0;
    char name[96];
    snprintf(name, sizeof name, "ZorvaneTest-%s-%lu-%d", purpose, GetCurrentProcessId(), ++counter);
    return name;
}

// A program beside the test program, started with arguments; killed (as a test failure) if it has
// not ended when the object goes.
class ChildProcess {
public:
    ChildProcess(const char* program, const std::string& arguments)
    {
        char path[MAX_PATH];
        if (!PathBesideProgram(path, program, true)) {
            ADD_FAILURE() << "no path for " << program;
            return;
        }
        Info = StartChild(std::string("\"") + path + "\" " + arguments);
    }
    ~ChildProcess()
    {
        if (Info.hProcess == nullptr)
            return;
        if (Running()) {
            ADD_FAILURE() << "child process " << Info.dwProcessId << " still running; terminated";
            TerminateProcess(Info.hProcess, 99);
            WaitForSingleObject(Info.hProcess, 10000);
        }
        CloseHandle(Info.hThread);
        CloseHandle(Info.hProcess);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running() const
    {
        return Info.hProcess != nullptr && WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT;
    }
    // Waits for the end; its exit code, or -1 when it did not end in time.
    int Wait(DWORD timeoutMs = 10000)
    {
        DWORD code = 0;
        if (Info.hProcess == nullptr || WaitForSingleObject(Info.hProcess, timeoutMs) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(Info.hProcess, &code))
            return -1;
        return static_cast<int>(code);
    }
    DWORD Id() const { return Info.dwProcessId; }
    HANDLE Handle() const { return Info.hProcess; }

private:
    PROCESS_INFORMATION Info = {};
};

// Emulated, a program's start can take many seconds on a loaded machine.
const DWORD ProductStartLimitMs = 60000;

// Waits until ready is set, or the process ended or the time is up; true when it was set.
bool WaitUntilReady(HANDLE ready, HANDLE process, DWORD limitMs)
{
    if (ready == nullptr || process == nullptr)
        return false;
    const HANDLE either[] = {ready, process};
    return WaitForMultipleObjects(2, either, FALSE, limitMs) == WAIT_OBJECT_0;
}

// The stand-in product: holds the mutex and (unless "nowindow") a window of the product's class.
class FakeProduct {
public:
    explicit FakeProduct(const char* windowMode)
        : QuitName(UniqueName("quit")), Quit(CreateEventA(nullptr, TRUE, FALSE, QuitName.c_str())),
          Ready(CreateEventA(nullptr, TRUE, FALSE, (QuitName + ".ready").c_str())),
          Process("FakeProduct.exe", std::string(windowMode) + " " + QuitName)
    {
        // It says when its window and mutex are made; a slow start is waited for, not missed.
        if (!WaitUntilReady(Ready, Process.Handle(), ProductStartLimitMs) || !MutexExists())
            ADD_FAILURE() << "the fake product did not create its mutex";
        Window = FindWindowA("ProjectZorvane_Class", nullptr);
    }
    ~FakeProduct()
    {
        Stop();
        CloseHandle(Ready);
        CloseHandle(Quit);
    }

    // Ends the product and waits until its process is gone.
    void Stop()
    {
        SetEvent(Quit);
        EXPECT_EQ(Process.Wait(), 0) << "the fake product did not end cleanly";
    }
    // How often the product's window has been activated so far.
    int Activations() const
    {
        int count = -1;
        sscanf(WindowText(Window).c_str(), "Fake product activated %d", &count);
        return count;
    }

    HWND Window = nullptr;

private:
    std::string QuitName;
    HANDLE Quit;
    HANDLE Ready;
    ChildProcess Process;
};

// A visible top-level window that owns the guard's message boxes, as the backdrop does.
class OwnerWindow {
public:
    OwnerWindow()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "ZorvaneTestOwner";
        RegisterClassA(&windowClass);
        Window = CreateWindowExA(0, "ZorvaneTestOwner", "Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                 200, nullptr, nullptr, windowClass.hInstance, nullptr);
        EXPECT_NE(Window, nullptr);
    }
    ~OwnerWindow() { DestroyWindow(Window); }
    HWND Window;
};

const int PressEscapeKey = -1;

// One message box the user answers: the answer (a button id or PressEscapeKey) and what to do or
// check while the box is up, before answering.
struct Step {
    int Answer;
    std::function<void()> WhileShown;
};

struct GuardRun {
    bool Result = false;
    std::vector<MessageBoxContent> Boxes; // every box the guard showed, in order
};

// Waits for a message box of processId with this caption until it appears, stop is set, or the
// time is up.
HWND WaitForBox(DWORD processId, const char* caption, const std::atomic<bool>& stop, DWORD timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    while (!stop && GetTickCount() - start < timeoutMs) {
        HWND box = WaitForProcessWindow(processId, DialogClass, caption, 100);
        if (box != nullptr)
            return box;
    }
    return nullptr;
}

void Answer(HWND box, int answer)
{
    if (answer == PressEscapeKey)
        PressEscape(box);
    else
        PressButton(box, answer);
    EXPECT_TRUE(WaitForWindowGone(box)) << "the box did not close";
}

// Answers every box of processId until done is set: the steps in order, then (as a failure) any
// further box with Cancel or No so that the guard can end.
void AnswerBoxes(DWORD processId, const char* caption, std::vector<Step>& steps, GuardRun& run,
                 const std::atomic<bool>& done)
{
    for (Step& step : steps) {
        HWND box = WaitForBox(processId, caption, done);
        if (box == nullptr)
            return;
        run.Boxes.push_back(ReadMessageBox(box));
        if (step.WhileShown)
            step.WhileShown();
        Answer(box, step.Answer);
    }
    while (!done) {
        HWND box = WaitForBox(processId, nullptr, done);
        if (box == nullptr)
            continue;
        run.Boxes.push_back(ReadMessageBox(box));
        Answer(box, run.Boxes.back().ButtonIds == YesNo ? IDNO : IDCANCEL);
    }
}

// Runs the guard on this thread while a second thread answers its boxes.
GuardRun RunGuard(HWND owner, GuardMode mode, std::vector<Step> steps)
{
    GuardRun run;
    std::atomic<bool> done{false};
    const char* caption = mode == GuardMode::Install ? "Setup" : "Uninstall";
    std::thread user([&] { AnswerBoxes(GetCurrentProcessId(), caption, steps, run, done); });
    run.Result = WaitForProductExit(owner, mode);
    done = true;
    user.join();
    return run;
}

void ExpectQuestion(const MessageBoxContent& box, GuardMode mode)
{
    EXPECT_EQ(box.Caption, mode == GuardMode::Install ? "Setup" : "Uninstall");
    EXPECT_EQ(box.Text, mode == GuardMode::Install ? InstallQuestion : UninstallQuestion);
    EXPECT_EQ(box.IconStyle, UINT(MB_ICONQUESTION));
    EXPECT_EQ(box.ButtonIds, YesNo);
}

void ExpectExitPrompt(const MessageBoxContent& box, GuardMode mode)
{
    EXPECT_EQ(box.Caption, mode == GuardMode::Install ? "Setup" : "Uninstall");
    EXPECT_EQ(box.Text, ExitPrompt);
    EXPECT_EQ(box.IconStyle, 0u) << "the exit prompt shows no icon";
    EXPECT_EQ(box.ButtonIds, OkCancel);
}

class RunningInstanceGuardTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(MutexExists()) << "the product's mutex exists before the test"; }
    void TearDown() override { EXPECT_FALSE(MutexExists()) << "the product's mutex outlived the test"; }
    OwnerWindow Owner;
};

TEST_F(RunningInstanceGuardTest, ProductNotRunningPassesWithoutAnyBoxAndHoldsNothingInInstallMode)
{
    GuardRun run = RunGuard(Owner.Window, GuardMode::Install, {});
    EXPECT_TRUE(run.Result);
    EXPECT_TRUE(run.Boxes.empty());
    EXPECT_FALSE(MutexExists());
}

TEST_F(RunningInstanceGuardTest, YesRevealsAHiddenProductWindowThenCancelGivesUp)
{
    FakeProduct product("hidden");
    ASSERT_NE(product.Window, nullptr);
    ASSERT_FALSE(IsWindowVisible(product.Window));
    bool shownAtPrompt = false;
    int activationsAtPrompt = 0;

    GuardRun run = RunGuard(Owner.Window, GuardMode::Install,
                            {{IDYES, nullptr}, {IDCANCEL, [&] {
                                                    shownAtPrompt = IsWindowVisible(product.Window) != FALSE;
                                                    activationsAtPrompt = product.Activations();
                                                }}});

    EXPECT_FALSE(run.Result);
    ASSERT_EQ(run.Boxes.size(), 2u);
    ExpectQuestion(run.Boxes[0], GuardMode::Install);
    ExpectExitPrompt(run.Boxes[1], GuardMode::Install);
    EXPECT_TRUE(shownAtPrompt) << "the hidden window was not shown";
    EXPECT_GE(activationsAtPrompt, 1) << "the window was not brought to the foreground";
    EXPECT_TRUE(MutexExists()) << "the guard must not touch the running product";
}

TEST_F(RunningInstanceGuardTest, YesBringsAVisibleProductWindowForwardThenEscapeGivesUp)
{
    FakeProduct product("visible");
    ASSERT_NE(product.Window, nullptr);
    const int activationsBefore = product.Activations();
    int activationsAtPrompt = 0;

    GuardRun run =
        RunGuard(Owner.Window, GuardMode::Uninstall,
                 {{IDYES, nullptr}, {PressEscapeKey, [&] { activationsAtPrompt = product.Activations(); }}});

    EXPECT_FALSE(run.Result);
    ASSERT_EQ(run.Boxes.size(), 2u);
    ExpectQuestion(run.Boxes[0], GuardMode::Uninstall);
    ExpectExitPrompt(run.Boxes[1], GuardMode::Uninstall);
    EXPECT_GT(activationsAtPrompt, activationsBefore) << "the window was not brought to the foreground";
    EXPECT_TRUE(IsWindowVisible(product.Window));
}

TEST_F(RunningInstanceGuardTest, NoLeavesTheWindowAloneAndOkRepeatsBothBoxesWhileTheProductRuns)
{
    FakeProduct product("hidden");
    ASSERT_NE(product.Window, nullptr);
    bool shownAtPrompt = true;
    int activationsAtPrompt = -1;

    GuardRun run = RunGuard(
        Owner.Window, GuardMode::Install,
        {{IDNO, nullptr}, {IDOK, nullptr}, {IDNO, nullptr}, {IDCANCEL, [&] {
                                                                 shownAtPrompt =
                                                                     IsWindowVisible(product.Window) != FALSE;
                                                                 activationsAtPrompt = product.Activations();
                                                             }}});

    EXPECT_FALSE(run.Result);
    ASSERT_EQ(run.Boxes.size(), 4u);
    ExpectQuestion(run.Boxes[0], GuardMode::Install);
    ExpectExitPrompt(run.Boxes[1], GuardMode::Install);
    ExpectQuestion(run.Boxes[2], GuardMode::Install);
    ExpectExitPrompt(run.Boxes[3], GuardMode::Install);
    EXPECT_FALSE(shownAtPrompt);
    EXPECT_EQ(activationsAtPrompt, 0);
}

TEST_F(RunningInstanceGuardTest, EscapeAtTheUninstallExitPromptAfterNoGivesUp)
{
    FakeProduct product("visible");
    GuardRun run = RunGuard(Owner.Window, GuardMode::Uninstall, {{IDNO, nullptr}, {PressEscapeKey, nullptr}});
    EXPECT_FALSE(run.Result);
    ASSERT_EQ(run.Boxes.size(), 2u);
    ExpectQuestion(run.Boxes[0], GuardMode::Uninstall);
    ExpectExitPrompt(run.Boxes[1], GuardMode::Uninstall);
}

TEST_F(RunningInstanceGuardTest, YesWithoutAProductWindowGoesStraightToTheExitPrompt)
{
    FakeProduct product("nowindow");
    ASSERT_EQ(product.Window, nullptr);
    GuardRun run = RunGuard(Owner.Window, GuardMode::Install, {{IDYES, nullptr}, {IDCANCEL, nullptr}});
    EXPECT_FALSE(run.Result);
    ASSERT_EQ(run.Boxes.size(), 2u);
    ExpectQuestion(run.Boxes[0], GuardMode::Install);
    ExpectExitPrompt(run.Boxes[1], GuardMode::Install);
}

TEST_F(RunningInstanceGuardTest, OkAfterTheProductQuitPassesAndHoldsNothingInInstallMode)
{
    FakeProduct product("visible");
    GuardRun run =
        RunGuard(Owner.Window, GuardMode::Install, {{IDNO, nullptr}, {IDOK, [&] { product.Stop(); }}});
    EXPECT_TRUE(run.Result);
    ASSERT_EQ(run.Boxes.size(), 2u);
    ExpectQuestion(run.Boxes[0], GuardMode::Install);
    ExpectExitPrompt(run.Boxes[1], GuardMode::Install);
    EXPECT_FALSE(MutexExists());
}

// The guard in a process of its own: what it leaves behind is seen from this process, which holds
// no handle to the mutex.
class GuardProbe {
public:
    explicit GuardProbe(const char* mode)
        : ReadyName(UniqueName("ready")), QuitName(UniqueName("quit")),
          Ready(CreateEventA(nullptr, TRUE, FALSE, ReadyName.c_str())),
          Quit(CreateEventA(nullptr, TRUE, FALSE, QuitName.c_str())),
          Process("GuardProbe.exe", std::string(mode) + " " + ReadyName + " " + QuitName)
    {
    }
    ~GuardProbe()
    {
        SetEvent(Quit);
        Process.Wait();
        CloseHandle(Ready);
        CloseHandle(Quit);
    }
    // True once the guard has returned in the probe (waiting at most timeoutMs).
    bool GuardReturned(DWORD timeoutMs = 10000)
    {
        return WaitForSingleObject(Ready, timeoutMs) == WAIT_OBJECT_0;
    }
    // Lets the probe end; the guard's result, or -1 when the probe did not end properly.
    int Finish()
    {
        SetEvent(Quit);
        int code = Process.Wait();
        return code == 0 || code == 1 ? code : -1;
    }

    std::string ReadyName;
    std::string QuitName;
    HANDLE Ready;
    HANDLE Quit;
    ChildProcess Process;
};

TEST_F(RunningInstanceGuardTest, InstallModeHoldsNoHandleOnceItHasPassed)
{
    GuardProbe probe("install");
    ASSERT_TRUE(probe.GuardReturned());
    ASSERT_TRUE(probe.Process.Running());
    EXPECT_FALSE(MutexExists()) << "the install guard's process still holds the mutex";
    EXPECT_EQ(probe.Finish(), 1);
}

TEST_F(RunningInstanceGuardTest, UninstallModeHoldsTheMutexUntilItsProcessEnds)
{
    GuardProbe probe("uninstall");
    ASSERT_TRUE(probe.GuardReturned());
    ASSERT_TRUE(probe.Process.Running());
    EXPECT_TRUE(MutexExists()) << "the uninstall guard's process does not hold the mutex";
    EXPECT_EQ(probe.Finish(), 1);
    EXPECT_FALSE(MutexExists()) << "the mutex outlived the uninstall guard's process";
}

TEST_F(RunningInstanceGuardTest, UninstallModeKeepsTheMutexAfterTheProductQuitAndBoxesReadFromOutside)
{
    FakeProduct product("hidden");
    GuardProbe probe("uninstall");
    std::atomic<bool> never{false};

    HWND question = WaitForBox(probe.Process.Id(), "Uninstall", never);
    ASSERT_NE(question, nullptr) << "no question from the guard's process";
    MessageBoxContent questionSeen = ReadMessageBox(question);
    Answer(question, IDNO);
    HWND prompt = WaitForBox(probe.Process.Id(), "Uninstall", never);
    ASSERT_NE(prompt, nullptr) << "no exit prompt from the guard's process";
    MessageBoxContent promptSeen = ReadMessageBox(prompt);
    product.Stop();
    ASSERT_FALSE(MutexExists());
    Answer(prompt, IDOK);

    ASSERT_TRUE(probe.GuardReturned());
    EXPECT_TRUE(MutexExists())
        << "the uninstall guard's process does not hold the mutex after the product quit";
    EXPECT_EQ(probe.Finish(), 1);
    EXPECT_FALSE(MutexExists());
    ExpectQuestion(questionSeen, GuardMode::Uninstall);
    ExpectExitPrompt(promptSeen, GuardMode::Uninstall);
}

// The product as an install run as the system account sees it in a user's session: no mutex, no
// window, only its process. Its program file is the installed tpz2.exe, whatever the spelling;
// another file of the same name is no product.
TEST_F(RunningInstanceGuardTest, AProductWithoutMutexIsRecognisedByItsProgramFileAndTheRunIsBusy)
{
    ScopedTempDir dir;
    const std::string installed = dir.Join("tpz2.exe"), other = dir.Join("Other\\tpz2.exe");
    char fake[MAX_PATH];
    ASSERT_TRUE(PathBesideProgram(fake, "FakeProduct.exe", true));
    ASSERT_TRUE(CreateDirectoryA(dir.Join("Other").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(fake, installed.c_str(), FALSE) && CopyFileA(fake, other.c_str(), FALSE));
    char shortForm[MAX_PATH] = "";
    GetShortPathNameA(installed.c_str(), shortForm, sizeof shortForm);
    std::string upper = installed;
    CharUpperA(&upper[0]);
    const std::string quitName = UniqueName("quit");
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, quitName.c_str());
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (quitName + ".ready").c_str());
    PROCESS_INFORMATION process = StartChild("\"" + installed + "\" nomutex " + quitName);
    ASSERT_NE(process.hProcess, nullptr);
    ASSERT_TRUE(WaitUntilReady(ready, process.hProcess, ProductStartLimitMs));
    CloseHandle(ready);

    EXPECT_TRUE(IsProgramRunning(installed.c_str()));
    EXPECT_FALSE(MutexExists());
    for (const std::string& spelling : {upper, std::string(shortForm)})
        EXPECT_TRUE(IsProgramRunning(spelling.c_str())) << spelling;
    EXPECT_FALSE(IsProgramRunning(other.c_str()));
    RunOptions.Ui = UiLevel::Quiet;
    ClearExitCode();
    EXPECT_TRUE(WaitForProductExit(nullptr, GuardMode::Install, other.c_str()));
    EXPECT_EQ(RunExitCode(), ExitSuccess);
    EXPECT_FALSE(WaitForProductExit(nullptr, GuardMode::Install, installed.c_str()));
    EXPECT_EQ(RunExitCode(), ExitBusy) << "deployment tools try again later";

    SetEvent(quit);
    FinishChild(process, 10000);
    EXPECT_FALSE(IsProgramRunning(installed.c_str()));
    ZeroMemory(&RunOptions, sizeof RunOptions);
    ClearExitCode();
    CloseHandle(quit);
}

} // namespace
