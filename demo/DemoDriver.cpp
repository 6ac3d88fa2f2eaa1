// Drives Setup.exe through the demo as a person answering with the defaults would, and saves a
// picture of the screen at each step:
//   DemoDriver install PROGRAM SHOTS    Next, Next, Finish, No, No
//   DemoDriver uninstall PROGRAM SHOTS  PROGRAM /r, Yes, OK
// Pictures are 24-bit BMP files in the folder SHOTS, numbered in step order. Exits 0 when every
// expected window came and the program ended, else 1 with the step that failed.
#include "uidriver/UiDriver.h"
#include "uidriver/WindowWatch.h"

#include "resource.h"

#include <windows.h>
#include <prsht.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const DWORD StepTimeoutMs = 60000;

std::string ShotsFolder;
int ShotNumber = 0;

bool SaveScreen(const char* name, DWORD paintMs = 700)
{
    // Windows of the other process paint on their own schedule: give them a moment first.
    Sleep(paintMs);
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (picture != nullptr) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        GdiFlush();
        DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
        BITMAPFILEHEADER file;
        ZeroMemory(&file, sizeof file);
        file.bfType = 0x4d42;
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageBytes;
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%02d-%s.bmp", ShotsFolder.c_str(), ++ShotNumber, name);
        FILE* out = fopen(path, "wb");
        if (out != nullptr) {
            saved = fwrite(&file, sizeof file, 1, out) == 1 &&
                    fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                    fwrite(bits, 1, imageBytes, out) == imageBytes;
            saved = fclose(out) == 0 && saved;
        }
        DeleteObject(picture);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    printf("demo: %s%s\n", name, saved ? "" : " (no picture saved)");
    fflush(stdout);
    return saved;
}

bool Fail(const char* step)
{
    printf("demo: no %s within %lu s\n", step, StepTimeoutMs / 1000);
    fflush(stdout);
    return false;
}

// Waits for a message box of the process with this caption and text start, pictures it, presses
// button.
bool AnswerBox(DWORD process, const char* caption, const char* textStart, const char* name, int button)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < StepTimeoutMs) {
        HWND box = WaitForProcessWindow(process, DialogClass, caption, 1000);
        if (box != nullptr && ReadMessageBox(box, 0).Text.rfind(textStart, 0) == 0) {
            SaveScreen(name);
            PressButton(box, button);
            WaitForWindowGone(box);
            return true;
        }
    }
    return Fail(name);
}

bool NextPage(HWND sheet, HWND* page, const char* name, int button)
{
    SaveScreen(name);
    PressSheetButton(sheet, button);
    if (button == PSBTN_FINISH)
        return WaitForWindowGone(sheet, StepTimeoutMs) || Fail("end of the wizard");
    *page = WaitForSheetPageChange(sheet, *page, StepTimeoutMs);
    return *page != nullptr || Fail("next wizard page");
}

// The progress dialog stays only while the last steps run, however fast they are: the watch
// holds Setup.exe's window thread, the dialog painted, at the moment it shows this step.
const char PictureStep[] = "Creating Shortcuts...";

bool Install(WindowWatch& watch)
{
    const DWORD process = watch.Process().dwProcessId;
    HWND sheet = WaitForProcessWindow(process, DialogClass, "Welcome", StepTimeoutMs);
    if (sheet == nullptr)
        return Fail("wizard");
    HWND page = CurrentSheetPage(sheet);
    if (!NextPage(sheet, &page, "welcome", PSBTN_NEXT) || !NextPage(sheet, &page, "licence", PSBTN_NEXT) ||
        !NextPage(sheet, &page, "destination", PSBTN_FINISH))
        return false;
    if (!watch.WaitForHold(StepTimeoutMs))
        return Fail("progress dialog");
    SaveScreen("progress", 0);
    watch.Release();
    return AnswerBox(process, "Setup", "Setup complete.", "run-at-start-question", IDNO) &&
           AnswerBox(process, "Setup", "Do you want to start", "start-now-question", IDNO);
}

bool Uninstall(DWORD process)
{
    return AnswerBox(process, "Uninstall", "This will uninstall", "uninstall-confirmation", IDYES) &&
           AnswerBox(process, "Uninstall", "Uninstall removed program files.", "uninstall-done", IDOK);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || (strcmp(argv[1], "install") != 0 && strcmp(argv[1], "uninstall") != 0)) {
        fprintf(stderr, "usage: DemoDriver install|uninstall PROGRAM SHOTS\n");
        return 2;
    }
    bool install = strcmp(argv[1], "install") == 0;
    ShotsFolder = argv[3];
    CreateDirectoryA(ShotsFolder.c_str(), nullptr);
    // Pictures of an earlier run in the same folder keep their numbers; these follow them.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((ShotsFolder + "\\*.bmp").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            ++ShotNumber;
        while (FindNextFileA(search, &found));
        FindClose(search);
    }

    std::string commandLine = std::string("\"") + argv[2] + "\"" + (install ? "" : " /r");
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string hook(self);
    hook = hook.substr(0, hook.rfind('\\') + 1) + "WindowWatchHook.dll";
    const TextTrigger hold = {IDC_PROGRESS_STATUS, PictureStep, 0};
    WindowWatch watch;
    const std::string failure = watch.Start(commandLine, hook, install ? &hold : nullptr);
    if (!failure.empty()) {
        printf("demo: %s\n", failure.c_str());
        return 1;
    }
    const PROCESS_INFORMATION child = watch.Process();
    bool done = install ? Install(watch) : Uninstall(child.dwProcessId);
    if (WaitForSingleObject(child.hProcess, done ? StepTimeoutMs : 0) != WAIT_OBJECT_0) {
        TerminateProcess(child.hProcess, 1);
        done = done && Fail("end of Setup.exe");
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return done ? 0 : 1;
}
