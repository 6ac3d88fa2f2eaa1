#include "system/Registry.h"

#include "support/RegistryProbe.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

// Directly under HKCU, so that the climb's stop at the root's direct subkey shows.
const char TestRoot[] = "ZorvaneRegistryTest";
const char Sentinel = '\x5a';

class RegistryTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(RemoveKeyTree(HKEY_CURRENT_USER, TestRoot)); }
    void TearDown() override
    {
        EXPECT_TRUE(RemoveKeyTree(HKEY_CURRENT_USER, TestRoot)) << "test key left behind";
    }

    static std::string Key(const std::string& relative) { return std::string(TestRoot) + "\\" + relative; }
    static bool Exists(const std::string& relative) { return KeyExists(HKEY_CURRENT_USER, Key(relative)); }

    void SetText(const std::string& relative, const char* name, const std::string& text)
    {
        SetRawValue(HKEY_CURRENT_USER, Key(relative), name, REG_SZ, text.c_str(), DWORD(text.size() + 1));
    }

    // Reads into a buffer of maximum bytes followed by sentinels; the sentinels must survive.
    std::string Read(const std::string& relative, const char* name, const char* defaultText, DWORD maximum)
    {
        std::vector<char> buffer(maximum + 8, Sentinel);
        memset(buffer.data(), 'x', maximum);
        ReadRegistryString(HKEY_CURRENT_USER, Key(relative).c_str(), name, defaultText, buffer.data(),
                           maximum);
        for (size_t i = maximum; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], Sentinel) << "written past the buffer at " << i;
        EXPECT_TRUE(memchr(buffer.data(), '\0', maximum) != nullptr) << "result not terminated";
        return std::string(buffer.data(), strnlen(buffer.data(), maximum));
    }
};

TEST_F(RegistryTest, ReadGetsStringsThatFitTheQueryBufferAndDefaultsForLongerOnes)
{
    const std::string fits(255, 'a');    // 256 bytes with its terminator
    const std::string tooLong(256, 'b'); // 257 bytes
    const std::string veryLong(1000, 'c');
    SetText("Values", "Fits", fits);
    SetText("Values", "TooLong", tooLong);
    SetText("Values", "VeryLong", veryLong);
    SetText("Values", "", "default value text");

    EXPECT_EQ(Read("Values", "Fits", "dflt", MAX_PATH), fits);
    EXPECT_EQ(Read("Values", "TooLong", "dflt", MAX_PATH), "dflt");
    EXPECT_EQ(Read("Values", "VeryLong", "dflt", MAX_PATH), "dflt");
    EXPECT_EQ(Read("Values", "", "dflt", MAX_PATH), "default value text");
}

TEST_F(RegistryTest, ReadFallsBackToTheDefaultForMissingKeysValuesAndOtherTypes)
{
    const char expandable[] = "%SystemRoot%\\system32";
    const DWORD number = 42;
    const char binary[] = "binary";
    SetRawValue(HKEY_CURRENT_USER, Key("Types"), "Expand", REG_EXPAND_SZ, expandable, sizeof expandable);
    SetRawValue(HKEY_CURRENT_USER, Key("Types"), "Number", REG_DWORD, &number, sizeof number);
    SetRawValue(HKEY_CURRENT_USER, Key("Types"), "Binary", REG_BINARY, binary, sizeof binary);

    EXPECT_EQ(Read("Missing", "Any", "C:\\Program Files", MAX_PATH), "C:\\Program Files");
    EXPECT_EQ(Read("Types", "Missing", "fallback", MAX_PATH), "fallback");
    EXPECT_EQ(Read("Types", "Expand", "fallback", MAX_PATH), "fallback");
    EXPECT_EQ(Read("Types", "Number", "fallback", MAX_PATH), "fallback");
    EXPECT_EQ(Read("Types", "Binary", "fallback", MAX_PATH), "fallback");
    EXPECT_EQ(Read("Types", "Number", "", MAX_PATH), "");
}

TEST_F(RegistryTest, ReadCutsValueAndDefaultToMaximumLengthMinusOne)
{
    const std::string owner(200, 'o');
    SetText("Owner", "RegisteredOwner", owner);

    EXPECT_EQ(Read("Owner", "RegisteredOwner", "", 128), owner.substr(0, 127));
    EXPECT_EQ(Read("Owner", "Missing", owner.c_str(), 128), owner.substr(0, 127));
    EXPECT_EQ(Read("Owner", "RegisteredOwner", "", 1), "");
    EXPECT_EQ(Read("Owner", "RegisteredOwner", "", 201), owner);
}

TEST_F(RegistryTest, ReadOfAnUnterminatedStringFillingTheQueryBufferStaysInsideTheData)
{
    // 256 bytes without a terminator fill the query buffer exactly: nothing after them may be read.
    // The byte after the data given is not zero, or the system would store a terminator itself.
    const std::string source(300, 'u');
    const std::string full = source.substr(0, 256);
    SetRawValue(HKEY_CURRENT_USER, Key("Raw"), "Full", REG_SZ, source.data(), 256);
    ASSERT_EQ(QueryValue(HKEY_CURRENT_USER, Key("Raw"), "Full").Data, full);
    SetRawValue(HKEY_CURRENT_USER, Key("Raw"), "Short", REG_SZ, source.data(), 5);
    ASSERT_EQ(QueryValue(HKEY_CURRENT_USER, Key("Raw"), "Short").Data, "uuuuu");

    EXPECT_EQ(Read("Raw", "Full", "dflt", MAX_PATH), full);
    EXPECT_EQ(Read("Raw", "Full", "dflt", 10), full.substr(0, 9));
    EXPECT_EQ(Read("Raw", "Short", "dflt", MAX_PATH), "uuuuu");
}

TEST_F(RegistryTest, WriteCreatesEveryMissingKeyAndStoresTheTerminator)
{
    CreateKey(HKEY_CURRENT_USER, TestRoot);
    WriteRegistryString(HKEY_CURRENT_USER, Key("B\\C\\D").c_str(), "Name", "text with spaces");
    WriteRegistryString(HKEY_CURRENT_USER, Key("B\\C\\D").c_str(), "", "");
    WriteRegistryDword(HKEY_CURRENT_USER, Key("B\\E").c_str(), "Number", 0x01020304);

    RegistryValue named = QueryValue(HKEY_CURRENT_USER, Key("B\\C\\D"), "Name");
    ASSERT_TRUE(named.Found);
    EXPECT_EQ(named.Type, DWORD(REG_SZ));
    EXPECT_EQ(named.Data, StoredText("text with spaces"));

    RegistryValue unnamed = QueryValue(HKEY_CURRENT_USER, Key("B\\C\\D"), "");
    ASSERT_TRUE(unnamed.Found) << "the empty text must still set the default value";
    EXPECT_EQ(unnamed.Type, DWORD(REG_SZ));
    EXPECT_EQ(unnamed.Data, std::string(1, '\0'));

    RegistryValue number = QueryValue(HKEY_CURRENT_USER, Key("B\\E"), "Number");
    ASSERT_TRUE(number.Found);
    EXPECT_EQ(number.Type, DWORD(REG_DWORD));
    EXPECT_EQ(number.Data, std::string("\x04\x03\x02\x01", 4));
}

TEST_F(RegistryTest, WriteReplacesAValueOfAnotherType)
{
    WriteRegistryDword(HKEY_CURRENT_USER, Key("K").c_str(), "V", 7);
    WriteRegistryString(HKEY_CURRENT_USER, Key("K").c_str(), "V", "now text");
    RegistryValue value = QueryValue(HKEY_CURRENT_USER, Key("K"), "V");
    EXPECT_EQ(value.Type, DWORD(REG_SZ));
    EXPECT_EQ(value.Data, StoredText("now text"));
}

TEST_F(RegistryTest, DeleteKeyRemovesOnlyTheLastKeyAndNotOneWithSubkeys)
{
    CreateKey(HKEY_CURRENT_USER, Key("P\\Leaf"));
    CreateKey(HKEY_CURRENT_USER, Key("P\\Sibling"));
    CreateKey(HKEY_CURRENT_USER, Key("Q\\Child"));

    DeleteRegistryKey(HKEY_CURRENT_USER, Key("P\\Leaf").c_str());
    EXPECT_FALSE(Exists("P\\Leaf"));
    EXPECT_TRUE(Exists("P\\Sibling"));
    EXPECT_TRUE(Exists("P"));

    DeleteRegistryKey(HKEY_CURRENT_USER, Key("Q").c_str());
    EXPECT_TRUE(Exists("Q\\Child")) << "a key with subkeys must stay";

    DeleteRegistryKey(HKEY_CURRENT_USER, Key("Missing\\Leaf").c_str());
    EXPECT_TRUE(Exists("P"));
}

TEST_F(RegistryTest, DeleteKeyWithoutBackslashDeletesTheKeyDirectlyUnderTheRoot)
{
    SetText("", "Value", "goes with the key");
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, TestRoot));
    DeleteRegistryKey(HKEY_CURRENT_USER, TestRoot);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, TestRoot));
}

TEST_F(RegistryTest, DeleteOperationsLeaveAlonePathsTooLongForTheirWorkBuffer)
{
    // Cut to 259 characters, this path would name the existing key X, not its missing child.
    const std::string x(MAX_PATH - 1 - strlen(TestRoot) - 1, 'x');
    ASSERT_EQ(Key(x).size(), size_t(MAX_PATH - 1));
    CreateKey(HKEY_CURRENT_USER, Key(x));
    const std::string overLong = Key(x + "\\child");

    DeleteRegistryKey(HKEY_CURRENT_USER, overLong.c_str());
    EXPECT_TRUE(Exists(x)) << "DeleteRegistryKey deleted the key its cut path names";
    DeleteRegistryKeyAndEmptyParents(HKEY_CURRENT_USER, overLong.c_str());
    EXPECT_TRUE(Exists(x)) << "DeleteRegistryKeyAndEmptyParents deleted the key its cut path names";
    DeleteRegistryKeyAndEmptyParents(HKEY_CURRENT_USER, "");
    EXPECT_TRUE(Exists(x));
}

TEST_F(RegistryTest, DeleteValueRemovesOneNamedOrTheDefaultValue)
{
    SetText("V", "One", "1");
    SetText("V", "Two", "2");
    SetText("V", "", "unnamed");

    DeleteRegistryValue(HKEY_CURRENT_USER, Key("V").c_str(), "One");
    EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, Key("V"), "One").Found);
    EXPECT_TRUE(QueryValue(HKEY_CURRENT_USER, Key("V"), "Two").Found);
    EXPECT_TRUE(QueryValue(HKEY_CURRENT_USER, Key("V"), "").Found);

    DeleteRegistryValue(HKEY_CURRENT_USER, Key("V").c_str(), "");
    EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, Key("V"), "").Found);
    EXPECT_TRUE(QueryValue(HKEY_CURRENT_USER, Key("V"), "Two").Found);

    DeleteRegistryValue(HKEY_CURRENT_USER, Key("Missing").c_str(), "Two");
    EXPECT_FALSE(Exists("Missing"));
}

TEST_F(RegistryTest, ClimbDeletesEmptiedAncestorsWithTheirValuesButNeverTheRootsDirectSubkey)
{
    SetText("B", "Kept?", "values do not keep a key");
    SetText("B\\C", "", "nor a default value");
    CreateKey(HKEY_CURRENT_USER, Key("B\\C\\D"));

    DeleteRegistryKeyAndEmptyParents(HKEY_CURRENT_USER, Key("B\\C\\D").c_str());
    EXPECT_FALSE(Exists("B"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, TestRoot));
}

TEST_F(RegistryTest, ClimbStopsAtAnAncestorWithOtherSubkeys)
{
    CreateKey(HKEY_CURRENT_USER, Key("B\\C"));
    CreateKey(HKEY_CURRENT_USER, Key("B\\Other"));

    DeleteRegistryKeyAndEmptyParents(HKEY_CURRENT_USER, Key("B\\C").c_str());
    EXPECT_FALSE(Exists("B\\C"));
    EXPECT_TRUE(Exists("B\\Other"));
}

TEST_F(RegistryTest, ClimbStopsWhereTheParentIsMissingAndGoesOnOverAMissingLeaf)
{
    // P\B is missing: the climb stops there, so P (left without subkeys) is not reached.
    CreateKey(HKEY_CURRENT_USER, Key("P"));
    DeleteRegistryKeyAndEmptyParents(HKEY_CURRENT_USER, Key("P\\B\\C").c_str());
    EXPECT_TRUE(Exists("P"));

    // C is missing but B has no subkeys: B goes, then P, up to the root's direct subkey.
    CreateKey(HKEY_CURRENT_USER, Key("P\\B"));
    DeleteRegistryKeyAndEmptyParents(HKEY_CURRENT_USER, Key("P\\B\\C").c_str());
    EXPECT_FALSE(Exists("P"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, TestRoot));
}

TEST_F(RegistryTest, ClimbLeavesAKeyThatStillHasSubkeysAndEveryParent)
{
    CreateKey(HKEY_CURRENT_USER, Key("B\\C\\Sub"));
    DeleteRegistryKeyAndEmptyParents(HKEY_CURRENT_USER, Key("B\\C").c_str());
    EXPECT_TRUE(Exists("B\\C\\Sub"));
}

} // namespace
