// The window watch sees what no look from outside could: a window up for less than 10 ms, on any
// thread, and nothing that was never shown.
#include "support/ChildProcess.h"
#include "support/WindowWatch.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

TEST(WindowWatch, SeesAWindowShownForLessThan10MsOnAnyThreadAndNoneThatWasNeverShown)
{
    const std::string program = BesideTests("BlinkWindow.exe");
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        WatchedChild blink("\"" + program + "\"");
        const DWORD upMicroseconds = blink.Finish(60000);
        ASSERT_LT(upMicroseconds, 1000000000u) << "the blink program failed";
        std::cout << "    the popup was up for " << upMicroseconds << " us\n";
        // Emulated, every call of the window system takes longer: there the time is only shown.
        if (!EmulatedRoute()) {
            EXPECT_LT(upMicroseconds, 10000u);
        }
        std::vector<std::string> shown;
        for (const std::string& window : blink.ShownWindows())
            if (window.rfind("ZorvaneBlink|", 0) == 0)
                shown.push_back(window);
        EXPECT_EQ(shown,
                  (std::vector<std::string>{"ZorvaneBlink|Blink", "ZorvaneBlink|Blink on a second thread"}));
    }
}

// Held at a text the program sets, its window stays on the screen painted however short its life
// (the program destroys it right after), until the watcher lets it go.
TEST(WindowWatch, AHoldingTriggerKeepsTheWindowPaintedOnTheScreenUntilReleased)
{
    const TextTrigger hold = {1, "Hold here", 0};
    WatchedChild blink("\"" + BesideTests("BlinkWindow.exe") + "\" held", &hold);
    ASSERT_TRUE(blink.WaitForHold(60000)) << "the program was not held at its text";
    HDC screen = GetDC(nullptr);
    const COLORREF seen = GetPixel(screen, 200 + 60, 200 + 40);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(seen, RGB(255, 0, 0)) << "the held window is not painted on the screen";
    EXPECT_TRUE(blink.TriggerPressed());
    blink.Release();
    EXPECT_EQ(blink.Finish(60000), 0u);
}

} // namespace
