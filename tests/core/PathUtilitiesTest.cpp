#include "core/PathUtilities.h"

#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char Sentinel = '\x5A';

struct Split {
    std::string Folder, Base, Extension;
    bool operator==(const Split& o) const
    {
        return Folder == o.Folder && Base == o.Base && Extension == o.Extension;
    }
};

std::ostream& operator<<(std::ostream& out, const Split& s)
{
    return out << "[" << s.Folder << "|" << s.Base << "|" << s.Extension << "]";
}

Split SplitOf(const std::string& path)
{
    char folder[MAX_PATH + 1], base[MAX_PATH + 1], extension[MAX_PATH + 1];
    folder[MAX_PATH] = base[MAX_PATH] = extension[MAX_PATH] = Sentinel;
    SplitPath(path.c_str(), folder, base, extension);
    EXPECT_EQ(folder[MAX_PATH], Sentinel);
    EXPECT_EQ(base[MAX_PATH], Sentinel);
    EXPECT_EQ(extension[MAX_PATH], Sentinel);
    return {folder, base, extension};
}

// Appends in a MAX_PATH buffer guarded by a sentinel; returns the result or "<refused>".
std::string Appended(const std::string& path, const std::string& component)
{
    char buffer[MAX_PATH + 1];
    memset(buffer, Sentinel, sizeof buffer);
    lstrcpynA(buffer, path.c_str(), MAX_PATH);
    bool fitted = AppendPathComponent(buffer, component.c_str());
    EXPECT_EQ(buffer[MAX_PATH], Sentinel);
    if (!fitted) {
        EXPECT_EQ(std::string(buffer), path) << "a refused join leaves the path unchanged";
        return "<refused>";
    }
    return buffer;
}

} // namespace

TEST(SplitPath, SplitsAtLastBackslashAndLastDotOfTheName)
{
    EXPECT_EQ(SplitOf("C:\\a.b\\c.tar.gz"), (Split{"C:\\a.b\\", "c.tar", ".gz"}));
    EXPECT_EQ(SplitOf("C:\\dir\\readme"), (Split{"C:\\dir\\", "readme", ""}));
    EXPECT_EQ(SplitOf("C:\\dir\\.profile"), (Split{"C:\\dir\\", ".profile", ""}));
    EXPECT_EQ(SplitOf("C:\\dir\\name."), (Split{"C:\\dir\\", "name", "."}));
    EXPECT_EQ(SplitOf("C:\\dir\\"), (Split{"C:\\dir\\", "", ""}));
    EXPECT_EQ(SplitOf("file.txt"), (Split{"", "file", ".txt"}));
    EXPECT_EQ(SplitOf("a/b.c/d"), (Split{"", "a/b", ".c/d"})) << "a forward slash is no separator";
    EXPECT_EQ(SplitOf(""), (Split{"", "", ""}));
}

TEST(PathBesideProgram, FormsPackagePathAndProgramFolder)
{
    char module[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, module, sizeof module), 0u);
    Split self = SplitOf(module);

    char result[MAX_PATH + 1];
    result[MAX_PATH] = Sentinel;
    ASSERT_TRUE(PathBesideProgram(result, "z", false));
    EXPECT_EQ(std::string(result), self.Folder + self.Base + ".z");
    ASSERT_TRUE(PathBesideProgram(result, "", true));
    EXPECT_EQ(std::string(result), self.Folder);
    EXPECT_EQ(result[MAX_PATH], Sentinel);

    std::string tooLong(MAX_PATH, 'x');
    EXPECT_FALSE(PathBesideProgram(result, tooLong.c_str(), true));
    EXPECT_STREQ(result, "");
    EXPECT_EQ(result[MAX_PATH], Sentinel);
}

TEST(AppendPathComponent, JoinsWithExactlyOneBackslashAndRefusesWhatDoesNotFit)
{
    EXPECT_EQ(Appended("C:\\dir", "x"), "C:\\dir\\x");
    EXPECT_EQ(Appended("C:\\", "x"), "C:\\x");
    EXPECT_EQ(Appended("C:\\dir", "\\x"), "C:\\dir\\\\x");
    EXPECT_EQ(Appended("C:\\dir", "sub\\file.txt"), "C:\\dir\\sub\\file.txt");
    EXPECT_EQ(Appended("", "x"), "<refused>");

    std::string base(250, 'b');
    EXPECT_EQ(Appended(base, std::string(8, 'c')), base + "\\" + std::string(8, 'c')) << "259 bytes fit";
    EXPECT_EQ(Appended(base, std::string(9, 'c')), "<refused>") << "260 bytes do not";
    EXPECT_EQ(Appended(base + "\\", std::string(8, 'c')), base + "\\" + std::string(8, 'c'))
        << "no second backslash is counted";
    EXPECT_EQ(Appended(std::string(259, 'f'), ""), "<refused>");
}

TEST(CreateFolderChain, CreatesMissingFoldersAndReportsWhetherItDid)
{
    ScopedTempDir dir;
    std::string chain = dir.Join("a\\b\\c");
    int created = -1;
    ASSERT_TRUE(CreateFolderChain(chain.c_str(), &created));
    EXPECT_EQ(created, 1);
    EXPECT_TRUE(FolderExists(chain));

    created = -1;
    EXPECT_TRUE(CreateFolderChain(chain.c_str(), &created));
    EXPECT_EQ(created, 0);
    EXPECT_TRUE(CreateFolderChain((chain + "\\").c_str(), &created))
        << "a trailing backslash changes nothing";
    EXPECT_EQ(created, 0);
    EXPECT_TRUE(CreateFolderChain((chain + "\\d\\").c_str(), &created));
    EXPECT_EQ(created, 1);
    EXPECT_TRUE(FolderExists(chain + "\\d"));
    EXPECT_TRUE(CreateFolderChain(chain.c_str())) << "the flag is optional";
}

TEST(CreateFolderChain, FailsOnFileInTheWayOrNoBackslash)
{
    ScopedTempDir dir;
    WriteTestFile(dir.Join("file"), "in the way");
    int created = 7;
    EXPECT_FALSE(CreateFolderChain(dir.Join("file\\b").c_str(), &created));
    EXPECT_EQ(created, 7) << "the flag is not written on failure";
    EXPECT_FALSE(CreateFolderChain(dir.Join("file").c_str(), &created));
    EXPECT_FALSE(FolderExists(dir.Join("file\\b")));

    EXPECT_FALSE(CreateFolderChain("C:", &created));
    EXPECT_FALSE(CreateFolderChain("", &created));
    EXPECT_EQ(created, 7);
    EXPECT_TRUE(CreateFolderChain("C:\\", &created));
    EXPECT_EQ(created, 0);

    std::string tooLong = dir.Join(std::string(300, 'x'));
    EXPECT_FALSE(CreateFolderChain(tooLong.c_str(), &created));
}

TEST(RemoveFolderChain, RemovesEmptyFoldersUpToTheFirstSharedParent)
{
    ScopedTempDir dir;
    ASSERT_TRUE(CreateFolderChain(dir.Join("P\\T\\Z").c_str()));
    ASSERT_TRUE(CreateFolderChain(dir.Join("P\\Other").c_str()));
    EXPECT_FALSE(RemoveFolderChain(dir.Join("P\\T\\Z\\").c_str()));
    EXPECT_FALSE(FolderExists(dir.Join("P\\T")));
    EXPECT_TRUE(FolderExists(dir.Join("P\\Other")));

    ASSERT_TRUE(CreateFolderChain(dir.Join("Q\\R").c_str()));
    WriteTestFile(dir.Join("Q\\R\\keep.txt"), "k");
    EXPECT_FALSE(RemoveFolderChain(dir.Join("Q\\R").c_str()));
    EXPECT_TRUE(FileExists(dir.Join("Q\\R\\keep.txt"))) << "a folder holding a file stays";

    EXPECT_FALSE(RemoveFolderChain(""));
    EXPECT_FALSE(RemoveFolderChain(dir.Join("missing").c_str()));
}

TEST(RemoveFolderChain, WalksUpToTheFirstComponent)
{
    // A relative chain ends at its first component, which it removes too.
    ScopedTempDir dir;
    char previous[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof previous, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    // The first component is taken to exist, never created.
    EXPECT_FALSE(CreateFolderChain("top\\mid\\leaf"));
    EXPECT_TRUE(CreateDirectoryA("top", nullptr));
    EXPECT_TRUE(CreateFolderChain("top\\mid\\leaf"));
    EXPECT_TRUE(RemoveFolderChain("top\\mid\\leaf"));
    EXPECT_FALSE(FolderExists(dir.Join("top")));
    SetCurrentDirectoryA(previous);
}

TEST(IsSamePathText, ComparesAsTheSystemReadsPaths)
{
    const std::string longest = "C:\\" + std::string(MAX_PATH - 4, 'l');
    const struct {
        std::string First, Second;
        bool Same;
    } cases[] = {
        {"C:\\Program Files\\Zorvane", "c:\\PROGRAM FILES\\zorvane", true},
        {"C:\\Program Files\\\\Zorvane\\\\\\Data", "C:\\Program Files\\Zorvane\\Data", true},
        {"C:\\Zorvane\\Data\\", "C:\\Zorvane\\Data", true},
        {"C:\\Zorvane\\Data\\\\", "C:\\Zorvane\\Data", true},
        {"\\\\server\\share\\a", "\\\\server\\share\\\\a", true},
        {"\\\\server\\share\\a", "\\server\\share\\a", false},
        {"C:\\Zorvane\\Data", "C:\\Zorvane\\Data2", false},
        {"C:\\Zorvane\\Data", "C:\\Zorvane", false},
        {longest, longest, true},
        {longest + "l", longest + "l", false}, // does not fit MAX_PATH
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSamePathText(c.First.c_str(), c.Second.c_str()), c.Same) << c.First << " | " << c.Second;
        EXPECT_EQ(IsSamePathText(c.Second.c_str(), c.First.c_str()), c.Same) << c.Second << " | " << c.First;
    }
}
