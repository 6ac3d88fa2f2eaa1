// The extraction expands stored bytes itself; it must accept and produce exactly what the
// platform's LZ expansion would. Every stream of the table goes through both.
#include "payload/EntryExpansion.h"

#include "core/ZorvaneException.h"
#include "support/ScopedTempDir.h"

#include <lzexpand.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// A compress-format header announcing length, then body.
std::string Szdd(uint32_t length, const std::string& body, char mode = 'A')
{
    std::string bytes("SZDD\x88\xF0\x27\x33", 8);
    bytes += mode;
    bytes += '_';
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>(length >> (8 * i));
    return bytes + body;
}

// What the platform makes of the stored bytes: the content when it expands to the announced
// length, else "refused".
std::string PlatformExpansion(const ScopedTempDir& dir, const std::string& stored)
{
    std::string from = dir.Join("platform-in"), to = dir.Join("platform-out");
    WriteTestFile(from, stored);
    OFSTRUCT openFile = {};
    INT source = LZOpenFileA(const_cast<char*>(from.c_str()), &openFile, OF_READ);
    INT target = LZOpenFileA(const_cast<char*>(to.c_str()), &openFile, OF_CREATE | OF_READWRITE);
    LONG announced = source >= 0 ? LZSeek(source, 0, 2) : -1;
    LONG copied = announced >= 0 && LZSeek(source, 0, 0) == 0 && target >= 0 ? LZCopy(source, target) : -1;
    if (source >= 0)
        LZClose(source);
    if (target >= 0)
        LZClose(target);
    return copied >= 0 && copied == announced ? ReadTestFile(to) : "refused";
}

// What the extraction makes of them, read from a package file that holds just these bytes, by
// way of the expansion temporary or of memory; the temporary starts out longer than any content,
// so a stale tail would show, and so does the memory, which a longer content used before.
std::string OwnExpansion(const ScopedTempDir& dir, const std::string& stored, bool inMemory)
{
    std::string package = dir.Join("package"), expanded = dir.Join("expanded");
    WriteTestFile(package, stored);
    WriteTestFile(expanded, std::string(64, 'x'));
    FileReader reader(package.c_str());
    ExpansionFile expansion(expanded.c_str());
    static HeldContent held = {};
    if (held.Data == nullptr) {
        held.Data = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, 64));
        held.Room = 64;
        memset(held.Data, 'x', 64);
    }
    try {
        FileWriter storedFile(dir.Join("stored").c_str());
        PassStoredBytes(reader, static_cast<int32_t>(stored.size()), &storedFile, expansion,
                        inMemory ? &held : nullptr);
    } catch (const ZorvaneException& error) {
        EXPECT_EQ(error.ErrorCode, ErrInvalidOrCorrupt);
        return "refused";
    }
    expansion.Release();
    EXPECT_EQ(ReadTestFile(dir.Join("stored")), stored);
    if (inMemory && held.Whole)
        return std::string(reinterpret_cast<const char*>(held.Data), held.Size);
    return ReadTestFile(expanded);
}

TEST(ExpansionAgreement, OwnExpansionAcceptsAndProducesWhatThePlatformDoes)
{
    const std::string abc = "\x07"
                            "abc";
    struct Case {
        const char* Name;
        std::string Stored;
    } cases[] = {
        {"literals", Szdd(3, abc)},
        {"lone flag byte after", Szdd(3, abc + std::string(1, '\0'))},
        {"flag and half a pair after", Szdd(3, abc + std::string("\x00\x10", 2))},
        {"flag and a literal after", Szdd(3, abc + std::string("\x01x", 2))},
        {"flag and a whole pair after", Szdd(3, abc + std::string("\x00\x10\x00", 3))},
        {"half a pair inside the last group", Szdd(2, std::string("\x03"
                                                                  "abQ",
                                                                  4))},
        {"a literal inside the last group", Szdd(2, std::string("\x07"
                                                                "abc",
                                                                4))},
        {"cut short", Szdd(4, abc)},
        {"pair past the length", Szdd(2, std::string("\x00\xF0\x00", 3))},
        {"pair from the blank ring", Szdd(5, std::string("\x00\xF0\xF2", 3))},
        {"pair copying what it writes", Szdd(9, std::string("\x03"
                                                            "ab\xF0\xF4",
                                                            5))},
        {"unknown mode", Szdd(3, abc, 'B')},
        {"length beyond two gigabytes", Szdd(0x80000000u, abc)},
        {"plain text", "just text, stored as it is"},
        {"signature without a whole header", std::string("SZDD\x88\xF0\x27\x33"
                                                         "A",
                                                         9)},
        {"empty", ""},
    };
    ScopedTempDir dir;
    for (const Case& c : cases)
        for (bool inMemory : {false, true})
            EXPECT_EQ(OwnExpansion(dir, c.Stored, inMemory), PlatformExpansion(dir, c.Stored))
                << c.Name << (inMemory ? ", in memory" : ", through the temporary");
}

} // namespace
