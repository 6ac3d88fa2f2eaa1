// The diagnostic log on a full drive, the small tmpfs that with-small-drive maps as the drive named
// by ZORVANE_SMALL_DRIVE: a line the drive cannot take is held back, not lost, and goes out with
// the next line once there is room, as when a failed installation's temporaries are deleted.
#include "core/DiagnosticLog.h"

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

// Fills the drive of path with one file; false when it could not be made.
bool FillDrive(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> block(4096, 'x');
    DWORD written = 0;
    while (WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) &&
           written != 0) {
    }
    // The last bytes, one at a time, so that not even a short line fits.
    while (WriteFile(file, "x", 1, &written, nullptr) && written == 1) {
    }
    CloseHandle(file);
    return true;
}

TEST(DiagnosticLogFaults, ALineTheFullDriveRefusesGoesOutWithTheNextOnceThereIsRoom)
{
    const char* drive = getenv("ZORVANE_SMALL_DRIVE");
    if (drive == nullptr || drive[0] == '\0')
        GTEST_SKIP() << "no small drive: mounting a tmpfs was refused on this machine";
    const std::string log = std::string(drive) + "\\run.log";
    const std::string filler = std::string(drive) + "\\filler.bin";
    DeleteFileA(log.c_str());
    ASSERT_TRUE(OpenDiagnosticLog(log.c_str()));
    WriteLogLine("guard", "the product is not running");
    ASSERT_TRUE(FillDrive(filler));
    // Longer than a page, which the drive hands out whole: the log's own page cannot take it.
    const std::string message = "Error writing file: " + std::string(1500, '\x95');
    WriteLogLine("Setup, error", message.c_str());
    const std::string before = ReadTestFile(log);
    std::string bullets;
    for (int i = 0; i < 1500; ++i)
        bullets += "\xE2\x80\xA2";
    const std::string line = "  Setup, error: Error writing file: " + bullets + "\r\n";
    EXPECT_EQ(before.find(line), std::string::npos) << "the full drive took the whole line";

    ASSERT_TRUE(DeleteFileA(filler.c_str()));
    WriteLogLine("exit code", "1603");
    CloseDiagnosticLog();
    const std::string after = ReadTestFile(log);
    DeleteFileA(log.c_str());
    size_t error = after.find(line);
    size_t code = after.find("  exit code: 1603\r\n");
    EXPECT_NE(error, std::string::npos);
    EXPECT_NE(code, std::string::npos);
    EXPECT_LT(error, code);
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the earlier lines kept whole";
}

} // namespace
