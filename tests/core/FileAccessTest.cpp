#include "core/FileAccess.h"

#include "core/ZorvaneException.h"
#include "support/ScopedTempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char Sentinel = '\x5A';

// Runs body and returns the ErrorCode it threw, or 0 when it threw nothing.
template <typename Body> int ThrownCode(Body body, DWORD* systemError = nullptr)
{
    try {
        body();
    } catch (const ZorvaneException& error) {
        if (systemError != nullptr)
            *systemError = error.SystemError;
        return error.ErrorCode;
    }
    return 0;
}

struct Line {
    std::string Text;
    bool AtEnd;
    bool operator==(const Line& other) const { return Text == other.Text && AtEnd == other.AtEnd; }
};

std::ostream& operator<<(std::ostream& out, const Line& line)
{
    return out << '"' << line.Text << '"' << (line.AtEnd ? " at end" : "");
}

// Every line ReadLine delivers over content, read the way callers loop: while not AtEnd.
std::vector<Line> ReadLines(const ScopedTempDir& dir, const std::string& content, DWORD size = 460)
{
    std::string path = dir.Join("lines.txt");
    WriteTestFile(path, content);
    FileReader reader(path.c_str());
    std::vector<Line> lines;
    std::vector<char> buffer(size + 1, Sentinel);
    do {
        reader.ReadLine(buffer.data(), size);
        EXPECT_EQ(buffer[size], Sentinel) << "ReadLine wrote past its buffer";
        lines.push_back({buffer.data(), reader.AtEnd()});
    } while (!reader.AtEnd() && lines.size() < 100);
    return lines;
}

// Every line ReadRawLine delivers over content, until it returns false.
std::vector<std::string> ReadRawLines(const ScopedTempDir& dir, const std::string& content, DWORD size = 1024)
{
    std::string path = dir.Join("raw.txt");
    WriteTestFile(path, content);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<std::string> lines;
    std::vector<char> buffer(size + 1, Sentinel);
    while (lines.size() < 100 && ReadRawLine(file, buffer.data(), size)) {
        EXPECT_EQ(buffer[size], Sentinel) << "ReadRawLine wrote past its buffer";
        lines.push_back(buffer.data());
    }
    CloseHandle(file);
    return lines;
}

} // namespace

TEST(FileWriter, ReplacesExistingFileAndWritesBytesAndLines)
{
    ScopedTempDir dir;
    std::string path = dir.Join("out.txt");
    WriteTestFile(path, "old content that must vanish");
    {
        FileWriter writer(path.c_str());
        EXPECT_STREQ(writer.FileName, path.c_str());
        writer.Write("abc", 3);
        writer.Write("ignored", 0);
        writer.WriteByte('#');
        writer.WriteLine("");
        writer.WriteLine("line");
    }
    // Shorter than the old content: any of it left behind would show.
    EXPECT_EQ(ReadTestFile(path), "abc#\r\nline\r\n");
}

TEST(FileWriter, RefusedCreateThrowsUnableToOpenWithPath)
{
    ScopedTempDir dir;
    std::string path = dir.Join("no such folder\\out.txt");
    try {
        FileWriter writer(path.c_str());
        FAIL() << "created a file in a missing folder";
    } catch (const ZorvaneException& error) {
        EXPECT_EQ(error.ErrorCode, ErrUnableToOpen);
        EXPECT_STREQ(error.FileName, path.c_str());
        EXPECT_EQ(error.SystemError, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    }
}

TEST(FileWriter, HoldsItsFileExclusively)
{
    ScopedTempDir dir;
    std::string path = dir.Join("held.txt");
    {
        FileWriter writer(path.c_str());
        EXPECT_EQ(ThrownCode([&] { FileWriter second(path.c_str()); }), ErrUnableToOpen);
        EXPECT_EQ(ThrownCode([&] { FileReader reader(path.c_str()); }), ErrUnableToOpen);
    }
    EXPECT_EQ(ThrownCode([&] { FileReader reader(path.c_str()); }), 0) << "destruction releases the file";
}

// The stored-bytes temporary's life: made anew over an existing file, there (and held) while
// written, gone once closed, also when a write failed on the way.
TEST(FileWriter, DeleteWhenClosedReplacesTheFileAndRemovesItOnClose)
{
    ScopedTempDir dir;
    std::string path = dir.Join("~vt1.tmp");
    WriteTestFile(path, "the previous entry's bytes");
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "a write fails" : "every write succeeds");
        try {
            FileWriter writer(path.c_str(), FileWriter::DeleteWhenClosed);
            writer.Write("abc", 3);
            WIN32_FILE_ATTRIBUTE_DATA data;
            ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
            EXPECT_EQ(data.nFileSizeLow, 3u) << "created anew, not appended to";
            EXPECT_EQ(ThrownCode([&] { FileReader reader(path.c_str()); }), ErrUnableToOpen);
            if (failing)
                writer.Write(nullptr, 1); // no buffer: the system refuses the write
        } catch (const ZorvaneException& error) {
            EXPECT_TRUE(failing);
            EXPECT_EQ(error.ErrorCode, ErrWriteError);
        }
        EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        WriteTestFile(path, "made again for the next round");
    }
}

TEST(FileReader, OpenFailuresTellMissingFromRefused)
{
    ScopedTempDir dir;
    std::string missing = dir.Join("missing.bin");
    DWORD systemError = 0;
    EXPECT_EQ(ThrownCode([&] { FileReader reader(missing.c_str()); }, &systemError), ErrFileNotFound);
    EXPECT_EQ(systemError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A folder exists, so it is not "not found": the open itself is refused.
    EXPECT_EQ(ThrownCode([&] { FileReader reader(dir.Path().c_str()); }), ErrUnableToOpen);

    std::string path = dir.Join("held.bin");
    WriteTestFile(path, "x");
    FileReader first(path.c_str());
    EXPECT_EQ(ThrownCode([&] { FileReader second(path.c_str()); }), ErrUnableToOpen);
}

TEST(FileReader, ExactReadsSetAtEndOnShortReadAndSeekClearsIt)
{
    ScopedTempDir dir;
    std::string path = dir.Join("data.bin");
    std::string content(100, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i);
    WriteTestFile(path, content);

    FileReader reader(path.c_str());
    EXPECT_EQ(reader.Size(), 100u);
    EXPECT_FALSE(reader.AtEnd());
    char buffer[137];
    memset(buffer, Sentinel, sizeof buffer);
    reader.Read(buffer, 10);
    EXPECT_EQ(std::string(buffer, 10), content.substr(0, 10));
    EXPECT_EQ(buffer[10], Sentinel);
    EXPECT_EQ(reader.Tell(), 10u);
    reader.Read(buffer, 0);
    EXPECT_EQ(reader.Tell(), 10u);

    reader.Seek(0, FILE_BEGIN);
    try {
        reader.Read(buffer, 136);
        FAIL() << "read 136 bytes from a 100-byte file";
    } catch (const ZorvaneException& error) {
        EXPECT_EQ(error.ErrorCode, ErrUnexpectedEndOfFile);
        EXPECT_STREQ(error.FileName, path.c_str());
    }
    EXPECT_EQ(buffer[136], Sentinel);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.Seek(0, FILE_BEGIN), 0u);
    EXPECT_FALSE(reader.AtEnd());
    EXPECT_EQ(reader.Seek(-4, FILE_END), 96u);
    EXPECT_EQ(reader.Seek(2, FILE_CURRENT), 98u);
    reader.Read(buffer, 2);
    EXPECT_FALSE(reader.AtEnd()) << "an exact read at the very end is not short";
    EXPECT_EQ(ThrownCode([&] { reader.Read(buffer, 1); }), ErrUnexpectedEndOfFile);
    EXPECT_TRUE(reader.AtEnd());
}

TEST(FileReader, ReadLineEndsLinesAtCarriageReturnsAndSkipsLineFeeds)
{
    ScopedTempDir dir;
    using L = std::vector<Line>;
    EXPECT_EQ(ReadLines(dir, "a\r\nb"), (L{{"a", false}, {"b", true}}));
    EXPECT_EQ(ReadLines(dir, "a\r\n"), (L{{"a", true}}));
    EXPECT_EQ(ReadLines(dir, "a\r\n\r\n"), (L{{"a", false}, {"", true}}));
    EXPECT_EQ(ReadLines(dir, "a\nb\n"), (L{{"ab", true}}));
    EXPECT_EQ(ReadLines(dir, "a\r\rb"), (L{{"a", false}, {"", false}, {"b", true}}));
    EXPECT_EQ(ReadLines(dir, "a\r\n\n\nb"), (L{{"a", false}, {"b", true}}));
    EXPECT_EQ(ReadLines(dir, ""), (L{{"", true}}));
    EXPECT_EQ(ReadLines(dir, "\n\n\n"), (L{{"", true}}));
}

TEST(FileReader, ReadLineCutsOverlongLinesLosingOneByte)
{
    ScopedTempDir dir;
    using L = std::vector<Line>;
    EXPECT_EQ(ReadLines(dir, "abcdef\r", 4), (L{{"abc", false}, {"ef", true}}));
    EXPECT_EQ(ReadLines(dir, "abc\rxyz", 4), (L{{"abc", false}, {"xyz", true}}));
    // A one-byte buffer holds only the terminator: every call loses one byte.
    EXPECT_EQ(ReadLines(dir, "abcd", 1), (L{{"", false}, {"", false}, {"", false}, {"", false}, {"", true}}));
    std::string longest(459, 'l');
    EXPECT_EQ(ReadLines(dir, longest + "\r\n+x"), (L{{longest, false}, {"+x", true}}));
}

TEST(ReadRawLine, EndsLinesAtAnyLineEndAndDropsOverlongRest)
{
    ScopedTempDir dir;
    using S = std::vector<std::string>;
    EXPECT_EQ(ReadRawLines(dir, "abcdef\r\nx", 4), (S{"abc", "x"}));
    EXPECT_EQ(ReadRawLines(dir, "a\n\rb"), (S{"a", "", "b"}));
    EXPECT_EQ(ReadRawLines(dir, "a\r\n\nb"), (S{"a", "", "b"}));
    EXPECT_EQ(ReadRawLines(dir, "a\rb\r"), (S{"a", "b"}));
    EXPECT_EQ(ReadRawLines(dir, "a\r\n"), (S{"a"}));
    EXPECT_EQ(ReadRawLines(dir, ""), S{});
}

TEST(ReadRawLine, LeavesBufferUntouchedAtEndOfFile)
{
    ScopedTempDir dir;
    std::string path = dir.Join("empty.txt");
    WriteTestFile(path, "");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[8];
    memset(buffer, Sentinel, sizeof buffer);
    EXPECT_FALSE(ReadRawLine(file, buffer, sizeof buffer));
    CloseHandle(file);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, Sentinel));
}

TEST(WriteRawLine, WritesTextThenLineEndAndReportsFailure)
{
    ScopedTempDir dir;
    std::string path = dir.Join("raw.txt");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteRawLine(file, "[rename]"));
    EXPECT_TRUE(WriteRawLine(file, nullptr));
    EXPECT_TRUE(WriteRawLine(file, ""));
    EXPECT_TRUE(WriteAll(file, "xy", 2));
    CloseHandle(file);
    EXPECT_EQ(ReadTestFile(path), "[rename]\r\n\r\n\r\nxy");

    // A handle opened for reading only refuses every write.
    HANDLE readOnly = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteRawLine(readOnly, "text"));
    EXPECT_FALSE(WriteRawLine(readOnly, nullptr));
    EXPECT_FALSE(WriteAll(readOnly, "x", 1));
    char byte;
    EXPECT_TRUE(ReadAll(readOnly, &byte, 1));
    EXPECT_FALSE(ReadAll(readOnly, &byte, 100)) << "a short read is a failure";
    CloseHandle(readOnly);
    EXPECT_EQ(ReadTestFile(path), "[rename]\r\n\r\n\r\nxy");
}
