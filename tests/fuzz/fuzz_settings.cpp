// The settings loader over any settings text, read through the profile fake
// as the platform's profile functions read it, with one language file whose
// text comes from the input too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings_loader.h"
#include "base/ini_file.h"
#include "base/language.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const std::wstring kFolder = L"C:\\QV\\";
constexpr size_t kLongestText = 259;

bool ShortEnough(const std::wstring &text) {
    return text.size() <= kLongestText;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Settings, then after the first zero byte a language file.
    const std::string bytes = fuzz::BytesFrom(data, size);
    const size_t zero = bytes.find('\0');
    const std::string settings = bytes.substr(0, zero);
    const std::string language = zero == std::string::npos ? "" : bytes.substr(zero + 1);

    FakeFileSystem files;
    IniProfileFake profile{files};
    Latin1TextCodec codec;
    FakeClock clock;
    Platform platform{profile, files, codec, clock};
    files.AddFile(kFolder + L"setting.ini", settings);
    files.AddFile(kFolder + L"Language\\English.ini", "[Setting]\nLanguage=English\n");
    files.AddFile(kFolder + L"Language\\Other.ini", language);
    files.AddFile(L"D:\\fw.img", "image");
    // Whatever a FIRMWARE value too long for its buffer would name when cut
    // exists: a cut path must still never be taken.
    const std::wstring whole =
        profile.GetString(kFolder + L"setting.ini", L"SYSTEM", L"FIRMWARE", 1 << 16);
    if (whole.size() >= kLongestText) files.AddFile(whole.substr(0, kLongestText), "other image");

    ProcessState state;
    state.g_programFolder = kFolder;
    CIniFile ini{files, profile};
    fakes::FakeDeviceLibrary library;
    fakes::RecordingView view;
    LanguageFileTexts texts{profile, state.g_languageFile, state.g_programFolder};
    FUZZ_CHECK(LoadSettings(state, ini, platform, library, view, texts) ==
               LoadSettingsResult::Loaded);

    const Settings &s = state.g_settings;
    for (const std::wstring *text : {&s.FIRMWARE, &s.PARTITION, &s.HOMEPAGE, &s.IMAGE_EXT_NAME,
                                     &s.DEVICE_ID_NAME, &s.MSC_ID_NAME, &s.APPTITLE})
        FUZZ_CHECK(ShortEnough(*text));
    FUZZ_CHECK(!s.IMAGE_EXT_NAME.empty());
    // A firmware path is kept only whole and only when it names something.
    FUZZ_CHECK(s.FIRMWARE.empty() ||
               (s.FIRMWARE.size() < kLongestText && files.HasAttributes(s.FIRMWARE)));
    FUZZ_CHECK(view.Boxes().size() <= 1);
    // Every identity is the low 16 bits of the value as the program's own
    // parser reads it from a 64-character buffer.
    const std::wstring path = kFolder + L"setting.ini";
    FUZZ_CHECK(s.DEVICE_ID_VID ==
               (ParseHex(profile.GetString(path, L"DEVICE_ID", L"VID", 64)) & 0xFFFF));
    FUZZ_CHECK(s.ADB_ID_PID == (ParseHex(profile.GetString(path, L"ADB_ID", L"PID", 64)) & 0xFFFF));
    // The language is one of the folder's files or none.
    const std::wstring &chosen = state.g_languageFile;
    FUZZ_CHECK(chosen.empty() || chosen == kFolder + L"Language\\English.ini" ||
               chosen == kFolder + L"Language\\Other.ini");
    // Every text is whole or empty, never longer than a text may be.
    for (const wchar_t *key : {L"IDS_52", L"IDS_88", L"IDS_30"})
        FUZZ_CHECK(texts.Text(key).size() <= 999);
    return 0;
}
