// Answers the message boxes of this process from a second thread while the code under test runs,
// and checks each against what the test expects.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

// One message box: what it must show and the button pressed to answer it.
struct ExpectedBox {
    const char* Caption;
    const char* Text;
    UINT IconStyle; // MB_ICON* value
    std::vector<int> ButtonIds;
    int Press;
};

// Runs action on this thread and answers its boxes in turn. Every box must be owned by owner and
// match the next expected one; a box beyond them is a failure and is answered with its last button
// (No, Cancel or OK), so that the action can end.
void RunAnsweringBoxes(HWND owner, const std::function<void()>& action,
                       const std::vector<ExpectedBox>& expected);

// A visible top-level window that owns the boxes, as the backdrop does.
struct BoxOwner {
    HWND Window = CreateWindowExA(0, "STATIC", "Owner", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    ~BoxOwner() { DestroyWindow(Window); }
};
