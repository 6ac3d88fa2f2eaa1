// Runs every case of the hostile-input corpus (tests/hostile/expected.txt, written by
// make-corpus.py) against the real code, and the registry values and command lines below: each
// gives its expected outcome, nothing crashes, and nothing outside the case's folder changes.
#include "ManifestReader.h"
#include "core/FileAccess.h"
#include "core/ZorvaneException.h"
#include "driver/CommandLine.h"
#include "core/SetupState.h"
#include "payload/BootTimeDeletion.h"
#include "payload/LogRemoval.h"
#include "driver/PackageInstall.h"
#include "support/RegistryProbe.h"
#include "system/Registry.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct CorpusCase {
    std::string Kind, File, Expected, Why;
};

std::string Trimmed(const std::string& text)
{
    size_t begin = text.find_first_not_of(' ');
    size_t end = text.find_last_not_of(' ');
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

std::string CorpusPath(const std::string& relative)
{
    return BuildTreePath(HOSTILE_CORPUS_UNIX_PATH) + "\\" + relative;
}

std::vector<CorpusCase> Cases(const char* kind)
{
    std::vector<CorpusCase> cases;
    std::istringstream table(ReadTestFile(CorpusPath("..\\expected.txt")));
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        for (size_t at = 0;;) {
            size_t bar = line.find(" | ", at);
            fields.push_back(
                Trimmed(line.substr(at, bar == std::string::npos ? std::string::npos : bar - at)));
            if (bar == std::string::npos)
                break;
            at = bar + 3;
        }
        if (fields.size() == 4 && fields[0] == kind)
            cases.push_back({fields[0], fields[1], fields[2], fields[3]});
    }
    EXPECT_FALSE(cases.empty()) << "no " << kind << " cases in the table";
    return cases;
}

std::string Replaced(std::string text, const std::string& token, const std::string& value)
{
    for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size()))
        text.replace(at, token.size(), value);
    return text;
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); });
    return text;
}

// Paths of everything in a folder tree, sorted, for "nothing else changed".
std::vector<std::string> Listing(const std::string& folder)
{
    std::vector<std::string> paths;
    for (const std::string& name : ListTree(folder))
        paths.push_back(folder + "\\" + name);
    return paths;
}

void RemoveValue(HKEY root, const char* keyPath, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

} // namespace

TEST(HostileInput, PackagesAreInstalledOrRefusedWithTheirCodeAndNeverLeaveTheirFolder)
{
    ScopedTempDir beside; // a sibling of the cases' folders: must stay as it is
    WriteTestFile(beside.Join("evil.txt"), "untouched");
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    std::vector<std::string> systemBefore = Listing(system);
    for (const CorpusCase& c : Cases("package")) {
        SCOPED_TRACE(c.File + ": " + c.Why);
        ScopedTempDir dir;
        std::string install = dir.Join("install");
        CreateDirectoryA(install.c_str(), nullptr);
        lstrcpynA(DestinationFolder, install.c_str(), sizeof DestinationFolder);
        std::vector<std::string> temporaries = ExtractionTemporaries();
        std::string outcome = "ok";
        try {
            FileReader package(CorpusPath("package\\" + c.File).c_str());
            FileWriter log(dir.Join("Setup.log").c_str());
            ExtractPackage(nullptr, package, log);
        } catch (const ZorvaneException& error) {
            outcome = "error " + std::to_string(error.ErrorCode);
        }
        EXPECT_EQ(outcome, c.Expected);
        EXPECT_EQ(ExtractionTemporaries(), temporaries) << "temporaries left";
        for (const std::string& name : Listing(dir.Path()))
            EXPECT_EQ(name.rfind(dir.Path(), 0), 0u) << name;
    }
    EXPECT_EQ(Listing(beside.Path()), (std::vector<std::string>{beside.Join("evil.txt")}));
    EXPECT_EQ(ReadTestFile(beside.Join("evil.txt")), "untouched");
    EXPECT_EQ(Listing(system), systemBefore) << "the system folder changed";
}

TEST(HostileInput, InstallLogsRemoveOnlyWhatLiesInTheInstallation)
{
    // Each removal asks for its uninstaller's deletion at the next start: put the requests back.
    char windowsFolder[MAX_PATH];
    GetWindowsDirectoryA(windowsFolder, sizeof windowsFolder);
    const std::string wininit = std::string(windowsFolder) + "\\Wininit.ini";
    const bool hadWininit = FileExists(wininit);
    const std::string savedWininit = hadWininit ? ReadTestFile(wininit) : "";
    const char sessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
    const RegistryValue savedPending =
        QueryValue(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations");
    for (const CorpusCase& c : Cases("log")) {
        SCOPED_TRACE(c.File + ": " + c.Why);
        ScopedTempDir dir;
        std::string install = dir.Join("install");
        std::string outside = dir.Join("outside");
        for (const char* folder : {"install", "install\\sub", "outside", "install2"})
            CreateDirectoryA(dir.Join(folder).c_str(), nullptr);
        for (const char* file : {"install\\a.txt", "install\\b.txt", "install\\sub\\c.txt",
                                 "install\\keep.txt", "outside\\victim.txt", "install2\\x.txt"})
            WriteTestFile(dir.Join(file), file);
        std::string text = ReadTestFile(CorpusPath("log\\" + c.File));
        text = Replaced(
            Replaced(Replaced(Replaced(text, "{IU}", Upper(install)), "{I}", install), "{O}", outside), "{P}",
            dir.Path());
        WriteTestFile(install + "\\Setup.log", text);

        // 1 when the log was processed to its end, as the corpus table has it.
        int result =
            RemoveLoggedFiles(nullptr, install.c_str()).Outcome == LogRemovalOutcome::Removed ? 1 : 0;

        std::istringstream expected(Replaced(Replaced(c.Expected, "{I}", install), "{O}", outside));
        std::string word;
        expected >> word;
        EXPECT_EQ(std::to_string(result), word);
        bool keeping = true;
        while (expected >> word) {
            if (word == "kept" || word == "deleted") {
                keeping = word == "kept";
                continue;
            }
            word = Replaced(word, "{P}", dir.Path());
            EXPECT_EQ(GetFileAttributesA(word.c_str()) != INVALID_FILE_ATTRIBUTES, keeping) << word;
        }
        EXPECT_TRUE(FileExists(outside + "\\victim.txt"));
        EXPECT_TRUE(FileExists(dir.Join("install2\\x.txt")));
    }
    if (hadWininit)
        WriteTestFile(wininit, savedWininit);
    else
        DeleteFileA(wininit.c_str());
    if (savedPending.Found)
        SetRawValue(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations", savedPending.Type,
                    savedPending.Data.data(), static_cast<DWORD>(savedPending.Data.size()));
    else
        RemoveValue(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations");
}

TEST(HostileInput, WininitFilesKeepTheirLinesAndGainTheRequest)
{
    const std::string request = "NUL=C:\\PROGRA~1\\TALVIQ\\SETUP.EXE";
    for (const CorpusCase& c : Cases("wininit")) {
        SCOPED_TRACE(c.File + ": " + c.Why);
        ScopedTempDir windows;
        WriteTestFile(windows.Join("Wininit.ini"), ReadTestFile(CorpusPath("wininit\\" + c.File)));
        AddWininitRenameLineIn(windows.Path().c_str(), request.c_str());
        EXPECT_FALSE(FileExists(windows.Join("Wininit.~in")));

        std::string result = ReadTestFile(windows.Join("Wininit.ini"));
        std::vector<std::string> lines;
        size_t at = 0;
        for (size_t end; (end = result.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(result.substr(at, end - at));
        EXPECT_EQ(at, result.size()) << "every line ends in CR LF";
        int inserted = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_LE(lines[i].size(), 1023u);
            if (lines[i] == request) {
                ++inserted;
                EXPECT_TRUE(i > 0 && lines[i - 1] == "[rename]") << "line " << i;
            }
        }
        std::istringstream expected(c.Expected);
        std::string count, insertedCount, how;
        expected >> count >> insertedCount >> how;
        if (count != "-") {
            EXPECT_EQ(std::to_string(lines.size()), count);
        }
        EXPECT_EQ(std::to_string(inserted), insertedCount);
        bool appended =
            lines.size() >= 3 && lines[lines.size() - 3].empty() && lines[lines.size() - 2] == "[rename]";
        EXPECT_EQ(appended ? "appended" : "inserted", how);
    }
}

TEST(HostileInput, ManifestsAreReadOrRefused)
{
    FILE* sink = fopen("NUL", "w");
    ASSERT_NE(sink, nullptr);
    for (const CorpusCase& c : Cases("manifest")) {
        SCOPED_TRACE(c.File + ": " + c.Why);
        ScopedTempDir dir;
        WriteTestFile(dir.Join("a"), "source a");
        WriteTestFile(dir.Join("b.txt"), "source b");
        WriteTestFile(dir.Join("m.zpack"), ReadTestFile(CorpusPath("manifest\\" + c.File)));
        std::vector<ManifestEntry> entries;
        bool sound = ReadManifest(dir.Join("m.zpack").c_str(), &entries, sink);
        EXPECT_EQ(sound ? "ok " + std::to_string(entries.size()) : "refused", c.Expected);
    }
    fclose(sink);
}

// Values the setup program reads from a registry that others may have written.
TEST(HostileInput, RegistryValuesReadAsTextOrTheDefaultAndAlwaysTerminated)
{
    const std::string key = "Software\\ZorvaneHostileTest";
    const std::string x256(256, 'x');
    struct Case {
        const char* Why;
        DWORD Type; // REG_NONE: no value at all
        std::string Data;
        DWORD BufferSize;
        std::string Expected;
    };
    const std::vector<Case> cases = {
        {"missing", REG_NONE, "", 260, "default"},
        {"terminated text", REG_SZ, std::string("C:\\Folder\0", 10), 260, "C:\\Folder"},
        {"unterminated text", REG_SZ, "abc", 260, "abc"},
        // The system's ANSI query wants room for a terminator the value lacks.
        {"unterminated 256 bytes", REG_SZ, x256, 260, "default"},
        {"unterminated 255 bytes", REG_SZ, x256.substr(1), 260, x256.substr(1)},
        {"257 bytes", REG_SZ, x256 + 'y', 260, "default"},
        {"4000 bytes", REG_SZ, std::string(4000, 'z'), 260, "default"},
        {"no bytes at all", REG_SZ, "", 260, ""},
        {"a zero inside", REG_SZ, std::string("ab\0cd\0", 6), 260, "ab"},
        {"cut to the buffer", REG_SZ, std::string("abcdef\0", 7), 4, "abc"},
        {"a buffer of one byte", REG_SZ, std::string("abc\0", 4), 1, ""},
        {"expandable text", REG_EXPAND_SZ, std::string("%TEMP%\0", 7), 260, "default"},
        {"a number", REG_DWORD, std::string("\x01\0\0\0", 4), 260, "default"},
        {"binary", REG_BINARY, std::string("\xff\xfe\0\x41", 4), 260, "default"},
        {"several texts", REG_MULTI_SZ, std::string("a\0b\0\0", 5), 260, "default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Why);
        RemoveKeyTree(HKEY_CURRENT_USER, key);
        CreateKey(HKEY_CURRENT_USER, key);
        if (c.Type != REG_NONE)
            SetRawValue(HKEY_CURRENT_USER, key, "Value", c.Type, c.Data.data(),
                        static_cast<DWORD>(c.Data.size()));
        std::vector<char> output(c.BufferSize + 1, '#');
        ReadRegistryString(HKEY_CURRENT_USER, key.c_str(), "Value", "default", output.data(), c.BufferSize);
        EXPECT_EQ(std::string(output.data(), strnlen(output.data(), c.BufferSize)), c.Expected);
        EXPECT_NE(memchr(output.data(), 0, c.BufferSize), nullptr) << "not terminated";
        EXPECT_EQ(output[c.BufferSize], '#') << "written past the buffer";
    }
    EXPECT_TRUE(RemoveKeyTree(HKEY_CURRENT_USER, key));
}

TEST(HostileInput, CommandLinesChooseAModeFromOneCharacterOnly)
{
    const std::string huge(100000, 'r');
    struct Case {
        std::string Line;
        int Mode;
    };
    const std::vector<Case> cases = {
        {"", 0},
        {"\"", 0},
        {"\"unterminated quote r", 0},
        {"\"C:\\a b\\Setup.exe\"r", 1},
        {"Setup.exe", 0},
        {"Setup.exe ", 0},
        {"Setup.exe \t \t /R", 1},
        {"Setup.exe //r", 0},
        {"Setup.exe -", 0},
        {"Setup.exe \xff\xfe r", 0},
        {"Setup.exe " + huge, 1},
        {"\"" + huge + "\" /x", 0},
        {huge + " r", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UninstallModeFromCommandLine(c.Line.c_str()), c.Mode) << c.Line.substr(0, 40);
}
