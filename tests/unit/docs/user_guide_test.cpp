// Keeps the user guide true to the program: every picture it names exists,
// every settings key the program reads is explained in it, and its verdict
// table says what the program's verdict boxes say, in the shipped English.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/settings_loader.h"
#include "base/language.h"
#include "device/device_context.h"
#include "device/job_codes.h"
#include "device/job_verdict.h"
#include "device/upgrade_job.h"
#include "records/job_database.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fakes/recording_view.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = QV_SOURCE_DIR;
const fs::path kGuide = kSourceDir / "docs" / "user-guide.md";

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Every section and key the reader was asked for in one file.
class KeyRecordingReader : public IProfileReader {
  public:
    KeyRecordingReader(IProfileReader &inner, std::wstring file)
        : m_inner(inner), m_file(std::move(file)) {}
    std::set<std::pair<std::wstring, std::wstring>> keys;

    std::wstring GetString(const std::wstring &file, const std::wstring &section,
                           const std::wstring &key, size_t bufferChars) override {
        if (file == m_file) keys.insert({section, key});
        return m_inner.GetString(file, section, key, bufferChars);
    }
    int GetInt(const std::wstring &file, const std::wstring &section, const std::wstring &key,
               int defaultValue) override {
        if (file == m_file) keys.insert({section, key});
        return m_inner.GetInt(file, section, key, defaultValue);
    }

  private:
    IProfileReader &m_inner;
    std::wstring m_file;
};

// The verdict texts as the guide's table cell shows them: one line, the
// box's line breaks as blanks.
std::string Cell(const std::wstring &text) {
    std::string cell = EncodeUtf8(text);
    cell = std::regex_replace(cell, std::regex("[\r\n]+"), " ");
    return cell;
}

// The cells of the verdict table's row for the code ("0", "-3", "other").
std::vector<std::string> RowFor(const std::vector<std::string> &lines, const std::string &code) {
    const std::string start = "| " + code + " |";
    for (const std::string &line : lines) {
        if (line.rfind(start, 0) != 0) continue;
        std::vector<std::string> cells;
        std::string cell;
        std::istringstream in(line.substr(1));
        while (std::getline(in, cell, '|')) {
            const size_t first = cell.find_first_not_of(' ');
            const size_t last = cell.find_last_not_of(' ');
            cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
        }
        return cells;
    }
    return {};
}

class UserGuideTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kGuide)) << kGuide;
        guide = ReadFile(kGuide);
        lines = Lines(guide);
    }
    std::string guide;
    std::vector<std::string> lines;
};

TEST_F(UserGuideTest, EveryPictureItNamesExists) {
    // Markdown pictures and HTML ones.
    const std::regex picture(R"re(!\[[^\]]*\]\(([^)\s]+)\)|<img[^>]*src="([^"]+)")re");
    int named = 0;
    for (std::sregex_iterator it(guide.begin(), guide.end(), picture), end; it != end; ++it) {
        const std::string target = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
        ++named;
        EXPECT_TRUE(fs::is_regular_file(kGuide.parent_path() / target))
            << "the guide shows " << target << ", which is not in docs/";
    }
    EXPECT_GE(named, 5) << "the guide shows the program in pictures";
}

TEST_F(UserGuideTest, EverySettingsKeyTheProgramReadsIsExplained) {
    // The program's own reading of a settings file: start-up and a repair.
    FakeFileSystem files;
    IniProfileFake disk{files};
    ProcessState state;
    state.g_programFolder = L"C:\\QV\\";
    const std::wstring settingsFile = state.g_programFolder + kSettingsFileName;
    KeyRecordingReader profile{disk, settingsFile};
    files.AddTextFile(settingsFile, L"[DEBUG]\nPRINT_LOG=1\n[SYSTEM]\nREPAIR_LOADER=1\n");
    Latin1TextCodec codec;
    FakeClock clock;
    Platform platform{profile, files, codec, clock};
    CIniFile ini{files, profile};
    fakes::FakeDeviceLibrary library;
    fakes::RecordingView view;
    LanguageFileTexts texts{profile, state.g_languageFile};
    ASSERT_EQ(LoadSettings(state, ini, platform, library, view, texts), LoadSettingsResult::Loaded);
    MainWindowModel model;
    WorkerGate gate;
    DeviceContext context{state, model, library, view, texts, platform, gate};
    RepairErasesIdb(context);
    // What the window and the station read for the job's records.
    ReadJobRecordPath(ini, state.g_programFolder);
    ReadJobDatabaseConnection(ini);
    ASSERT_GE(profile.keys.size(), 10u);

    for (const auto &[section, key] : profile.keys) {
        EXPECT_NE(guide.find("`[" + EncodeUtf8(section) + "]`"), std::string::npos)
            << "the guide does not name the section [" << EncodeUtf8(section) << "]";
        EXPECT_NE(guide.find("`" + EncodeUtf8(key) + "`"), std::string::npos)
            << "the guide does not explain the key " << EncodeUtf8(section) << "/"
            << EncodeUtf8(key);
    }
}

TEST_F(UserGuideTest, VerdictTableSaysWhatTheVerdictBoxesSay) {
    IniProfileFake disk;
    const std::wstring english = (kSourceDir / "lang" / "English.ini").wstring();
    LanguageFileTexts texts{disk, english};
    const std::wstring title = L"QV70 Device Manager";
    // What the table should hold, printed when it does not.
    std::string expected = "| code | message | what to do |\n|---|---|---|\n";
    auto expectRow = [&](const std::string &code, const std::string &text) {
        expected += "| " + code + " | " + text + " | ... |\n";
        const std::vector<std::string> row = RowFor(lines, code);
        ASSERT_GE(row.size(), 3u) << "no verdict row for " << code;
        EXPECT_EQ(row[1], text) << "verdict row " << code;
        EXPECT_FALSE(row[2].empty()) << "verdict row " << code << " says nothing to do";
    };

    expectRow("0", Cell(VerdictFor(texts, title, kModeUpgrade, kJobFinished).text) + " / " +
                       Cell(VerdictFor(texts, title, kModeRepair, kJobFinished).text));
    for (int32_t code = kJobSwitchFailed; code >= kJobInstallerTimedOut; --code)
        expectRow(std::to_string(code), Cell(VerdictFor(texts, title, kModeUpgrade, code).text));
    expectRow("other",
              Cell(VerdictFor(texts, title, kModeUpgrade, kJobInstallerTimedOut - 1).text));
    if (HasFailure()) std::printf("The verdict table as the program has it:\n%s", expected.c_str());
}

} // namespace
