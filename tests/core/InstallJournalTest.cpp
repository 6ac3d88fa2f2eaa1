// The install journal on real files and the real registry: what it records is undone exactly,
// what a run that succeeded set aside is deleted (or left for the next restart), and a journal
// that could not be undone whole keeps only what is still to be put back.
#include "core/InstallJournal.h"
#include "core/AsideFiles.h"
#include "core/PathUtilities.h"
#include "support/RegistryProbe.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

const char TestKey[] = "Software\\Zorvane Journal Test";

class InstallJournalTest : public testing::Test {
protected:
    void SetUp() override
    {
        // As the run wires it: every folder a chain makes is the journal's to undo.
        SetFolderCreationHooks(JournalFolderCreation, JournalChangeDone);
        ASSERT_TRUE(StartInstallJournal(JournalFile.c_str(), Temp.Path().c_str()));
    }
    void TearDown() override
    {
        SetFolderCreationHooks(nullptr, nullptr);
        UndoResult result;
        UndoInstallJournal(&result);
        EXPECT_FALSE(InstallJournalActive());
        EXPECT_TRUE(RemoveKeyTree(HKEY_CURRENT_USER, TestKey));
        DeleteFileA(JournalFile.c_str());
    }
    std::vector<std::string> Asides() { return FilesMatching(Temp.Join("~vo*")); }

    ScopedTempDir Temp;
    const std::string JournalFile = Temp.Join("journal.jnl");
};

void SetValue(const std::string& key, const char* name, DWORD type, const std::string& data)
{
    SetRawValue(HKEY_CURRENT_USER, key, name, type, data.data(), static_cast<DWORD>(data.size()));
}

TEST_F(InstallJournalTest, RegistryValuesReturnToTheirPreviousStateAndKeysMadeGo)
{
    const std::string deep = std::string(TestKey) + "\\Made\\Deeper";
    const struct {
        const char* Name;
        std::string Key;
        bool Existed;
        DWORD Type;
        std::string Data;
    } cases[] = {
        {"absent in keys that do not exist", deep, false, REG_NONE, ""},
        {"absent in a key that exists", TestKey, false, REG_NONE, ""},
        {"a text", TestKey, true, REG_SZ, StoredText("before")},
        {"a number", TestKey, true, REG_DWORD, StoredDword(7)},
        {"bytes with zeros", TestKey, true, REG_BINARY, std::string("\0\x01\xff\0", 4)},
        {"an expandable text", TestKey, true, REG_EXPAND_SZ, StoredText("%TEMP%\\x")},
        {"an empty default value", TestKey, true, REG_SZ, std::string(1, '\0')},
    };
    CreateKey(HKEY_CURRENT_USER, TestKey);
    for (const auto& c : cases) {
        const char* name = std::string(c.Name) == "an empty default value" ? "" : c.Name;
        if (c.Existed)
            SetValue(c.Key, name, c.Type, c.Data);
        ASSERT_TRUE(JournalRegistryValue(HKEY_CURRENT_USER, c.Key.c_str(), name)) << c.Name;
        SetValue(c.Key, name, REG_SZ, StoredText("written by the run"));
    }
    UndoResult result;
    UndoInstallJournal(&result);
    EXPECT_TRUE(result.Complete);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const char* name = std::string(c.Name) == "an empty default value" ? "" : c.Name;
        RegistryValue value = QueryValue(HKEY_CURRENT_USER, c.Key, name);
        EXPECT_EQ(value.Found, c.Existed);
        if (c.Existed) {
            EXPECT_EQ(value.Type, c.Type);
            EXPECT_EQ(value.Data, c.Data);
        }
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::string(TestKey) + "\\Made")) << "made by the run";
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, TestKey));
    EXPECT_FALSE(FileExists(JournalFile));
}

TEST_F(InstallJournalTest, FilesAndFoldersComeBackByteForByteAndTheirAsideCopiesGoOnSuccess)
{
    const std::string old = Temp.Join("Readme.txt");
    const std::string made = Temp.Join("New\\Deeper\\Made.txt");
    WriteTestFile(old, std::string("old\0bytes", 9));
    for (bool succeeds : {false, true}) {
        SCOPED_TRACE(succeeds ? "success" : "failure");
        if (succeeds) {
            ASSERT_TRUE(StartInstallJournal(JournalFile.c_str(), Temp.Path().c_str()));
        }
        PrepareFileChange(old.c_str());
        EXPECT_FALSE(FileExists(old)) << "renamed aside";
        WriteTestFile(old, "new");
        ASSERT_TRUE(CreateFolderChain(Temp.Join("New\\Deeper").c_str()));
        PrepareFileChange(made.c_str());
        WriteTestFile(made, "made");
        EXPECT_EQ(Asides().size(), 1u);
        if (succeeds) {
            std::vector<std::string> scheduled;
            static std::vector<std::string>* note;
            note = &scheduled;
            EXPECT_EQ(CommitInstallJournal([](const char* path) { note->push_back(path); }), 0);
            EXPECT_EQ(ReadTestFile(old), "new");
            EXPECT_TRUE(FileExists(made));
        } else {
            UndoResult result;
            UndoInstallJournal(&result);
            EXPECT_TRUE(result.Complete);
            EXPECT_EQ(ReadTestFile(old), std::string("old\0bytes", 9));
            EXPECT_FALSE(FolderExists(Temp.Join("New"))) << "the folders made";
        }
        EXPECT_EQ(Asides(), std::vector<std::string>());
        EXPECT_FALSE(FileExists(JournalFile));
        EXPECT_FALSE(InstallJournalActive());
    }
}

// The journal's size, read without opening it (the run holds it without sharing).
ULONGLONG JournalSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// A batch records the missing folders of its targets with it, each once: made afterwards (even
// without the journal's hooks), they are undone, innermost first, and making them adds no record.
// A folder that exists is not recorded, nor are its parents.
TEST_F(InstallJournalTest, MissingFoldersRecordedWithABatchAreMadeWithoutARecordAndUndoneAll)
{
    ASSERT_TRUE(CreateFolderChain(Temp.Join("There").c_str()));
    WriteTestFile(Temp.Join("There\\Kept.txt"), "not the run's");
    const ULONGLONG before = JournalSize(JournalFile);
    BeginJournalBatch();
    for (const char* folder : {"A\\B\\Deep\\", "A\\C", "A\\B", "There\\D"})
        ASSERT_TRUE(JournalMissingFolders(Temp.Join(folder).c_str())) << folder;
    ASSERT_TRUE(EndJournalBatch());
    const ULONGLONG batch = JournalSize(JournalFile) - before;
    const std::string f = "F\t\r\n";
    EXPECT_EQ(batch, 5 * f.size() + Temp.Join("A").size() + Temp.Join("A\\B").size() +
                         Temp.Join("A\\B\\Deep").size() + Temp.Join("A\\C").size() +
                         Temp.Join("There\\D").size())
        << "A, A\\B, A\\B\\Deep, A\\C and There\\D, once each";
    ASSERT_TRUE(CreateFolderChain(Temp.Join("A\\B\\Deep").c_str()));
    EXPECT_EQ(JournalSize(JournalFile), before + batch) << "no record of their own";
    SetFolderCreationHooks(nullptr, nullptr);
    for (const char* folder : {"A\\C", "There\\D"})
        ASSERT_TRUE(CreateFolderChain(Temp.Join(folder).c_str())) << folder;
    UndoResult result;
    UndoInstallJournal(&result);
    EXPECT_TRUE(result.Complete);
    EXPECT_FALSE(FolderExists(Temp.Join("A")));
    EXPECT_FALSE(FolderExists(Temp.Join("There\\D")));
    EXPECT_TRUE(FileExists(Temp.Join("There\\Kept.txt")));
}

// An aside name recorded ahead that another program took since: the old file goes under a name
// recorded then, and neither undo nor the commit touches the other program's file.
TEST_F(InstallJournalTest, AnAsideNameTakenSinceItWasRecordedLeavesTheOtherFileAlone)
{
    const std::string target = Temp.Join("Readme.txt");
    WriteTestFile(target, "old");
    for (bool commits : {false, true}) {
        SCOPED_TRACE(commits ? "commit" : "undo");
        if (commits) {
            ASSERT_TRUE(StartInstallJournal(JournalFile.c_str(), Temp.Path().c_str()));
        }
        char aside[MAX_PATH];
        int replacement = -1;
        ASSERT_TRUE(ChooseAsideName(target.c_str(), aside));
        ASSERT_TRUE(JournalReplacement(target.c_str(), aside, &replacement));
        const std::string taken = aside;
        WriteTestFile(taken, "another program's");
        SetAside(target.c_str(), aside, &replacement, MoveFileExA);
        EXPECT_NE(std::string(aside), taken);
        EXPECT_EQ(ReadTestFile(aside), "old");
        WriteTestFile(target, "new");
        JournalFileMade(target.c_str());
        if (commits) {
            EXPECT_EQ(CommitInstallJournal([](const char*) {}), 0);
            EXPECT_EQ(ReadTestFile(target), "new");
            EXPECT_FALSE(FileExists(aside));
        } else {
            UndoResult result;
            UndoInstallJournal(&result);
            EXPECT_TRUE(result.Complete);
            EXPECT_EQ(ReadTestFile(target), "old");
        }
        EXPECT_EQ(ReadTestFile(taken), "another program's");
        DeleteFileA(taken.c_str());
    }
}

TEST_F(InstallJournalTest, AnAsideCopyThatCannotBeDeletedIsLeftForTheNextRestart)
{
    const std::string target = Temp.Join("Held.dll");
    WriteTestFile(target, "old");
    PrepareFileChange(target.c_str());
    WriteTestFile(target, "new");
    std::vector<std::string> asides = Asides();
    ASSERT_EQ(asides.size(), 1u);
    // A program that loaded the old file holds it without letting it be deleted.
    HANDLE held = CreateFileA(Temp.Join(asides[0]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    static std::vector<std::string> scheduled;
    scheduled.clear();
    EXPECT_EQ(CommitInstallJournal([](const char* path) { scheduled.push_back(path); }), 1);
    CloseHandle(held);
    EXPECT_EQ(scheduled, std::vector<std::string>{Temp.Join(asides[0])});
    EXPECT_FALSE(FileExists(JournalFile));
    DeleteFileA(scheduled[0].c_str());
}

TEST_F(InstallJournalTest, AnOldFileThatCannotGoBackStaysAsideWithTheJournalForTheNextRun)
{
    const std::string target = Temp.Join("Busy.txt");
    const std::string created = Temp.Join("Created.txt");
    WriteTestFile(target, "old");
    PrepareFileChange(created.c_str());
    WriteTestFile(created, "made by the run");
    PrepareFileChange(target.c_str());
    WriteTestFile(target, "new");
    std::vector<std::string> asides = Asides();
    ASSERT_EQ(asides.size(), 1u);
    // The new file is held open without sharing: the old one cannot take its name.
    HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    UndoResult result;
    UndoInstallJournal(&result);
    CloseHandle(held);
    EXPECT_FALSE(result.Complete);
    EXPECT_EQ(result.KeptAside, 1);
    EXPECT_EQ(std::string(result.Kept), target + " <- " + Temp.Join(asides[0]));
    EXPECT_EQ(ReadTestFile(Temp.Join(asides[0])), "old") << "nothing lost";
    EXPECT_FALSE(FileExists(created)) << "what could be undone was";
    // The journal keeps only the replacement; a line cut short by a killed run counts for nothing.
    const std::string kept = ReadTestFile(JournalFile);
    EXPECT_EQ(kept.substr(kept.find("\r\n") + 2), "R\t" + target + "\t" + Temp.Join(asides[0]) + "\r\n");
    EXPECT_EQ(kept.substr(0, 2), "H\t") << "the header stays: the journal still says whose it is";
    WriteTestFile(JournalFile, ReadTestFile(JournalFile) + "F\t" + Temp.Join("Lost.txt"));
    WriteTestFile(Temp.Join("Lost.txt"), "not the run's");

    EXPECT_EQ(OpenLeftJournal(JournalFile.c_str()), LeftJournal::Opened);
    EXPECT_EQ(OpenLeftJournal(JournalFile.c_str()), LeftJournal::InUse) << "held by the run that opened it";
    UndoInstallJournal(&result);
    EXPECT_TRUE(result.Complete);
    EXPECT_EQ(ReadTestFile(target), "old");
    EXPECT_TRUE(FileExists(Temp.Join("Lost.txt")));
    EXPECT_EQ(Asides(), std::vector<std::string>());
    EXPECT_FALSE(FileExists(JournalFile));
    EXPECT_EQ(OpenLeftJournal(JournalFile.c_str()), LeftJournal::None);
}

// A journal as a cut run leaves it, written by hand: its header, then records.
std::string Header(const std::string& destination, const char* product = "TALVIQ Project Zorvane 2 PE Demo",
                   const char* view = sizeof(void*) == 8 ? "64-bit" : "32-bit")
{
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    return std::string("H\t2\t") + product + "\t" + view + "\t" + system + "\t" + destination + "\tI\r\n";
}

// What the journal notes of a file the run made: its size and last-write time.
std::string Made(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    char text[64];
    snprintf(text, sizeof text, "%08lX%08lX\t%08lX%08lX", static_cast<unsigned long>(data.nFileSizeHigh),
             static_cast<unsigned long>(data.nFileSizeLow),
             static_cast<unsigned long>(data.ftLastWriteTime.dwHighDateTime),
             static_cast<unsigned long>(data.ftLastWriteTime.dwLowDateTime));
    return "M\t" + path + "\t" + text + "\r\n";
}

// Journals left behind, made by hand: what the next run does with each, and what it leaves.
TEST_F(InstallJournalTest, LeftJournalsAreActedOnOnlyWhereTheyProveTheRunMadeIt)
{
    UndoResult ended;
    UndoInstallJournal(&ended); // the fixture's own
    const std::string dest = Temp.Join("Dest");
    const std::string outside = Temp.Join("Outside");
    const std::string made = dest + "\\Made.txt";
    const std::string replaced = dest + "\\Replaced.txt";
    const std::string aside = dest + "\\~vo0001.tmp";
    const std::string stray = outside + "\\Stray.txt";
    const struct {
        const char* Name;
        LeftJournal Found;
        // After the files are made: the journal's text.
        std::string (*Journal)(const std::string& dest, const std::string& made, const std::string& replaced,
                               const std::string& aside, const std::string& stray);
        bool ChangeAfter;          // the run's files are changed by somebody else before the next run
        const char* MadeAfter;     // Made.txt afterwards ("" gone)
        const char* ReplacedAfter; // Replaced.txt afterwards
        bool AsideAfter;
        bool StrayAfter;
    } cases[] = {
        {"not committed: undone", LeftJournal::Opened,
         [](const std::string& d, const std::string& m, const std::string& r, const std::string& a,
            const std::string&) {
             return Header(d) + "F\t" + m + "\r\n" + Made(m) + "R\t" + r + "\t" + a + "\r\n" + Made(r);
         },
         false, "", "old", false, true},
        {"committed: finished, never undone", LeftJournal::Committed,
         [](const std::string& d, const std::string& m, const std::string& r, const std::string& a,
            const std::string&) {
             return Header(d) + "F\t" + m + "\r\n" + Made(m) + "R\t" + r + "\t" + a + "\r\n" + Made(r) +
                    "C\r\n";
         },
         false, "new", "new", false, true},
        {"another product's", LeftJournal::Foreign,
         [](const std::string& d, const std::string& m, const std::string&, const std::string&,
            const std::string&) { return Header(d, "Another Product") + "F\t" + m + "\r\n"; },
         false, "new", "new", true, true},
        {"another registry view's", LeftJournal::Foreign,
         [](const std::string& d, const std::string& m, const std::string&, const std::string&,
            const std::string&) {
             return Header(d, "TALVIQ Project Zorvane 2 PE Demo", sizeof(void*) == 8 ? "32-bit" : "64-bit") +
                    "F\t" + m + "\r\n";
         },
         false, "new", "new", true, true},
        {"a path outside the product's folders", LeftJournal::Opened,
         [](const std::string& d, const std::string& m, const std::string&, const std::string&,
            const std::string& o) {
             return Header(d) + "F\t" + o + "\r\n" + "F\t" + m + "\r\n" +
                    "V\tHKCU\tSoftware\\Zorvane Journal "
                    "Test\tNot ours\t-\r\n";
         },
         false, "", "new", true, true},
        {"files changed since", LeftJournal::Opened,
         [](const std::string& d, const std::string& m, const std::string& r, const std::string& a,
            const std::string&) {
             return Header(d) + "F\t" + m + "\r\n" + Made(m) + "R\t" + r + "\t" + a + "\r\n" + Made(r);
         },
         true, "changed", "changed", false, true},
        {"cut mid-record", LeftJournal::Opened,
         [](const std::string& d, const std::string& m, const std::string&, const std::string&,
            const std::string& o) { return Header(d) + "F\t" + m + "\r\n" + "F\t" + o; },
         false, "", "new", true, true},
        {"a replacement withdrawn (its aside name another file's): not undone", LeftJournal::Opened,
         [](const std::string& d, const std::string&, const std::string& r, const std::string& a,
            const std::string&) {
             return Header(d) + "R\t" + r + "\t" + a + "\r\n" + "W\t" + r + "\t" + a + "\r\n";
         },
         false, "new", "new", true, true},
        {"a replacement withdrawn, committed: its aside name another file's, kept", LeftJournal::Committed,
         [](const std::string& d, const std::string&, const std::string& r, const std::string& a,
            const std::string&) {
             return Header(d) + "R\t" + r + "\t" + a + "\r\n" + "W\t" + r + "\t" + a + "\r\n" + "C\r\n";
         },
         false, "new", "new", true, true},
        {"does not parse", LeftJournal::Foreign,
         [](const std::string& d, const std::string& m, const std::string&, const std::string&,
            const std::string&) { return Header(d) + "F\t" + m + "\r\n" + "Z\tnonsense\r\n"; },
         false, "new", "new", true, true},
    };
    const char* const noKeys[] = {"Software\\Zorvane Journal Test Elsewhere"};
    const UndoBounds bounds = {{nullptr, nullptr, nullptr, nullptr}, noKeys, 1};
    CreateKey(HKEY_CURRENT_USER, TestKey);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CreateDirectoryA(dest.c_str(), nullptr);
        CreateDirectoryA(outside.c_str(), nullptr);
        WriteTestFile(made, "new");
        WriteTestFile(replaced, "new");
        WriteTestFile(aside, "old");
        WriteTestFile(stray, "somebody else's");
        SetValue(TestKey, "Not ours", REG_SZ, StoredText("kept"));
        WriteTestFile(JournalFile, c.Journal(dest, made, replaced, aside, stray));
        if (c.ChangeAfter) {
            // Another length: changed whatever the file system's time resolution.
            WriteTestFile(made, "changed");
            WriteTestFile(replaced, "changed");
        }
        ASSERT_EQ(OpenLeftJournal(JournalFile.c_str()), c.Found);
        if (c.Found == LeftJournal::Committed) {
            FinishCommittedJournal(&bounds, nullptr);
        } else if (c.Found == LeftJournal::Opened) {
            UndoResult result;
            UndoInstallJournal(&result, &bounds);
            EXPECT_TRUE(result.Complete);
        }
        EXPECT_FALSE(InstallJournalActive());
        EXPECT_EQ(FileExists(made) ? ReadTestFile(made) : "", c.MadeAfter);
        EXPECT_EQ(ReadTestFile(replaced), c.ReplacedAfter);
        EXPECT_EQ(FileExists(aside), c.AsideAfter);
        EXPECT_EQ(FileExists(stray), c.StrayAfter);
        EXPECT_TRUE(QueryValue(HKEY_CURRENT_USER, TestKey, "Not ours").Type == REG_SZ)
            << "not the product's key";
        EXPECT_FALSE(FileExists(JournalFile));
        if (c.Found == LeftJournal::Foreign) {
            ASSERT_NE(KeptJournalPath()[0], '\0');
            EXPECT_EQ(ReadTestFile(KeptJournalPath()), c.Journal(dest, made, replaced, aside, stray))
                << "kept whole under another name";
            DeleteFileA(KeptJournalPath());
        }
        EXPECT_TRUE(RemoveTree(dest));
        EXPECT_TRUE(RemoveTree(outside));
    }
    ASSERT_TRUE(StartInstallJournal(JournalFile.c_str(), Temp.Path().c_str())); // for TearDown
}

// A cut run's temporaries go with its undo, whatever number the system gave their names (some
// write it without leading zeros); a name not of this program's form stays.
TEST_F(InstallJournalTest, TheTemporariesOfACutRunGoAndNoOtherFile)
{
    UndoResult ended;
    UndoInstallJournal(&ended); // the fixture's own
    const std::vector<std::string> ours = {Temp.Join("~vt925.tmp"), Temp.Join("~vxBEEF.tmp"),
                                           Temp.Join("~vt1.tmp")};
    const std::vector<std::string> others = {Temp.Join("~vtnothex.tmp"), Temp.Join("Other.tmp"),
                                             Temp.Join("~vt12345.tmp")};
    std::string journal = Header(Temp.Join("Dest"));
    for (const std::vector<std::string>* files : {&ours, &others})
        for (const std::string& file : *files) {
            WriteTestFile(file, "temporary");
            journal += "T\t" + file + "\r\n";
        }
    WriteTestFile(JournalFile, journal);
    ASSERT_EQ(OpenLeftJournal(JournalFile.c_str()), LeftJournal::Opened);
    UndoResult result;
    UndoInstallJournal(&result);
    EXPECT_TRUE(result.Complete);
    for (const std::string& file : ours)
        EXPECT_FALSE(FileExists(file)) << file;
    for (const std::string& file : others)
        EXPECT_TRUE(FileExists(file)) << file;
    ASSERT_TRUE(StartInstallJournal(JournalFile.c_str(), Temp.Path().c_str())); // for TearDown
}

} // namespace
