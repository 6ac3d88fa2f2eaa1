// Faults of the machine during extraction: a full disk, a target held open without sharing and a
// read-only target. Each stops the installation with one error naming the path, and a file that
// was being replaced keeps its previous content whole. The full disk is a small tmpfs that
// with-small-drive maps as a drive letter named by ZORVANE_SMALL_DRIVE.
#include "core/FileAccess.h"
#include "core/ZorvaneException.h"
#include "core/SetupState.h"
#include "driver/PackageInstall.h"
#include "support/PackageBuilder.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

// Bytes that do not repeat, so that a cut or stale copy shows.
std::string Content(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// Extracts package into destination; the error's code and file, or 0.
int Extract(const ScopedTempDir& work, const std::string& destination, const std::string& package,
            std::string* errorFile)
{
    lstrcpynA(DestinationFolder, destination.c_str(), MAX_PATH);
    WriteTestFile(work.Join("Setup.z"), package);
    FileReader reader(work.Join("Setup.z").c_str());
    FileWriter log(work.Join("Setup.log").c_str());
    try {
        ExtractPackage(nullptr, reader, log);
        return 0;
    } catch (const ZorvaneException& error) {
        *errorFile = error.FileName;
        return error.ErrorCode;
    }
}

// Moves the process's temporary folder into the test's own folder while it lives, so that the
// extraction temporaries it sees are this test's alone while other tests run beside it.
class PrivateTemporaryFolder {
public:
    explicit PrivateTemporaryFolder(const ScopedTempDir& work)
    {
        Saved = GetEnvironmentVariableA("TMP", Tmp, sizeof Tmp) > 0;
        std::string folder = work.Join("temp");
        EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        SetEnvironmentVariableA("TMP", folder.c_str());
    }
    ~PrivateTemporaryFolder() { SetEnvironmentVariableA("TMP", Saved ? Tmp : nullptr); }

private:
    char Tmp[MAX_PATH];
    bool Saved;
};

} // namespace

TEST(ExtractionFaults, FullDiskStopsWithTheTargetNamedAndTheReplacedFileWhole)
{
    const char* drive = getenv("ZORVANE_SMALL_DRIVE");
    if (drive == nullptr || drive[0] == '\0')
        GTEST_SKIP() << "no small drive: mounting a tmpfs was refused on this machine";
    ScopedTempDir work;
    PrivateTemporaryFolder temporaryFolder(work);
    std::string destination = std::string(drive) + "\\dest";
    RemoveTree(destination);
    ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr)) << destination;
    // The drive holds 1 MiB: the old file fits, its 700 KB replacement beside it does not.
    const std::string old = Content(400000, 1);
    WriteTestFile(destination + "\\data.bin", old);
    std::vector<std::string> temporaries = ExtractionTemporaries();

    std::string errorFile;
    std::string package =
        PackageEntryBytes("small.txt", "Small", SzddLiterals("fits\r\n")) +
        PackageEntryBytes("data.bin", "Data", SzddLiterals(Content(700000, 2)), AlwaysReplace);
    EXPECT_EQ(Extract(work, destination, package, &errorFile), ErrWriteError);
    EXPECT_EQ(errorFile, destination + "\\data.bin");
    EXPECT_EQ(ReadTestFile(destination + "\\data.bin"), old);
    EXPECT_EQ(ReadTestFile(destination + "\\small.txt"), "fits\r\n");
    EXPECT_EQ(ExtractionTemporaries(), temporaries);
    EXPECT_EQ(FilesMatching(destination + "\\~vr*"), std::vector<std::string>{})
        << "a part-written copy left";

    // New files until the drive fills: the one that does not fit is named, none is left cut.
    package.clear();
    for (int i = 0; i < 8; ++i)
        package += PackageEntryBytes("new" + std::to_string(i) + ".bin", "New",
                                     SzddLiterals(Content(150000, 10 + i)));
    EXPECT_EQ(Extract(work, destination, package, &errorFile), ErrWriteError);
    ASSERT_EQ(errorFile.rfind(destination + "\\new", 0), 0u) << errorFile;
    for (int i = 0; i < 8; ++i) {
        std::string path = destination + "\\new" + std::to_string(i) + ".bin";
        if (path == errorFile) {
            EXPECT_FALSE(FileExists(path)) << "the file that did not fit";
            break;
        }
        EXPECT_EQ(ReadTestFile(path), Content(150000, 10 + i)) << path;
    }
    EXPECT_EQ(FilesMatching(destination + "\\~vr*"), std::vector<std::string>{});
    EXPECT_EQ(ReadTestFile(destination + "\\data.bin"), old);
    EXPECT_TRUE(RemoveTree(destination));
}

TEST(ExtractionFaults, TargetHeldOpenOrReadOnlyStopsWithTheTargetNamedAndStaysWhole)
{
    const struct {
        const char* Name;
        bool ReadOnly;
        DWORD Sharing; // of the program holding the target open
        bool Replaced;
    } cases[] = {
        {"read-only target", true, 0, false},
        {"target held open without sharing", false, 0, false},
        {"target held open sharing all but deletion", false, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        // An indexer or a viewer: it keeps its view of the old file, the new one takes the name.
        {"target held open sharing everything", false, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScopedTempDir work;
        std::string destination = work.Join("dest");
        ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr));
        std::string target = destination + "\\Readme.txt";
        WriteTestFile(target, "the user's edited readme");
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.ReadOnly)
            ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
        else
            held = CreateFileA(target.c_str(), GENERIC_READ, c.Sharing, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_TRUE(c.ReadOnly || held != INVALID_HANDLE_VALUE);

        std::string errorFile;
        std::string package =
            PackageEntryBytes("Readme.txt", "Read me", SzddLiterals("new readme\r\n"), AlwaysReplace);
        EXPECT_EQ(Extract(work, destination, package, &errorFile), c.Replaced ? 0 : ErrWriteError);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (c.Replaced) {
            EXPECT_EQ(ReadTestFile(target), "new readme\r\n");
        } else {
            EXPECT_EQ(errorFile, target);
            EXPECT_EQ(ReadTestFile(target), "the user's edited readme");
        }
        EXPECT_EQ(FilesMatching(destination + "\\~v*"), std::vector<std::string>{});
    }
}
