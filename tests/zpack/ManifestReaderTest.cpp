#include "ManifestReader.h"

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <stdio.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <vector>

namespace {

// Stands for the temporary folder (with its separator) in expected messages.
const std::string FolderMark = "{DIR}";

// Writes the manifest text and a few source files into dir; reads the manifest back.
struct ManifestResult {
    bool Sound;
    std::vector<ManifestEntry> Entries;
    std::string Messages;
};

ManifestResult ReadManifestText(const ScopedTempDir& dir, const std::string& text)
{
    WriteTestFile(dir.Join("tpz2.exe"), "program");
    WriteTestFile(dir.Join("readme.txt"), "readme");
    std::string path = dir.Join("Setup.manifest");
    WriteTestFile(path, text);
    std::string errPath = dir.Join("messages.txt");
    FILE* err = fopen(errPath.c_str(), "w+b");
    ManifestResult result;
    result.Sound = ReadManifest(path.c_str(), &result.Entries, err);
    rewind(err);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, err)) > 0)
        result.Messages.append(chunk, got);
    fclose(err);
    return result;
}

// A file of size bytes that takes no room on a file system with sparse files.
void MakeFileOfSize(const std::string& path, uint64_t size)
{
#ifdef _WIN32
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    ASSERT_TRUE(sized) << path;
#else
    WriteTestFile(path, "");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0) << path;
#endif
}

} // namespace

TEST(ReadManifest, ReadsFieldsDefaultsCommentsAndBlankLines)
{
    ScopedTempDir dir;
    ManifestResult result =
        ReadManifestText(dir, "\xEF\xBB\xBF# The demo package\r\n"
                              "\r\n"
                              "  tpz2.exe |  tpz2.exe | Main program |replace-if-newer| store \r\n"
                              "   # indented comment\n"
                              "Docs\\Readme.txt | readme.txt || keep-existing | compress\n"
                              "@\\zvhelper.dll|readme.txt\n"
                              "a #b.txt | readme.txt");
    ASSERT_TRUE(result.Sound) << result.Messages;
    EXPECT_EQ(result.Messages, "");
    ASSERT_EQ(result.Entries.size(), 4u);
    const ManifestEntry& first = result.Entries[0];
    EXPECT_EQ(first.Line, 3u);
    EXPECT_STREQ(first.Target, "tpz2.exe");
    EXPECT_EQ(std::string(first.Source), dir.Join("tpz2.exe")) << "relative to the manifest's folder";
    EXPECT_STREQ(first.DisplayText, "Main program");
    EXPECT_EQ(first.OverwriteMode, ReplaceIfNewer);
    EXPECT_TRUE(first.Store);
    EXPECT_EQ(first.SourceSize, 7u);
    const ManifestEntry& second = result.Entries[1];
    EXPECT_EQ(second.Line, 5u);
    EXPECT_STREQ(second.DisplayText, "Readme.txt") << "empty display text is the file name";
    EXPECT_EQ(second.OverwriteMode, KeepExisting);
    EXPECT_FALSE(second.Store);
    const ManifestEntry& third = result.Entries[2];
    EXPECT_STREQ(third.Target, "@\\zvhelper.dll");
    EXPECT_STREQ(third.DisplayText, "zvhelper.dll");
    EXPECT_EQ(third.OverwriteMode, AlwaysReplace);
    EXPECT_FALSE(third.Store);
    EXPECT_STREQ(result.Entries[3].Target, "a #b.txt") << "only a leading # starts a comment";
}

TEST(ReadManifest, RefusesEachFaultWithItsLineNumber)
{
    struct Case {
        std::string Line;
        std::string Message;
    } cases[] = {
        {std::string(64, 't') + " | tpz2.exe", "the target is longer than 63 characters"},
        {"@\\" + std::string(62, 'n') + " | tpz2.exe", "the system-folder name is longer than 61 characters"},
        {"@zvhelper.dll | tpz2.exe", "a system-folder target is written @\\name"},
        {"ok.exe | tpz2.exe | " + std::string(64, 'd'), "the display text is longer than 63 characters"},
        {"..\\evil.exe | tpz2.exe", "the target has a '..' component"},
        {"Data\\..\\..\\evil.exe | tpz2.exe", "the target has a '..' component"},
        {"@\\..\\evil.exe | tpz2.exe", "the target has a '..' component"},
        {"C:\\Windows\\evil.exe | tpz2.exe", "the target names a drive or a stream (':')"},
        {"C:evil.exe | tpz2.exe", "the target names a drive or a stream (':')"},
        {"\\Windows\\evil.exe | tpz2.exe", "the target begins with a backslash"},
        {"Data/evil.exe | tpz2.exe", "the target contains '/'; separate folders with backslashes"},
        {"what?.exe | tpz2.exe", "the target contains a character Windows does not allow in file names"},
        {"a<b>.txt | tpz2.exe", "the target contains a character Windows does not allow in file names"},
        {"a\"b.txt | tpz2.exe", "the target contains a character Windows does not allow in file names"},
        {"star*.txt | tpz2.exe", "the target contains a character Windows does not allow in file names"},
        {std::string("tab\x01.txt | tpz2.exe"),
         "the target contains a character Windows does not allow in file names"},
        {"Data\\\\x.txt | tpz2.exe", "the target has an empty folder or file name"},
        {"Data\\ | tpz2.exe", "the target has an empty folder or file name"},
        {"Data\\...\\x.txt | tpz2.exe", "the target has a component made of dots"},
        {"readme. | tpz2.exe", "a name in the target ends with a dot or a blank, which Windows drops"},
        {"Data\\NUL.txt | tpz2.exe", "the target names a device (CON, PRN, AUX, NUL, COM1-9 or LPT1-9)"},
        {"ok.exe | missing.exe", "source file '" + FolderMark + "missing.exe' does not exist"},
        {"ok.exe |", "the source file is missing"},
        {"ok.exe | tpz2.exe | | sometimes",
         "unknown overwrite mode 'sometimes' (replace-if-newer, keep-existing or always-replace)"},
        {"ok.exe | tpz2.exe | | | zip", "unknown storage 'zip' (compress or store)"},
        {"ok.exe | tpz2.exe | | | | extra",
         "more than five fields (target | source | display text | overwrite | storage)"},
        {"| tpz2.exe", "the target is empty"},
    };
    for (const Case& c : cases) {
        ScopedTempDir dir;
        std::string message = c.Message;
        size_t placeholder = message.find(FolderMark);
        if (placeholder != std::string::npos)
            message.replace(placeholder, FolderMark.size(), dir.Join(""));
        ManifestResult result = ReadManifestText(dir, "fine.exe | tpz2.exe\n# comment\n" + c.Line + "\n");
        EXPECT_FALSE(result.Sound) << c.Line;
        EXPECT_EQ(result.Messages, "zpack: " + dir.Join("Setup.manifest") + ":3: " + message + "\n")
            << c.Line;
    }
}

TEST(ReadManifest, ReportsEveryFaultNotJustTheFirst)
{
    ScopedTempDir dir;
    ManifestResult result = ReadManifestText(dir, "tpz2.exe | tpz2.exe\n"
                                                  "..\\x | tpz2.exe\n"
                                                  "TPZ2.EXE | readme.txt\n"
                                                  "sub | .\n");
    EXPECT_FALSE(result.Sound);
    std::string manifest = dir.Join("Setup.manifest");
    EXPECT_EQ(result.Messages, "zpack: " + manifest + ":2: the target has a '..' component\n" +
                                   "zpack: " + manifest + ":3: the target is already listed on line 1\n" +
                                   "zpack: " + manifest + ":4: source '" + dir.Join(".") +
                                   "' is a folder, not a file\n");
}

TEST(ReadManifest, RefusesAFileWhereAnotherEntryNeedsAFolder)
{
    ScopedTempDir dir;
    ManifestResult result =
        ReadManifestText(dir, "a | tpz2.exe\n"                    // 1
                              "a\\b | readme.txt\n"               // 2: a is a file
                              "Docs\\Guide\\x.txt | readme.txt\n" // 3
                              "docs\\GUIDE | readme.txt\n"        // 4: a folder of 3
                              "DOCS | tpz2.exe\n"                 // 5: likewise
                              "Docs\\Guide\\y.txt | readme.txt\n" // 6: shares the folders
                              "Docs\\Guide\\x.txt.bak | readme.txt\n"
                              "ab\\c | readme.txt\n"                // 8: a is no folder of it
                              "@\\a\\b | readme.txt\n"              // 9: the system folder's own
                              "@\\A | tpz2.exe\n"                   // 10: a folder of 9
                              "@\\Docs | tpz2.exe\n"                // 11: not the other Docs
                              "Data\\Sub | tpz2.exe\n"              // 12
                              "DATA\\sub\\deep\\x | readme.txt\n"); // 13: Data\Sub is a file
    EXPECT_FALSE(result.Sound);
    std::string manifest = "zpack: " + dir.Join("Setup.manifest");
    EXPECT_EQ(result.Messages,
              manifest + ":2: the target needs the folder 'a', which line 1 lists as a file\n" + manifest +
                  ":4: the target names a folder that line 3 needs for its file\n" + manifest +
                  ":5: the target names a folder that line 3 needs for its file\n" + manifest +
                  ":10: the target names a folder that line 9 needs for its file\n" + manifest +
                  ":13: the target needs the folder 'DATA\\sub', which line 12 lists as a file\n");
    std::vector<std::string> kept;
    for (const ManifestEntry& entry : result.Entries)
        kept.push_back(entry.Target);
    EXPECT_EQ(kept, (std::vector<std::string>{"a", "Docs\\Guide\\x.txt", "Docs\\Guide\\y.txt",
                                              "Docs\\Guide\\x.txt.bak", "ab\\c", "@\\a\\b", "@\\Docs",
                                              "Data\\Sub"}));
}

TEST(ReadManifest, RefusesOverlongLinesEmptyManifestsAndMissingFiles)
{
    ScopedTempDir dir;
    ManifestResult result =
        ReadManifestText(dir, "x.txt | tpz2.exe | " + std::string(3000, 'd') + "\nok.txt | tpz2.exe\n");
    EXPECT_FALSE(result.Sound);
    EXPECT_EQ(result.Messages,
              "zpack: " + dir.Join("Setup.manifest") + ":1: the line is longer than 2048 characters\n");
    EXPECT_EQ(result.Entries.size(), 1u) << "the next line is read on its own";

    result = ReadManifestText(
        dir, std::string("ok.txt | tpz2.exe\nzero\0.txt | tpz2.exe\nnext.txt | tpz2.exe\n", 59));
    EXPECT_FALSE(result.Sound);
    EXPECT_EQ(result.Messages,
              "zpack: " + dir.Join("Setup.manifest") + ":2: the line contains a zero byte\n");
    EXPECT_EQ(result.Entries.size(), 2u) << "the lines around it are read on their own";

    result = ReadManifestText(dir, "# nothing but comments\n\n");
    EXPECT_FALSE(result.Sound);
    EXPECT_EQ(result.Messages, "zpack: " + dir.Join("Setup.manifest") +
                                   ": lists no entries (the setup program refuses an empty package)\n");

    std::vector<ManifestEntry> entries;
    std::string missing = dir.Join("none.manifest");
    std::string errPath = dir.Join("err.txt");
    FILE* err = fopen(errPath.c_str(), "wb");
    EXPECT_FALSE(ReadManifest(missing.c_str(), &entries, err));
    fclose(err);
    EXPECT_EQ(ReadTestFile(errPath), "zpack: " + missing + ": cannot open the manifest\n");
}

TEST(ReadManifest, AllowsTheSameLineLengthWhateverTheLineEnd)
{
    ScopedTempDir dir;
    const std::string entry = "ok.txt | tpz2.exe";
    for (const std::string& end : {std::string("\n"), std::string("\r\n"), std::string()}) {
        // Blanks pad the line to its length; they are trimmed from the source field.
        std::string longest = entry + std::string(ManifestLineSize - entry.size(), ' ');
        std::string next = end.empty() ? std::string() : "next.txt | readme.txt" + end;
        ManifestResult result = ReadManifestText(dir, longest + end + next);
        EXPECT_TRUE(result.Sound) << result.Messages;
        EXPECT_EQ(result.Entries.size(), end.empty() ? 1u : 2u);

        result = ReadManifestText(dir, longest + " " + end + next);
        EXPECT_FALSE(result.Sound);
        EXPECT_EQ(result.Messages,
                  "zpack: " + dir.Join("Setup.manifest") + ":1: the line is longer than 2048 characters\n");
        EXPECT_EQ(result.Entries.size(), end.empty() ? 0u : 1u) << "the next line is read on its own";
    }
}

TEST(ReadManifest, RefusesSourcesLargerThanTheSetupProgramExpands)
{
    ScopedTempDir dir;
    MakeFileOfSize(dir.Join("largest.bin"), 0x7FFFFFFF);
    MakeFileOfSize(dir.Join("over.bin"), 0x80000000);
    MakeFileOfSize(dir.Join("over4g.bin"), 0x100000000);
    ManifestResult result = ReadManifestText(dir, "a.bin | largest.bin\n"
                                                  "b.bin | largest.bin | | | store\n"
                                                  "c.bin | over.bin\n"
                                                  "d.bin | over.bin | | | store\n"
                                                  "e.bin | over4g.bin\n");
    EXPECT_FALSE(result.Sound);
    std::string manifest = "zpack: " + dir.Join("Setup.manifest");
    EXPECT_EQ(result.Messages, manifest + ":3: source '" + dir.Join("over.bin") +
                                   "' is larger than 2147483647 bytes, the most the setup program expands\n" +
                                   manifest + ":4: source '" + dir.Join("over.bin") +
                                   "' is larger than 2147483647 bytes, the most an entry can store\n" +
                                   manifest + ":5: source '" + dir.Join("over4g.bin") +
                                   "' is larger than 2147483647 bytes, the most the setup program expands\n");
    ASSERT_EQ(result.Entries.size(), 2u);
    EXPECT_EQ(result.Entries[0].SourceSize, 0x7FFFFFFFu);
    EXPECT_FALSE(result.Entries[0].Store);
    EXPECT_EQ(result.Entries[1].SourceSize, 0x7FFFFFFFu);
    EXPECT_TRUE(result.Entries[1].Store);
}
