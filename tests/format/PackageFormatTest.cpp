#include "format/PackageFormat.h"

#include "support/PackageEntryBytes.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

PackageEntry EntryFor(const std::string& target, const std::string& display = "text")
{
    return MakePackageEntry(target, display);
}

} // namespace

TEST(PackageEntry, DecodesLittleEndianFieldsAtTheirOffsets)
{
    unsigned char bytes[PackageEntrySize];
    memset(bytes, 0xEE, sizeof bytes);
    memcpy(bytes, "Data\\sample.tpz", 16);
    memcpy(bytes + 64, "Sample project", 15);
    const unsigned char tail[] = {0x78, 0x56, 0x34, 0x12, 0x02, 0x01, 0xCD, 0xAB};
    memcpy(bytes + 128, tail, sizeof tail);

    PackageEntry entry;
    DecodePackageEntry(bytes, &entry);
    EXPECT_STREQ(entry.TargetName, "Data\\sample.tpz");
    EXPECT_STREQ(entry.DisplayText, "Sample project");
    EXPECT_EQ(entry.StoredSize, 0x12345678);
    EXPECT_EQ(entry.OverwriteMode, 0x0102);
    EXPECT_EQ(entry.Reserved, 0xABCD);

    unsigned char again[PackageEntrySize];
    EncodePackageEntry(entry, again);
    EXPECT_EQ(memcmp(bytes, again, sizeof bytes), 0) << "encoding gives back every byte, padding included";
}

TEST(PackageEntry, NegativeOrZeroStoredSizeMeansNoBytes)
{
    PackageEntry entry = EntryFor("a");
    entry.StoredSize = -5;
    EXPECT_EQ(StoredByteCount(entry), 0u);
    entry.StoredSize = 0;
    EXPECT_EQ(StoredByteCount(entry), 0u);
    entry.StoredSize = 0x7FFFFFFF;
    EXPECT_EQ(StoredByteCount(entry), 0x7FFFFFFFu);
}

TEST(CheckPackageEntry, SystemFolderTargetsStartAtByteTwo)
{
    PackageEntry entry = EntryFor("@?zvhelper.dll");
    EXPECT_TRUE(IsSystemFolderTarget(entry));
    EXPECT_STREQ(TargetRelativePath(entry), "zvhelper.dll");
    EXPECT_EQ(CheckPackageEntry(entry), EntryIsSound);

    // Byte 1 is never read, so even a zero there does not end the name.
    entry.TargetName[1] = '\0';
    EXPECT_EQ(CheckPackageEntry(entry), EntryIsSound);
    EXPECT_EQ(CheckPackageEntry(EntryFor("@\\")), TargetEmpty);
    EXPECT_EQ(CheckPackageEntry(EntryFor("")), TargetEmpty);
}

TEST(CheckPackageEntry, RefusesUnterminatedFields)
{
    EXPECT_EQ(CheckPackageEntry(EntryFor(std::string(63, 't'))), EntryIsSound);
    EXPECT_EQ(CheckPackageEntry(EntryFor(std::string(64, 't'))), TargetUnterminated);
    EXPECT_EQ(CheckPackageEntry(EntryFor("@\\" + std::string(61, 't'))), EntryIsSound);
    EXPECT_EQ(CheckPackageEntry(EntryFor("@\\" + std::string(62, 't'))), TargetUnterminated);
    EXPECT_EQ(CheckPackageEntry(EntryFor("ok", std::string(64, 'd'))), DisplayTextUnterminated);
}

TEST(CheckPackageEntry, RefusesTargetsThatLeaveTheirFolder)
{
    for (const char* bad : {"..\\evil.exe", "a\\..\\..\\evil.exe", "a/../../evil.exe", "\\Windows\\evil.exe",
                            "/etc/x", "C:\\evil.exe", "C:evil.exe", "a\\...\\b", "a\\.. \\b", "a\\.\\b",
                            "a\\\\b", "a\\", "file.txt:stream", "NUL", "con.txt", "sub\\Com1.log", "lpt9"}) {
        EXPECT_EQ(CheckPackageEntry(EntryFor(bad)), TargetLeavesFolder) << bad;
        EXPECT_EQ(CheckPackageEntry(EntryFor(std::string("@\\") + bad)), TargetLeavesFolder) << "@\\" << bad;
    }
    for (const char* good : {"tpz2.exe", "Data\\sample.tpz", "a b\\c d.txt", "..hidden", "x..y",
                             "console.txt", "com10", "lpt", "nul2"})
        EXPECT_EQ(CheckPackageEntry(EntryFor(good)), EntryIsSound) << good;
}

TEST(CheckPackageEntry, RefusesCharactersWindowsDoesNotAllowInNames)
{
    for (const char* bad : {"a<b.txt", "a>b.txt", "say\"hi\".txt", "a|b.txt", "what?.txt", "star*.txt",
                            "Data\\t\tab.txt", "bell\x07", "\x01", "esc\x1F\\x.txt", "sub?\\x.txt"}) {
        EXPECT_EQ(CheckPackageEntry(EntryFor(bad)), TargetBadCharacter) << bad;
        EXPECT_EQ(CheckPackageEntry(EntryFor(std::string("@\\") + bad)), TargetBadCharacter) << "@\\" << bad;
        EXPECT_FALSE(IsContainedRelativePath(bad)) << bad;
    }
    EXPECT_STREQ(DescribeEntryFault(TargetBadCharacter),
                 "target name holds a character Windows does not allow in file names");
    // Blanks and everything from 32 up that is not reserved, bytes above 127 included, are names.
    for (const char* good : {" lead.txt", "a b", "x+y=z [1] {2} (3) #4 %5 &6 ' ~ ` ! @ $ ^ , ;",
                             "caf\xE9.txt", "\x7F", "\xFF"}) {
        EXPECT_EQ(CheckPackageEntry(EntryFor(good)), EntryIsSound) << good;
        EXPECT_TRUE(IsContainedRelativePath(good)) << good;
    }
    int reserved = 0;
    for (int c = 1; c < 256; ++c)
        reserved += IsReservedNameCharacter(static_cast<char>(c));
    EXPECT_EQ(reserved, 31 + 6) << "the control characters and < > \" | ? *";
    for (char c : {'\0', ':', '\\', '/', '.', ' '})
        EXPECT_FALSE(IsReservedNameCharacter(c)) << static_cast<int>(c) << " has its own check";
}
