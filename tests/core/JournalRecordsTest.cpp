// The one table of the journal's record shapes, as the writer composes records and the readers
// take them apart and judge them.
#include "core/JournalRecords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(JournalRecords, EachKindTakesItsOwnFieldsAndReadsBackAsWritten)
{
    const struct {
        char Kind;
        std::vector<const char*> Fields;
        bool Composed;   // the writer takes it
        bool WellFormed; // a reader accepts the line (the header is judged on its own)
    } rows[] = {
        {HeaderKind, {"2", "Product", "32-bit", "C:\\windows\\system32", "C:\\Apps", "I"}, true, false},
        {HeaderKind, {"2", "Product", "32-bit", "C:\\windows\\system32", "C:\\Apps"}, false, false},
        {FolderKind, {"C:\\Apps\\Docs\\"}, true, true},
        {FileKind, {"C:\\Apps\\a.txt"}, true, true},
        {FileKind, {}, false, false},
        {FileKind, {"C:\\Apps\\a.txt", "C:\\Apps\\b.txt"}, false, false},
        {ReplacedKind, {"C:\\Apps\\a.txt", "C:\\Apps\\~vo0001.tmp"}, true, true},
        {ReplacedKind, {"C:\\Apps\\a.txt"}, false, false},
        {MadeKind, {"C:\\Apps\\a.txt", "0000000000000010", "01DA000011112222"}, true, true},
        {MadeKind, {"C:\\Apps\\a.txt", "0000000000000010"}, false, false},
        {TemporaryKind, {"C:\\temp\\~vt1A2B.tmp"}, true, true},
        {KeyKind, {"HKLM", "Software\\TALVIQ"}, true, true},
        {ValueKind, {"HKLM", "Software\\TALVIQ", "Name", AbsentData}, true, true},
        {ValueKind, {"HKLM", "Software\\TALVIQ", "Name", "1"}, false, false},
        {ValueKind, {"HKLM", "Software\\TALVIQ", "Name", "1", "41420000"}, true, true},
        {ValueKind, {"HKLM", "Software\\TALVIQ", "", "4", "01000000"}, true, true},
        {CommitKind, {}, true, true},
        {CommitKind, {"extra"}, false, false},
        {'X', {"C:\\Apps\\a.txt"}, false, false},
        {FileKind, {"C:\\Apps\\a\tb.txt"}, false, false},
        {FileKind, {"C:\\Apps\\a\r\nF\tC:\\b"}, false, false},
    };
    for (const auto& row : rows) {
        std::string trace(1, row.Kind);
        for (const char* field : row.Fields)
            trace += std::string("|") + field;
        SCOPED_TRACE(trace);
        char line[RecordLineSize];
        SetLastError(0xdeadbeef);
        int length = ComposeRecord(row.Kind, row.Fields.data(), static_cast<int>(row.Fields.size()), line,
                                   sizeof line);
        if (!row.Composed) {
            EXPECT_EQ(length, -1);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
            continue;
        }
        ASSERT_GE(length, 1);
        EXPECT_EQ(static_cast<size_t>(length), strlen(line));
        EXPECT_EQ(WellFormed(line), row.WellFormed);
        char copy[RecordLineSize];
        char* fields[MaxRecordFields] = {};
        ASSERT_EQ(RecordFields(line, copy, fields), static_cast<int>(row.Fields.size()) + 1);
        EXPECT_EQ(fields[0], std::string(1, row.Kind));
        for (size_t i = 0; i < row.Fields.size(); ++i)
            EXPECT_STREQ(fields[i + 1], row.Fields[i]) << i;
    }
}

// A record that would not fit its line is refused whole, never cut.
TEST(JournalRecords, ARecordLongerThanTheLineIsRefusedAsTooLong)
{
    char line[32];
    const char* const fits[] = {"C:\\Apps\\a.txt"};
    EXPECT_EQ(ComposeRecord(FileKind, fits, 1, line, sizeof line), 15);
    EXPECT_STREQ(line, "F\tC:\\Apps\\a.txt");
    const char* const tooLong[] = {"C:\\Apps\\a folder of a long name\\a.txt"};
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ComposeRecord(FileKind, tooLong, 1, line, sizeof line), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

// Lines a reader finds in a journal: a record with a missing or an extra field, or of no kind,
// is refused, so that a damaged journal is never played.
TEST(JournalRecords, LinesThatDoNotFitTheirKindAreNotWellFormed)
{
    const char* const refused[] = {
        "",
        "F",
        "FF\tC:\\a",
        "F\tC:\\a\tC:\\b",
        "R\tC:\\a",
        "M\tC:\\a\t0",
        "V\tHKLM\tk\tn",
        "V\tHKLM\tk\tn\t1",
        "C\tC:\\a",
        "Q\tC:\\a",
        "H\t2\tP\t32-bit\tS\tD\tI",
    };
    for (const char* line : refused)
        EXPECT_FALSE(WellFormed(line)) << line;
}

} // namespace
