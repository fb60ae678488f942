#include "base/ini_file.h"

#include <gtest/gtest.h>

#include "base/ansi_text.h"
#include "tests/fakes/ini_profile_fake.h"

namespace {

struct HexCase {
    const wchar_t *text;
    uint32_t expected;
};

class ParseHexTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(ParseHexTest, ReadsDigitsUpToTheFirstOtherCharacter) {
    EXPECT_EQ(ParseHex(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseHexTest,
                         ::testing::Values(HexCase{L"", 0}, HexCase{L"1F", 0x1F},
                                           HexCase{L"0x1F", 0x1F}, HexCase{L"0X1f", 0x1F},
                                           HexCase{L"2G7", 0x2}, HexCase{L"1A2G", 0x1A2},
                                           HexCase{L"0x", 0}, HexCase{L"0", 0}, HexCase{L"x1F", 0},
                                           HexCase{L" 1F", 0}, HexCase{L"ffffffff", 0xFFFFFFFFu},
                                           // More than eight digits keep the low 32 bits.
                                           HexCase{L"123456789", 0x23456789u},
                                           HexCase{L"12345678901234567890", 0x34567890u},
                                           HexCase{L"0xFFFFFFFFFFFFFFFFFFFF", 0xFFFFFFFFu}));

class IniFileTest : public ::testing::Test {
  protected:
    FakeFileSystem files;
    IniProfileFake profile{files};
    CIniFile ini{files, profile};
    const std::wstring path = L"C:\\QV\\setting.ini";
};

TEST_F(IniFileTest, SetFileCreatesAMissingFileAndKeepsThePath) {
    ASSERT_TRUE(ini.SetFile(path));
    EXPECT_TRUE(files.HasFile(path));
    EXPECT_EQ(ini.Path(), path);
}

TEST_F(IniFileTest, SetFileThatCannotOpenKeepsNothingNew) {
    files.refuseOpen.insert(path);
    EXPECT_FALSE(ini.SetFile(path));
    EXPECT_EQ(ini.Path(), L"");
    // With no file kept, nothing is read from anywhere.
    EXPECT_EQ(ini.GetString(L"SYSTEM", L"APPTITLE"), L"");
    EXPECT_EQ(ini.GetInt(L"SYSTEM", L"ERASE_IDB"), 0);
    EXPECT_EQ(profile.reads, 0);
}

TEST_F(IniFileTest, SetFileReadsAReadOnlyFileWithoutAppending) {
    files.AddTextFile(path, L"[SYSTEM]\nERASE_IDB=1\n");
    files.refuseOpen.insert(path);
    ASSERT_TRUE(ini.SetFile(path));
    EXPECT_EQ(ini.Path(), path);
    EXPECT_EQ(ini.GetInt(L"SYSTEM", L"ERASE_IDB"), 1);
    EXPECT_EQ(files.calls, std::vector<std::wstring>{L"OpenForRead " + path});
}

// A file that is there but cannot be read is not replaced by a new empty one.
TEST_F(IniFileTest, SetFileRefusesAFileThatExistsButCannotBeRead) {
    files.AddTextFile(path, L"[SYSTEM]\nERASE_IDB=1\n");
    files.refuseRead.insert(path);
    EXPECT_FALSE(ini.SetFile(path));
    EXPECT_EQ(ini.Path(), L"");
    EXPECT_EQ(*files.Content(path), "[SYSTEM]\nERASE_IDB=1\n");
    for (const std::wstring &call : files.calls)
        EXPECT_EQ(call.find(L"OpenForAppend"), std::wstring::npos);
}

TEST_F(IniFileTest, EveryReadGoesToTheFile) {
    files.AddTextFile(path, L"[SYSTEM]\nERASE_IDB=0\n");
    ASSERT_TRUE(ini.SetFile(path));
    EXPECT_EQ(ini.GetInt(L"SYSTEM", L"ERASE_IDB"), 0);
    files.AddTextFile(path, L"[SYSTEM]\nERASE_IDB=1\n");
    EXPECT_EQ(ini.GetInt(L"SYSTEM", L"ERASE_IDB"), 1);
}

TEST_F(IniFileTest, GetStringCutsToTheBufferAndGetHexUsesSixtyFourCharacters) {
    const std::wstring longHex = std::wstring(70, L'0') + L"1F";
    files.AddTextFile(path, L"[SYSTEM]\nAPPTITLE=" + std::wstring(300, L'a') +
                                L"\n[DEVICE_ID]\nVID=" + longHex + L"\nPID=0x" +
                                std::wstring(61, L'0') + L"2\n");
    ASSERT_TRUE(ini.SetFile(path));
    EXPECT_EQ(ini.GetString(L"SYSTEM", L"APPTITLE").size(), 259u);
    EXPECT_EQ(ini.GetString(L"SYSTEM", L"APPTITLE", 100).size(), 99u);
    // 63 characters survive the buffer: the trailing "1F" of the first value
    // is cut off, the "2" of the second is the 64th character and also lost.
    EXPECT_EQ(ini.GetHex(L"DEVICE_ID", L"VID"), 0u);
    EXPECT_EQ(ini.GetHex(L"DEVICE_ID", L"PID"), 0u);
}

} // namespace

// Texts for the device library: at most 259 bytes and their terminating zero
// in a buffer of 260; anything else leaves the buffer all zero.
TEST(WideToAnsi, FillsTheBufferOnlyWithAWholeText) {
    Latin1TextCodec codec;
    const auto allZero = [](const AnsiBuffer &buffer) {
        for (char c : buffer)
            if (c != '\0') return false;
        return true;
    };
    AnsiBuffer buffer;
    buffer.fill('x');
    ASSERT_TRUE(WideToAnsi(codec, std::wstring(259, L'a'), buffer));
    EXPECT_EQ(std::string(buffer.data()), std::string(259, 'a'));
    EXPECT_EQ(buffer[259], '\0');

    struct Case {
        const char *what;
        std::wstring text;
    } refused[] = {
        {"260 bytes", std::wstring(260, L'a')},
        {"embedded zero", std::wstring(L"C:\\a\0b.img", 10)},
        {"empty", L""},
        {"outside the code page", L"C:\\\x0416.img"},
    };
    for (const Case &c : refused) {
        buffer.fill('x');
        EXPECT_FALSE(WideToAnsi(codec, c.text, buffer)) << c.what;
        EXPECT_TRUE(allZero(buffer)) << c.what;
    }
}
