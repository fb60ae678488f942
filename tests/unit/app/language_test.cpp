#include "base/language.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/fakes/ini_profile_fake.h"

namespace {

const std::wstring kFolder = L"C:\\QV\\Language";

class ListLanguagesTest : public ::testing::Test {
  protected:
    ListLanguagesTest() { files.AddFolder(kFolder); }
    void Add(const std::wstring &name, const std::wstring &text) {
        files.AddTextFile(kFolder + L"\\" + name, text);
    }
    std::vector<std::wstring> Listed(int capacity = kLanguageListCapacity,
                                     const std::wstring &folder = kFolder + L"\\") {
        std::vector<LANGUAGE_INFO> table(static_cast<size_t>(capacity));
        count = ListLanguages(table.data(), capacity, folder, files, profile);
        std::vector<std::wstring> out;
        for (int i = 0; i < count; ++i)
            out.push_back(std::wstring(table[i].name) + L"|" + table[i].path);
        return out;
    }

    FakeFileSystem files;
    IniProfileFake profile{files};
    int count = 0;
};

TEST_F(ListLanguagesTest, KeepsSearchOrderAndSkipsWhatIsNoLanguageFile) {
    Add(L"Zulu.ini", L"[Setting]\nLanguage=isiZulu\n");
    Add(L"English.ini", L"[String]\nIDS_50=Exit?\n");           // declares no language
    Add(L"Empty.ini", L"[Setting]\nLanguage=\n");               // empty name
    Add(L"readme.txt", L"[Setting]\nLanguage=Text\n");          // not *.ini
    files.AddFolder(kFolder + L"\\Old.ini");                    // a folder
    Add(L"Old.ini\\Inner.ini", L"[Setting]\nLanguage=Inner\n"); // not visited
    Add(L"Eng.INI", L"[setting]\nlanguage = English \n");
    EXPECT_EQ(Listed(), (std::vector<std::wstring>{L"isiZulu|C:\\QV\\Language\\Zulu.ini",
                                                   L"English|C:\\QV\\Language\\Eng.INI"}));
    EXPECT_EQ(files.calls.front(), L"FindFiles C:\\QV\\Language\\*.ini");
}

TEST_F(ListLanguagesTest, FolderWithOrWithoutBackslashGivesTheSamePattern) {
    Add(L"a.ini", L"[Setting]\nLanguage=A\n");
    const std::vector<std::wstring> withoutBackslash = Listed(kLanguageListCapacity, kFolder);
    EXPECT_EQ(withoutBackslash, Listed());
    ASSERT_EQ(files.calls.size(), 2u);
    EXPECT_EQ(files.calls[0], files.calls[1]);
}

TEST_F(ListLanguagesTest, NoFolderGivesAnEmptyList) {
    EXPECT_TRUE(Listed(kLanguageListCapacity, L"C:\\Elsewhere\\").empty());
}

// The list has room for 20 entries; a folder with more files must not write
// past its end.
TEST_F(ListLanguagesTest, StopsWhenTheTableIsFull) {
    for (int i = 0; i < 25; ++i)
        Add(L"lang" + std::to_wstring(i) + L".ini",
            L"[Setting]\nLanguage=L" + std::to_wstring(i) + L"\n");
    LANGUAGE_INFO table[kLanguageListCapacity + 1];
    wcscpy(table[kLanguageListCapacity].name, L"guard");
    EXPECT_EQ(ListLanguages(table, kLanguageListCapacity, kFolder, files, profile), 20);
    EXPECT_STREQ(table[19].name, L"L19");
    EXPECT_STREQ(table[kLanguageListCapacity].name, L"guard");
    EXPECT_EQ(ListLanguages(table, 0, kFolder, files, profile), 0);
}

// A path of 259 characters fits the table's field with its terminating zero;
// one of 260 would be cut into the name of another file.
TEST_F(ListLanguagesTest, PathOf259CharactersIsKeptAnd260Skipped) {
    const std::wstring prefix = kFolder + L"\\";
    const std::wstring fits = prefix + std::wstring(259 - prefix.size() - 4, L'a') + L".ini";
    const std::wstring over = prefix + std::wstring(260 - prefix.size() - 4, L'b') + L".ini";
    ASSERT_EQ(fits.size(), 259u);
    ASSERT_EQ(over.size(), 260u);
    files.AddTextFile(fits, L"[Setting]\nLanguage=Fits\n");
    files.AddTextFile(over, L"[Setting]\nLanguage=Over\n");
    EXPECT_EQ(Listed(), std::vector<std::wstring>{L"Fits|" + fits});
}

TEST_F(ListLanguagesTest, LongNamesAreCutAndOverlongPathsSkipped) {
    Add(L"long.ini", L"[Setting]\nLanguage=" + std::wstring(150, L'n') + L"\n");
    const std::wstring deep = kFolder + L"\\" + std::wstring(250, L'd') + L".ini";
    files.AddTextFile(deep, L"[Setting]\nLanguage=Deep\n");
    const std::vector<std::wstring> listed = Listed();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0], std::wstring(99, L'n') + L"|C:\\QV\\Language\\long.ini");
}

struct NameCase {
    const wchar_t *declared;
    const wchar_t *wanted;
    bool match;
};

class FindLanguageTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FindLanguageTest, ComparesWithoutRegardToCase) {
    LANGUAGE_INFO table[2] = {};
    wcscpy(table[0].name, L"Other");
    wcscpy(table[1].name, GetParam().declared);
    EXPECT_EQ(FindLanguage(table, 2, GetParam().wanted), GetParam().match ? 1 : -1)
        << EncodeUtf8(GetParam().declared) << " / " << EncodeUtf8(GetParam().wanted);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindLanguageTest,
    ::testing::Values(
        NameCase{L"English", L"english", true}, NameCase{L"English", L"ENGLISH", true},
        NameCase{L"English", L"English ", false}, NameCase{L"English", L"Englis", false},
        NameCase{L"Fran\x00E7"
                 L"ais",
                 L"FRAN\x00C7"
                 L"AIS",
                 true},
        NameCase{L"\x010C"
                 L"e\x0161tina",
                 L"\x010D"
                 L"E\x0160TINA",
                 true},
        NameCase{L"Polski \x0141\x017B", L"polski \x0142\x017C", true},
        NameCase{L"\x0420\x0443\x0441\x0441\x043A\x0438\x0439",
                 L"\x0440\x0423\x0421\x0421\x041A\x0418\x0419", true},
        // Ѐ..Џ fold to ѐ..џ, 80 code points on.
        NameCase{L"\x0400\x0402\x0408\x040F", L"\x0450\x0452\x0458\x045F", true},
        NameCase{L"\x0405\x0435", L"\x0455\x0415", true}, NameCase{L"\x0400", L"\x0420", false},
        NameCase{L"\x0395\x03BB\x03BB\x03B7\x03BD\x03B9\x03BA\x03AC",
                 L"\x03B5\x039B\x039B\x0397\x039D\x0399\x039A\x03AC", true},
        NameCase{L"\x7B80\x4F53\x4E2D\x6587", L"\x7B80\x4F53\x4E2D\x6587", true},
        NameCase{L"\x00D7", L"\x00F7", false}, // × and ÷ are no pair
        NameCase{L"@", L"`", false}));

TEST(FindLanguage, FirstMatchWinsAndAnEmptyListMatchesNothing) {
    LANGUAGE_INFO table[3] = {};
    wcscpy(table[0].name, L"Deutsch");
    wcscpy(table[1].name, L"English");
    wcscpy(table[2].name, L"ENGLISH");
    EXPECT_EQ(FindLanguage(table, 3, L"english"), 1);
    EXPECT_EQ(FindLanguage(table, 0, L"Deutsch"), -1);
}

struct EscapeCase {
    const wchar_t *raw;
    const wchar_t *decoded;
};

class EscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, DecodesTheFiveEscapesOnly) {
    EXPECT_EQ(DecodeLangEscapes(GetParam().raw), GetParam().decoded) << EncodeUtf8(GetParam().raw);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeTest,
    ::testing::Values(EscapeCase{L"plain", L"plain"}, EscapeCase{L"a\\nb", L"a\nb"},
                      EscapeCase{L"\\r\\n\\t", L"\r\n\t"},
                      EscapeCase{L"say \\\"hi\\\" \\'x\\'", L"say \"hi\" 'x'"},
                      EscapeCase{L"\\q\\N\\x", L"\\q\\N\\x"},
                      // A doubled backslash is no escape of its own.
                      EscapeCase{L"\\\\", L"\\\\"}, EscapeCase{L"\\\\n", L"\\\n"},
                      EscapeCase{L"\\\\\\n", L"\\\\\n"}, EscapeCase{L"end\\", L"end\\"},
                      // The passes run in order: \r first, so "\\rn" gives CR then n...
                      EscapeCase{L"\\\\rn", L"\\\rn"},
                      // ...and every pass reads left to right without overlapping matches.
                      EscapeCase{L"\\\\\"", L"\\\""}));

class LoadLangStringTest : public ::testing::Test {
  protected:
    void Write(const std::wstring &strings) {
        files.AddTextFile(file, L"[Setting]\nLanguage=Test\n[String]\n" + strings);
    }
    FakeFileSystem files;
    IniProfileFake profile{files};
    const std::wstring file = L"C:\\QV\\Language\\test.ini";
};

TEST_F(LoadLangStringTest, MissingFileKeyOrPathGivesAnEmptyText) {
    Write(L"IDS_50=Exit?\n");
    EXPECT_EQ(LoadLangString(profile, L"IDS_50", file), L"Exit?");
    EXPECT_EQ(LoadLangString(profile, L"IDS_49", file), L"");
    EXPECT_EQ(LoadLangString(profile, L"IDS_50", L"C:\\QV\\Language\\none.ini"), L"");
    const int readsBefore = profile.reads;
    EXPECT_EQ(LoadLangString(profile, L"IDS_50", L""), L"");
    EXPECT_EQ(profile.reads, readsBefore); // no file, no read at all
}

TEST_F(LoadLangStringTest, TextsHoldAtMost999Characters) {
    for (size_t length : {999u, 1000u, 5000u}) {
        Write(L"IDS_1=" + std::wstring(length, L'x') + L"\n");
        EXPECT_EQ(LoadLangString(profile, L"IDS_1", file).size(), 999u) << length;
    }
    // An escape cut in half by the limit keeps its backslash.
    Write(L"IDS_1=" + std::wstring(998, L'x') + L"\\n\n");
    EXPECT_EQ(LoadLangString(profile, L"IDS_1", file), std::wstring(998, L'x') + L"\\");
    // The limit applies to the raw text: escapes shorten what is shown.
    Write(L"IDS_1=" + std::wstring(997, L'x') + L"\\n\n");
    EXPECT_EQ(LoadLangString(profile, L"IDS_1", file), std::wstring(997, L'x') + L"\n");
}

TEST_F(LoadLangStringTest, LanguageFileTextsFollowsTheChosenFile) {
    Write(L"IDS_50=Exit?\n");
    std::wstring languageFile;
    LanguageFileTexts texts(profile, languageFile);
    EXPECT_EQ(texts.Text(L"IDS_50"), L"");
    languageFile = file;
    EXPECT_EQ(texts.Text(L"IDS_50"), L"Exit?");
    Write(L"IDS_50=Leave\\nnow?\n"); // nothing is cached
    EXPECT_EQ(texts.Text(L"IDS_50"), L"Leave\nnow?");
}

} // namespace
