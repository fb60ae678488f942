// The settings loader on real files read by the platform's profile functions,
// with the shipped language files.
// First: see platform_win.h.
#include "base/platform_win.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "app/settings_loader.h"
#include "base/language.h"
#include "tests/fakes/device_fakes.h"
#include "tests/win32/app/temp_folder_win.h"

namespace {

// The build copies the shipped language files beside the test program.
std::wstring ShippedLanguageFolder() {
    wchar_t module[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder = module;
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"app_test_lang\\";
}

class SettingsWinTest : public ::testing::Test {
  protected:
    explicit SettingsWinTest(const std::wstring &leaf = L"") : folder(leaf) {
        state.g_programFolder = folder.Path();
    }
    void InstallLanguages() {
        const std::wstring target = folder.Path() + L"Language\\";
        CreateDirectoryW(target.c_str(), nullptr);
        for (const wchar_t *name : {L"English.ini", L"Chinese.ini"})
            ASSERT_TRUE(CopyFileW((ShippedLanguageFolder() + name).c_str(), (target + name).c_str(),
                                  FALSE));
    }
    LoadSettingsResult Load() { return LoadSettings(state, ini, platform, library, view, texts); }

    TempFolder folder;
    ProcessState state;
    ProfileReaderWin profile;
    FileSystemWin files;
    TextCodecWin codec;
    ClockWin clock;
    Platform platform{profile, files, codec, clock};
    CIniFile ini{files, profile};
    fakes::FakeDeviceLibrary library;
    fakes::RecordingView view;
    LanguageFileTexts texts{profile, state.g_languageFile};
};

TEST_F(SettingsWinTest, MissingSettingsFileIsCreatedAndEnglishIsChosen) {
    InstallLanguages();
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_NE(GetFileAttributesW((folder.Path() + L"setting.ini").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(state.g_languageFile, folder.Path() + L"Language\\English.ini");
    EXPECT_EQ(state.g_settings.IMAGE_EXT_NAME, L"IMG");
    EXPECT_EQ(library.Calls(), std::vector<std::string>{"SetEraseUserSection 0"});
    // Quotes in the file keep the blank that ends the About box title.
    EXPECT_EQ(texts.Text(L"IDS_83"), L"About ");
    EXPECT_EQ(texts.Text(L"IDS_93").substr(0, 2), L"\n\n");
}

TEST_F(SettingsWinTest, UnicodeSettingsChooseTheChineseFileInAnyCase) {
    InstallLanguages();
    ASSERT_TRUE(TempFolder::WriteUtf16(
        folder.Path() + L"setting.ini",
        L"[system]\r\nlanguage = chinese\r\nAPPTITLE = \x5347\x7EA7\x5DE5\x5177 \r\n"
        L"FIRMWARE=" +
            folder.Path() +
            L"\x56FA\x4EF6.img\r\n"
            L"[Device_Id]\r\nVid = 0x2207\r\nPID=310B\r\n"));
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(state.g_languageFile, folder.Path() + L"Language\\Chinese.ini");
    EXPECT_EQ(state.g_settings.APPTITLE, L"\x5347\x7EA7\x5DE5\x5177");
    EXPECT_EQ(state.g_settings.DEVICE_ID_VID, 0x2207);
    EXPECT_EQ(state.g_settings.DEVICE_ID_PID, 0x310B);
    // The firmware file does not exist: the warning is in Chinese and names it.
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_NE(view.Boxes()[0].text.find(folder.Path() + L"\x56FA\x4EF6.img"), std::wstring::npos);
    EXPECT_EQ(view.Boxes()[0].text.find(L"%s"), std::wstring::npos);
    EXPECT_EQ(view.Boxes()[0].caption, std::optional<std::wstring>(L"\x5347\x7EA7\x5DE5\x5177"));
    EXPECT_EQ(state.g_settings.FIRMWARE, L"");
    EXPECT_EQ(texts.Text(L"IDD102_1002"), L"\x5347\x7EA7(&U)");
}

// The platform cuts a value to its buffer; a firmware path cut so names
// another file, which exists. It is refused as missing, never inspected.
TEST_F(SettingsWinTest, FirmwarePathCutByTheBufferIsRefusedAsMissing) {
    InstallLanguages();
    const std::wstring cut = folder.Path() + std::wstring(259 - folder.Path().size(), L'f');
    ASSERT_EQ(cut.size(), 259u);
    ASSERT_TRUE(TempFolder::WriteBytes(cut, "another image"));
    ASSERT_TRUE(TempFolder::WriteUtf16(folder.Path() + L"setting.ini",
                                       L"[SYSTEM]\r\nFIRMWARE=" + cut + L"-v2.img\r\n"));
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_NE(view.Boxes()[0].text.find(cut), std::wstring::npos);
    EXPECT_EQ(view.Boxes()[0].style, static_cast<unsigned>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(state.g_settings.FIRMWARE, L"");
}

// A translation for an older version: what it lacks comes from the shipped
// English file of the program folder.
TEST_F(SettingsWinTest, KeysMissingFromTheChosenFileComeFromEnglish) {
    InstallLanguages();
    ASSERT_TRUE(TempFolder::WriteUtf16(folder.Path() + L"Language\\Old.ini",
                                       L"[Setting]\r\nLanguage=Old\r\n[String]\r\n"
                                       L"IDS_38=\x6CA1\x6709\r\n"));
    ASSERT_TRUE(
        TempFolder::WriteBytes(folder.Path() + L"setting.ini", "[SYSTEM]\r\nLANGUAGE=old\r\n"));
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    LanguageFileTexts withEnglish{profile, state.g_languageFile, state.g_programFolder};
    EXPECT_EQ(withEnglish.Text(L"IDS_38"), L"\x6CA1\x6709");
    const std::wstring english = folder.Path() + L"Language\\English.ini";
    EXPECT_EQ(withEnglish.Text(L"IDS_88"), LoadLangString(profile, L"IDS_88", english));
    EXPECT_FALSE(withEnglish.Text(L"IDS_88").empty());
}

TEST_F(SettingsWinTest, SettingsFileThatCannotBeCreatedStopsTheStart) {
    state.g_programFolder = folder.Path() + L"not there\\";
    ASSERT_EQ(Load(), LoadSettingsResult::SettingsUnavailable);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].text, L"Failure to Load setting!");
    EXPECT_EQ(view.Boxes()[0].caption, std::optional<std::wstring>(L"ERROR"));
    EXPECT_EQ(view.Boxes()[0].style, static_cast<unsigned>(MB_OK | MB_ICONHAND));
    EXPECT_TRUE(library.Calls().empty());
}

class NonAnsiFolderTest : public SettingsWinTest {
  protected:
    NonAnsiFolderTest() : SettingsWinTest(L"_\x4E2D\x6587") {}
};

// The settings are read from a folder whose name the code page cannot hold;
// the log folder is made there, but the library is not given a mangled path.
TEST_F(NonAnsiFolderTest, LogPathOutsideTheCodePageIsNotHandedOver) {
    if (GetACP() == CP_UTF8) GTEST_SKIP() << "every path converts in UTF-8";
    ASSERT_TRUE(TempFolder::WriteBytes(folder.Path() + L"setting.ini",
                                       "[DEBUG]\r\nPRINT_LOG=1\r\n[SYSTEM]\r\nAPPTITLE=QV\r\n"));
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(state.g_settings.APPTITLE, L"QV");
    EXPECT_NE(GetFileAttributesW((folder.Path() + L"Log").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(library.Calls(),
              (std::vector<std::string>{"DllInitialize", "SetEraseUserSection 0"}));
    EXPECT_EQ(state.g_libraryInitialized.load(), 1);
}

TEST_F(SettingsWinTest, LogFolderIsHandedOverInTheCodePage) {
    ASSERT_TRUE(
        TempFolder::WriteBytes(folder.Path() + L"setting.ini", "[debug]\r\nprint_log = 1 \r\n"));
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    ASSERT_EQ(library.Calls().size(), 3u);
    std::string expected;
    ASSERT_TRUE(codec.ToAnsi(folder.Path() + L"Log", expected));
    EXPECT_EQ(library.Calls()[1], "SetLogPath " + expected);
}

// The platform itself reads every text of each shipped file, whatever its
// encoding, and finds the same keys in all of them.
TEST(ShippedLanguageFiles, ThePlatformReadsEveryText) {
    ProfileReaderWin profile;
    for (const std::string name : {"English.ini", "Chinese.ini"}) {
        SCOPED_TRACE(name);
        const std::wstring file = ShippedLanguageFolder() + std::wstring(name.begin(), name.end());
        std::vector<wchar_t> section(64 * 1024);
        const DWORD length = GetPrivateProfileSectionW(
            L"String", section.data(), static_cast<DWORD>(section.size()), file.c_str());
        ASSERT_LT(length, section.size() - 2);
        int texts = 0;
        for (const wchar_t *entry = section.data(); *entry != L'\0'; entry += wcslen(entry) + 1) {
            const std::wstring line = entry;
            const std::wstring key = line.substr(0, line.find(L'='));
            if (key.rfind(L"IDS_", 0) != 0 && key.rfind(L"IDD102_", 0) != 0) continue;
            ++texts;
            EXPECT_FALSE(profile.GetString(file, L"String", key, 1000).empty());
        }
        // The window's 56 texts, the 4 screen-reader names, the station's 8,
        // the 3 of the record's and the database's outboxes, the 6 of the
        // waits and of a call that does not return, the 11 control texts, the
        // 5 of the records' queue listed, the 2 of a pass not verified and a
        // device already done, the 22 of the station at a glance, the 10 of
        // a record file imported and the 1 of rows without some columns.
        EXPECT_EQ(texts, 56 + 4 + 8 + 3 + 6 + 11 + 5 + 2 + 22 + 10 + 1);
    }
}

} // namespace
