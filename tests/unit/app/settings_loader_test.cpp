#include "app/settings_loader.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/language.h"
#include "base/text_keys.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/ini_profile_fake.h"

namespace {

std::string Narrow(const std::wstring &text) {
    return EncodeUtf8(text);
}

class LoadSettingsTest : public ::testing::Test {
  protected:
    LoadSettingsTest() { state.g_programFolder = L"C:\\QV\\"; }

    std::wstring SettingsPath() const { return state.g_programFolder + L"setting.ini"; }
    void WriteSettings(const std::wstring &text) { files.AddTextFile(SettingsPath(), text); }
    void AddLanguage(const std::wstring &fileName, const std::wstring &text) {
        files.AddFolder(state.g_programFolder + L"Language");
        files.AddTextFile(state.g_programFolder + L"Language\\" + fileName, text);
    }
    LoadSettingsResult Load() { return LoadSettings(state, ini, platform, library, view, texts); }

    ProcessState state;
    FakeFileSystem files;
    IniProfileFake profile{files};
    Latin1TextCodec codec;
    FakeClock clock;
    Platform platform{profile, files, codec, clock};
    CIniFile ini{files, profile};
    fakes::FakeDeviceLibrary library;
    fakes::RecordingView view;
    LanguageFileTexts texts{profile, state.g_languageFile};
};

TEST_F(LoadSettingsTest, MissingFileIsCreatedEmptyAndEveryDefaultHolds) {
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_TRUE(files.HasFile(SettingsPath()));
    EXPECT_EQ(files.Content(SettingsPath())->size(), 0u);
    const Settings &s = state.g_settings;
    EXPECT_EQ(s.DEVICE_ID_VID + s.DEVICE_ID_PID + s.MSC_ID_VID + s.MSC_ID_PID + s.ADB_ID_VID +
                  s.ADB_ID_PID,
              0);
    EXPECT_EQ(s.IMAGE_EXT_NAME, L"IMG");
    EXPECT_EQ(s.FIRMWARE + s.PARTITION + s.HOMEPAGE + s.DEVICE_ID_NAME + s.MSC_ID_NAME + s.APPTITLE,
              L"");
    EXPECT_EQ(state.g_libraryInitialized.load(), 0);
    EXPECT_EQ(state.g_supportUsb11.load(), 0);
    EXPECT_EQ(state.g_languageFile, L"");
    EXPECT_EQ(library.Calls(), std::vector<std::string>{"SetEraseUserSection 0"});
    EXPECT_TRUE(view.Boxes().empty());
}

TEST_F(LoadSettingsTest, UnopenableFileShowsTheFixedErrorAndStopsThere) {
    files.refuseOpen.insert(SettingsPath());
    AddLanguage(L"English.ini", L"[Setting]\nLanguage=English\n");
    ASSERT_EQ(Load(), LoadSettingsResult::SettingsUnavailable);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0],
              (fakes::ShownMessage{L"Failure to Load setting!", std::wstring(L"ERROR"),
                                   mb::kOk | mb::kIconError}));
    EXPECT_EQ(view.Boxes()[0].style, 0x10u); // MB_OK | MB_ICONHAND
    EXPECT_TRUE(library.Calls().empty());
    EXPECT_EQ(files.calls, (std::vector<std::wstring>{L"OpenForRead " + SettingsPath(),
                                                      L"HasAttributes " + SettingsPath(),
                                                      L"OpenForAppend " + SettingsPath()}));
    EXPECT_EQ(state.g_languageFile, L"");
}

TEST_F(LoadSettingsTest, IdentitiesTakeTheLowSixteenBitsOfEachHexValue) {
    WriteSettings(L"[DEVICE_ID]\nVID=0x1F\nPID=1F\n"
                  L"[MSC_ID]\nVID=2G7\nPID=\n"
                  L"[ADB_ID]\nVID=12345678901234567890\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    const Settings &s = state.g_settings;
    EXPECT_EQ(s.DEVICE_ID_VID, 31);
    EXPECT_EQ(s.DEVICE_ID_PID, 31);
    EXPECT_EQ(s.MSC_ID_VID, 2);
    EXPECT_EQ(s.MSC_ID_PID, 0);
    EXPECT_EQ(s.ADB_ID_VID, 0x7890);
    EXPECT_EQ(s.ADB_ID_PID, 0); // missing
}

TEST_F(LoadSettingsTest, EachIdentityComesFromItsOwnSectionAndKey) {
    WriteSettings(L"[adb_id]\npid=6\nvid=5\n[MSC_ID]\nPID=4\nVID=3\n[DEVICE_ID]\nPID=2\nVID=1\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    const Settings &s = state.g_settings;
    EXPECT_EQ((std::vector<int>{s.DEVICE_ID_VID, s.DEVICE_ID_PID, s.MSC_ID_VID, s.MSC_ID_PID,
                                s.ADB_ID_VID, s.ADB_ID_PID}),
              (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

// Every integer switch is on only at exactly 1.
struct SwitchCase {
    const wchar_t *value; // nullptr: key missing
    bool on;
};

class SwitchTest : public LoadSettingsTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTest, SwitchIsOnOnlyAtOne) {
    std::wstring system = L"[SYSTEM]\n", debug = L"[DEBUG]\n";
    if (GetParam().value != nullptr) {
        const std::wstring v = GetParam().value;
        system +=
            L"SUPPORTUSB11=" + v + L"\nREPAIR_LOADER=" + v + L"\nERASEUSERSECTION=" + v + L"\n";
        debug += L"PRINT_LOG=" + v + L"\n";
    }
    WriteSettings(system + debug);
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);

    const bool on = GetParam().on;
    std::vector<std::string> expected;
    if (on) {
        expected = {"DllInitialize", "SetLogPath C:\\QV\\Log", "SetLoaderRestoreFlag 1",
                    "SetEraseUserSection 1"};
    } else {
        expected = {"SetEraseUserSection 0"};
    }
    EXPECT_EQ(library.Calls(), expected);
    EXPECT_EQ(state.g_libraryInitialized.load(), on ? 1 : 0);
    EXPECT_EQ(state.g_supportUsb11.load(), on ? 1 : 0);
    EXPECT_EQ(files.HasFolder(L"C:\\QV\\Log"), on);
}

INSTANTIATE_TEST_SUITE_P(Values, SwitchTest,
                         ::testing::Values(SwitchCase{L"0", false}, SwitchCase{L"1", true},
                                           SwitchCase{L"2", false}, SwitchCase{L"abc", false},
                                           SwitchCase{L"", false}, SwitchCase{nullptr, false},
                                           SwitchCase{L"  1  ", true}, SwitchCase{L"-1", false}));

// Each switch alone, so that one read from another's key cannot pass.
TEST_F(LoadSettingsTest, EachSwitchIsReadFromItsOwnKey) {
    struct Case {
        const wchar_t *line;
        std::vector<std::string> calls;
        int usb11;
    } cases[] = {
        {L"[SYSTEM]\nSUPPORTUSB11=1\n", {"SetEraseUserSection 0"}, 1},
        {L"[SYSTEM]\nREPAIR_LOADER=1\n", {"SetLoaderRestoreFlag 1", "SetEraseUserSection 0"}, 0},
        {L"[SYSTEM]\nERASEUSERSECTION=1\n", {"SetEraseUserSection 1"}, 0},
        {L"[DEBUG]\nPRINT_LOG=1\n",
         {"DllInitialize", "SetLogPath C:\\QV\\Log", "SetEraseUserSection 0"},
         0},
        // The same keys in the other section count for nothing.
        {L"[DEBUG]\nSUPPORTUSB11=1\nREPAIR_LOADER=1\nERASEUSERSECTION=1\n[SYSTEM]\nPRINT_LOG=1\n",
         {"SetEraseUserSection 0"},
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(Narrow(c.line));
        library.ClearCalls(); // every value below is set afresh by each load
        WriteSettings(c.line);
        ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
        EXPECT_EQ(library.Calls(), c.calls);
        EXPECT_EQ(state.g_supportUsb11.load(), c.usb11);
    }
}

TEST_F(LoadSettingsTest, ExistingLogFolderIsNotCreatedAgain) {
    WriteSettings(L"[DEBUG]\nPRINT_LOG=1\n");
    files.AddFolder(L"C:\\QV\\Log");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    for (const std::wstring &call : files.calls)
        EXPECT_EQ(call.find(L"MakeDirectory"), std::wstring::npos) << Narrow(call);
    EXPECT_EQ(library.Calls()[1], "SetLogPath C:\\QV\\Log");
}

TEST_F(LoadSettingsTest, LogFolderThatCannotBeCreatedStillReachesTheLibrary) {
    WriteSettings(L"[DEBUG]\nPRINT_LOG=1\n");
    files.refuseCreate.insert(L"C:\\QV\\Log");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(library.Calls(), (std::vector<std::string>{"DllInitialize", "SetLogPath C:\\QV\\Log",
                                                         "SetEraseUserSection 0"}));
}

// A folder name outside the ANSI code page would reach the library as '?'
// characters: the library is initialised but gets no log folder.
TEST_F(LoadSettingsTest, LogFolderOutsideTheCodePageIsNotHandedOver) {
    state.g_programFolder = L"C:\\\x041F\x0440\x043E\x0433\\QV\\";
    WriteSettings(L"[DEBUG]\nPRINT_LOG=1\n[SYSTEM]\nAPPTITLE=Flasher\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(library.Calls(),
              (std::vector<std::string>{"DllInitialize", "SetEraseUserSection 0"}));
    EXPECT_EQ(state.g_libraryInitialized.load(), 1);
    EXPECT_EQ(state.g_settings.APPTITLE, L"Flasher");
}

TEST_F(LoadSettingsTest, LatinOneLogFolderIsHandedOverInTheCodePage) {
    state.g_programFolder = L"C:\\Caf\x00E9\\";
    WriteSettings(L"[DEBUG]\nPRINT_LOG=1\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(library.Calls()[1], "SetLogPath C:\\Caf\xE9\\Log");
}

TEST_F(LoadSettingsTest, TextsAreTakenOnlyWhenNotEmpty) {
    WriteSettings(L"[SYSTEM]\nFIRMWARE=\nPARTITION=12:34\nHOMEPAGE=http://example.com/qv\n"
                  L"IMAGE_EXT_NAME=\nAPPTITLE=QV Flasher\n"
                  L"[DEVICE_ID]\nNAME=QV70 Loader\n[MSC_ID]\nNAME=QV70 Disk\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    const Settings &s = state.g_settings;
    EXPECT_EQ(s.FIRMWARE, L"");
    EXPECT_EQ(s.PARTITION, L"12:34");
    EXPECT_EQ(s.HOMEPAGE, L"http://example.com/qv");
    EXPECT_EQ(s.IMAGE_EXT_NAME, L"IMG");
    EXPECT_EQ(s.APPTITLE, L"QV Flasher");
    EXPECT_EQ(s.DEVICE_ID_NAME, L"QV70 Loader");
    EXPECT_EQ(s.MSC_ID_NAME, L"QV70 Disk");
}

TEST_F(LoadSettingsTest, TextValuesHoldAtMost259Characters) {
    WriteSettings(L"[SYSTEM]\nIMAGE_EXT_NAME=bin\nAPPTITLE=" + std::wstring(400, L'T') + L"\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(state.g_settings.IMAGE_EXT_NAME, L"bin");
    EXPECT_EQ(state.g_settings.APPTITLE, std::wstring(259, L'T'));
}

TEST_F(LoadSettingsTest, LanguageMatchesWithoutRegardToCase) {
    AddLanguage(L"Deutsch.ini", L"[Setting]\nLanguage=Deutsch\n");
    AddLanguage(L"en.ini", L"[Setting]\nLanguage=English\n");
    WriteSettings(L"[SYSTEM]\nLANGUAGE=eNGLISH\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(state.g_languageFile, L"C:\\QV\\Language\\en.ini");
}

TEST_F(LoadSettingsTest, EmptyLanguageMeansEnglishAndTheFirstListedFileWins) {
    // The file named after the language but declaring none is no language file.
    AddLanguage(L"English.ini", L"[String]\nIDS_50=ignored\n");
    AddLanguage(L"b.ini", L"[Setting]\nLanguage=English\n");
    AddLanguage(L"a.ini", L"[Setting]\nLanguage=ENGLISH\n");
    WriteSettings(L"[SYSTEM]\nLANGUAGE=\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(state.g_languageFile, L"C:\\QV\\Language\\b.ini");
}

TEST_F(LoadSettingsTest, NoMatchingLanguageLeavesTheFileEmpty) {
    AddLanguage(L"Deutsch.ini", L"[Setting]\nLanguage=Deutsch\n");
    WriteSettings(L"[SYSTEM]\nLANGUAGE=Klingon\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(state.g_languageFile, L"");
    EXPECT_EQ(texts.Text(L"IDS_50"), L"");
}

TEST_F(LoadSettingsTest, MissingFirmwareIsReportedInTheChosenLanguageAndDropped) {
    AddLanguage(L"fr.ini", L"[Setting]\nLanguage=Fran\x00E7"
                           L"ais\n"
                           L"[String]\nIDS_52=Introuvable :\\n%s\n");
    WriteSettings(L"[SYSTEM]\nLANGUAGE=FRAN\x00C7"
                  L"AIS\nAPPTITLE=QV\n"
                  L"FIRMWARE=D:\\images\\gone.img\n");
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0],
              (fakes::ShownMessage{L"Introuvable :\nD:\\images\\gone.img", std::wstring(L"QV"),
                                   mb::kOk | mb::kIconExclamation}));
    EXPECT_EQ(state.g_settings.FIRMWARE, L"");
}

TEST_F(LoadSettingsTest, ExistingFirmwareFileOrFolderIsKeptSilently) {
    for (const std::wstring firmware : {L"D:\\images\\fw.img", L"D:\\images"}) {
        files.AddFile(L"D:\\images\\fw.img");
        state.g_settings.FIRMWARE.clear();
        WriteSettings(L"[SYSTEM]\nFIRMWARE=" + firmware + L"\n");
        ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
        EXPECT_EQ(state.g_settings.FIRMWARE, firmware);
    }
    EXPECT_TRUE(view.Boxes().empty());
}

TEST(CheckConfiguredFirmware, LanguageTextIsNeverAFormatOfItsOwn) {
    fakes::FakeTexts texts;
    texts.table[ids::kConfiguredFirmwareMissing] = L"%d%n%x %s %s %%";
    ProcessState state;
    state.g_settings.FIRMWARE = L"X:\\%s%n.img";
    state.g_settings.APPTITLE = L"";
    FakeFileSystem files;
    fakes::RecordingView view;
    CheckConfiguredFirmware(state, files, texts, view);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].text, L"%d%n%x X:\\%s%n.img  %");
    EXPECT_EQ(view.Boxes()[0].caption, std::optional<std::wstring>(L""));
}

// The program never writes the file: one it may not write is read all the same.
TEST_F(LoadSettingsTest, ReadOnlyFileIsReadAsItStands) {
    WriteSettings(L"[SYSTEM]\nAPPTITLE=Flasher\nSUPPORTUSB11=1\n");
    files.refuseOpen.insert(SettingsPath());
    ASSERT_EQ(Load(), LoadSettingsResult::Loaded);
    EXPECT_EQ(state.g_settings.APPTITLE, L"Flasher");
    EXPECT_EQ(state.g_supportUsb11.load(), 1);
    EXPECT_TRUE(view.Boxes().empty());
    for (const std::wstring &call : files.calls)
        EXPECT_EQ(call.find(L"OpenForAppend"), std::wstring::npos) << Narrow(call);
}

} // namespace
