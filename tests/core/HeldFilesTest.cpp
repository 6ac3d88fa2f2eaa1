#include "core/HeldFiles.h"

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

enum class Hold { None, LetGoSoon, Kept, ReadOnly, Taken, Missing };
enum Steps { Delete = 1, Move = 2, Both = 3 };

struct Case {
    const char* Name;
    Hold Holding;
    int Of;
    DWORD LimitMs;
    bool DeniedIsHeld;
    bool Done;
    DWORD Error;     // when not done
    DWORD AtLeastMs; // the wait it must have taken
    DWORD AtMostMs;  // and must not have exceeded
};

// Each case for both steps: a hold let go within the limit is waited out; one kept past it, a
// refusal that is no hold, and a missing file end with the system's own error, those two at once.
TEST(HeldFiles, AMoveOrDeleteWaitsOutAHoldWithinItsLimitAndNothingElse)
{
    const Case cases[] = {
        {"free", Hold::None, Both, 2000, false, true, 0, 0, 1000},
        {"let go after 150 ms", Hold::LetGoSoon, Both, 5000, false, true, 0, 100, 4000},
        {"kept past the limit", Hold::Kept, Both, 300, false, false, ERROR_SHARING_VIOLATION, 300, 4000},
        {"read-only, not a hold", Hold::ReadOnly, Delete, 5000, false, false, ERROR_ACCESS_DENIED, 0, 1000},
        {"read-only, denial as a hold", Hold::ReadOnly, Delete, 300, true, false, ERROR_ACCESS_DENIED, 300,
         4000},
        {"destination taken", Hold::Taken, Move, 5000, true, false, ERROR_ALREADY_EXISTS, 0, 1000},
        {"missing", Hold::Missing, Both, 5000, true, false, ERROR_FILE_NOT_FOUND, 0, 1000},
    };
    for (const Case& c : cases) {
        for (bool move : {false, true}) {
            if ((c.Of & (move ? Move : Delete)) == 0)
                continue;
            SCOPED_TRACE(std::string(c.Name) + (move ? ", move" : ", delete"));
            ScopedTempDir temp;
            const std::string path = temp.Join("held.txt");
            const std::string moved = temp.Join("moved.txt");
            if (c.Holding != Hold::Missing)
                WriteTestFile(path, "content");
            if (c.Holding == Hold::Taken)
                WriteTestFile(moved, "someone else's");
            if (c.Holding == Hold::ReadOnly)
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
            HANDLE held = INVALID_HANDLE_VALUE;
            if (c.Holding == Hold::LetGoSoon || c.Holding == Hold::Kept) {
                held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
                ASSERT_NE(held, INVALID_HANDLE_VALUE);
            }
            std::thread letGo;
            if (c.Holding == Hold::LetGoSoon)
                letGo = std::thread([held] {
                    Sleep(150);
                    CloseHandle(held);
                });

            const DWORD start = GetTickCount();
            const bool done = move ? MoveWhenLetGo(path.c_str(), moved.c_str(), 0, c.LimitMs, c.DeniedIsHeld)
                                   : DeleteWhenLetGo(path.c_str(), c.LimitMs, c.DeniedIsHeld);
            const DWORD error = GetLastError();
            const DWORD took = GetTickCount() - start;

            if (letGo.joinable())
                letGo.join();
            if (c.Holding == Hold::Kept)
                CloseHandle(held);
            EXPECT_EQ(done, c.Done);
            if (!c.Done) {
                EXPECT_EQ(error, c.Error);
            }
            EXPECT_GE(took + 20, c.AtLeastMs) << "GetTickCount steps in about 16 ms";
            EXPECT_LE(took, c.AtMostMs);
            EXPECT_EQ(FileExists(path), !c.Done && c.Holding != Hold::Missing);
            EXPECT_EQ(FileExists(moved), (c.Done && move) || c.Holding == Hold::Taken);
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            SetFileAttributesA(moved.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
}

} // namespace
