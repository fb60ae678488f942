// Checks the shipped language files against the program: every text key the
// code looks up is present in every file, and every text carries exactly the
// placeholders its caller fills in.
#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>

#include "base/language.h"
#include "tests/fakes/ini_profile_fake.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = QV_SOURCE_DIR;

// Every message and status key, including those the code builds from a
// number (the failure texts of result codes).
const std::set<int> kTextKeys = {6, 20, 21, 28, 29, 30, 31, 38, 39, 40, 41, 44, 47, 49, 50, 52, 53,
                                 54, 81, 82, 83, 84, 88, 89, 90, 91, 92, 93, 101, 102, 103, 104,
                                 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118,
                                 119, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130,
                                 // Names for a screen reader.
                                 150, 151, 152, 153,
                                 // The station's own lines.
                                 200, 201, 202, 203, 204, 205, 206, 207,
                                 // The job record's lines that wait.
                                 230, 231,
                                 // The fleet database's rows that wait.
                                 232,
                                 // The station's waits and a call that does not return.
                                 233, 234, 235, 236, 237, 238,
                                 // The records' queue listed.
                                 239, 240, 241, 242, 243,
                                 // A pass not verified, a device already done.
                                 250, 251,
                                 // The station at a glance: verdict lines, refusals, figures.
                                 260, 261, 262, 263, 264, 265, 266, 267, 268, 269, 270, 271, 272,
                                 273, 274, 275, 276, 277, 278, 279, 280, 281,
                                 // Rows written without some columns.
                                 282,
                                 // A record file imported into the fleet database.
                                 290, 291, 292, 293, 294, 295, 296, 297, 298, 299};

// Texts used as formats: their one "%s" receives a name or a path.
const std::set<int> kFormatKeys = {6,   30,  39,  52,  204, 205, 207, 230, 231, 232, 233, 234,
                                   235, 236, 238, 239, 240, 241, 242, 243, 250, 251, 261, 267,
                                   268, 270, 271, 272, 273, 274, 275, 276, 277, 279, 280, 281,
                                   282, 291, 292, 293, 294, 295, 297, 298, 299};

// Main window controls whose initial text comes from the language file.
const std::set<int> kMainWindowControls = {1002, 1005, 1006, 1019, 1020, 1021,
                                           1025, 1026, 1028, 1034, 1035};

std::set<int> KeysInSources() {
    std::set<int> keys;
    // Keys in string literals; comments may name keys that do not exist.
    const std::regex key("\"IDS_([0-9]+)\"");
    for (const char *dir : {"base", "app", "device", "ui", "controls", "station"}) {
        const fs::path root = kSourceDir / dir;
        if (!fs::exists(root)) continue;
        for (const auto &entry : fs::recursive_directory_iterator(root)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it)
                keys.insert(std::stoi((*it)[1].str()));
        }
    }
    return keys;
}

std::vector<fs::path> ShippedFiles() {
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(kSourceDir / "lang"))
        if (entry.path().extension() == ".ini") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// "%s" counted; any other '%' except "%%" is a mistake (FormatLangText would
// show it as it stands).
void CountPlaceholders(const std::wstring &text, int &strings, int &strays) {
    strings = strays = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') continue;
        if (i + 1 < text.size() && text[i + 1] == L's') {
            ++strings;
            ++i;
        } else if (i + 1 < text.size() && text[i + 1] == L'%') {
            ++i;
        } else {
            ++strays;
        }
    }
}

class ShippedLanguageFile : public ::testing::TestWithParam<fs::path> {
  protected:
    std::wstring File() const { return GetParam().wstring(); }
    IniProfileFake profile;
};

TEST(LanguageFiles, TwoAreShipped) {
    std::vector<std::string> names;
    for (const fs::path &file : ShippedFiles())
        names.push_back(file.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"Chinese.ini", "English.ini"}));
}

TEST(LanguageFiles, EveryKeyTheCodeUsesIsKnown) {
    const std::set<int> used = KeysInSources();
    EXPECT_EQ(used.count(52), 1u) << "the scan finds the text keys";
    for (int key : used)
        EXPECT_EQ(kTextKeys.count(key), 1u) << "IDS_" << key << " is used but not listed here";
}

// A second file declaring a name already taken could never be chosen.
TEST(LanguageFiles, EachDeclaresItsOwnLanguage) {
    IniProfileFake profile;
    std::set<std::wstring> names;
    for (const fs::path &file : ShippedFiles()) {
        const std::wstring name = profile.GetString(file.wstring(), L"Setting", L"Language", 100);
        EXPECT_FALSE(name.empty()) << file;
        EXPECT_TRUE(names.insert(name).second) << file;
    }
}

TEST_P(ShippedLanguageFile, HasEveryTextWithItsPlaceholders) {
    for (int key : kTextKeys) {
        const std::wstring raw =
            profile.GetString(File(), L"String", L"IDS_" + std::to_wstring(key), 1000);
        const std::wstring text = LoadLangString(profile, L"IDS_" + std::to_wstring(key), File());
        SCOPED_TRACE("IDS_" + std::to_string(key));
        EXPECT_FALSE(text.empty());
        EXPECT_LT(raw.size(), 999u) << "cut by the 1000-character buffer";
        int strings = 0, strays = 0;
        CountPlaceholders(text, strings, strays);
        EXPECT_EQ(strings, kFormatKeys.count(key) ? 1 : 0);
        EXPECT_EQ(strays, 0);
        // A backslash left after decoding is a mistyped escape.
        EXPECT_EQ(text.find(L'\\'), std::wstring::npos) << EncodeUtf8(text);
    }
}

TEST_P(ShippedLanguageFile, HasTheMainWindowTextsButNoTitle) {
    for (int id : kMainWindowControls) {
        const std::wstring text =
            profile.GetString(File(), L"String", L"IDD102_" + std::to_wstring(id), 1000);
        EXPECT_FALSE(text.empty()) << "IDD102_" << id;
        EXPECT_EQ(text.find(L'%'), std::wstring::npos) << "IDD102_" << id;
        EXPECT_EQ(text.find(L'\\'), std::wstring::npos) << "IDD102_" << id; // shown raw
    }
    // Without a title text the window shows APPTITLE and the version.
    EXPECT_EQ(profile.GetString(File(), L"String", L"IDD102_TITLE", 1000), L"");
}

// Each button of the main window is reached with Alt and its own letter: one
// "&" before a letter, and no letter twice in the window. "..." (Browse) is
// reached by Tab; a screen reader names it.
TEST_P(ShippedLanguageFile, GivesEachButtonItsOwnMnemonic) {
    std::set<wchar_t> letters;
    for (int id : {1002, 1005, 1006}) {
        const std::wstring text =
            profile.GetString(File(), L"String", L"IDD102_" + std::to_wstring(id), 1000);
        SCOPED_TRACE("IDD102_" + std::to_string(id));
        const size_t amp = text.find(L'&');
        ASSERT_NE(amp, std::wstring::npos);
        EXPECT_EQ(text.find(L'&', amp + 1), std::wstring::npos);
        ASSERT_LT(amp + 1, text.size());
        const wchar_t letter = text[amp + 1];
        EXPECT_TRUE(iswalnum(letter) && letter < 0x80) << "Alt+" << static_cast<int>(letter);
        EXPECT_TRUE(letters.insert(static_cast<wchar_t>(towupper(letter))).second)
            << "repeated mnemonic";
    }
}

TEST_P(ShippedLanguageFile, HoldsNoKeyTheProgramDoesNotUse) {
    for (const auto &pair : profile.Section(File(), L"String")) {
        const std::wstring &key = pair.first;
        bool known = false;
        for (int n : kTextKeys)
            known = known || key == L"IDS_" + std::to_wstring(n);
        for (int n : kMainWindowControls)
            known = known || key == L"IDD102_" + std::to_wstring(n);
        EXPECT_TRUE(known) << EncodeUtf8(key);
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedLanguageFile, ::testing::ValuesIn(ShippedFiles()),
                         [](const ::testing::TestParamInfo<fs::path> &info) {
                             return info.param.stem().string();
                         });

// The Chinese file is UTF-16LE with a byte-order mark, so that the platform
// reads it the same under any ANSI code page.
TEST(LanguageFiles, ChineseIsUtf16WithByteOrderMark) {
    std::ifstream in(kSourceDir / "lang" / "Chinese.ini", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    IniProfileFake profile;
    const std::wstring file = (kSourceDir / "lang" / "Chinese.ini").wstring();
    EXPECT_EQ(profile.GetString(file, L"String", L"IDD102_1002", 1000), L"\x5347\x7EA7(&U)");
}

} // namespace
