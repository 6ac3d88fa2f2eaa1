// Entry of every Windows test program.
#include <windows.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // A failing test must report, not wait on a system error dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
