#include "support/MessageBoxScript.h"

#include "uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

void RunAnsweringBoxes(HWND owner, const std::function<void()>& action,
                       const std::vector<ExpectedBox>& expected)
{
    std::atomic<bool> done{false};
    std::vector<MessageBoxContent> seen;
    std::vector<HWND> owners;
    std::thread user([&] {
        while (!done) {
            HWND box = WaitForProcessWindow(GetCurrentProcessId(), DialogClass, nullptr, 100);
            if (box == nullptr)
                continue;
            seen.push_back(ReadMessageBox(box));
            owners.push_back(GetWindow(box, GW_OWNER));
            const std::vector<int>& buttons = seen.back().ButtonIds;
            int fallback = buttons.empty() ? IDCANCEL : buttons.back();
            PressButton(box, seen.size() <= expected.size() ? expected[seen.size() - 1].Press : fallback);
            WaitForWindowGone(box);
        }
    });
    action();
    done = true;
    user.join();

    EXPECT_EQ(seen.size(), expected.size()) << "boxes shown";
    for (size_t i = 0; i < seen.size(); ++i) {
        if (i >= expected.size()) {
            ADD_FAILURE() << "unexpected box \"" << seen[i].Caption << "\": " << seen[i].Text;
            continue;
        }
        const ExpectedBox& box = expected[i];
        EXPECT_EQ(seen[i].Caption + "|" + seen[i].Text, std::string(box.Caption) + "|" + box.Text);
        EXPECT_EQ(seen[i].IconStyle, box.IconStyle) << box.Text;
        EXPECT_EQ(seen[i].ButtonIds, box.ButtonIds) << box.Text;
        EXPECT_EQ(owners[i], owner) << box.Text;
    }
}
