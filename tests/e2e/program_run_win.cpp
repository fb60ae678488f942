#include "tests/e2e/program_run_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "res/resource.h"
#include "sim/image_format.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::wstring ThisProgramFolder() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// The temporary folder as it was when the tests began: each run points the
// program's TEMP elsewhere for a moment.
const std::wstring &TempBase() {
    static const std::wstring base = [] {
        wchar_t path[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, path);
        return std::wstring(path);
    }();
    return base;
}

std::wstring FreshFolder() {
    static int counter = 0;
    for (;;) {
        const std::wstring folder = TempBase() + L"qv-e2e-" +
                                    std::to_wstring(GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(++counter) + L"\\";
        if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return folder;
    }
}

std::wstring Environment(const wchar_t *name) {
    wchar_t value[32768];
    const DWORD length = GetEnvironmentVariableW(name, value, 32768);
    return length == 0 || length >= 32768 ? std::wstring() : std::wstring(value, length);
}

const char *IconName(Icon icon) {
    switch (icon) {
    case Icon::Error:
        return "error";
    case Icon::Exclamation:
        return "exclamation";
    case Icon::Information:
        return "information";
    case Icon::Question:
        return "question";
    default:
        return "none";
    }
}

std::string Narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// std::filesystem::copy copies nothing under Wine; the system's own calls do.
bool CopyTree(const std::wstring &from, const std::wstring &to) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CreateDirectoryW((to + name).c_str(), nullptr);
            ok = CopyTree(from + name + L"\\", to + name + L"\\") && ok;
        } else {
            ok = CopyFileW((from + name).c_str(), (to + name).c_str(), FALSE) && ok;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

void RemoveTree(const std::wstring &folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + name + L"\\");
            else
                DeleteFileW((folder + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void MakeFolders(const std::wstring &folder) {
    for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
         at = folder.find(L'\\', at + 1))
        CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
}

// Wine on a display without a window manager waits two seconds for every
// closing managed top-level window to be acknowledged by the manager that is
// not there: each message box would cost two seconds. The program's windows
// are left unmanaged while it starts (Wine reads the setting then), and the
// setting is taken away again so that the program run by a user on a real
// desktop from the same Wine prefix is managed as usual. On Windows there is
// nothing to do.
const wchar_t kWineProgramKey[] = L"Software\\Wine\\AppDefaults\\DeviceManager.exe";

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void LeaveProgramWindowsUnmanaged() {
    if (!UnderWine()) return;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER,
                        (std::wstring(kWineProgramKey) + L"\\X11 Driver").c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const wchar_t no[] = L"N";
    RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE *>(no), sizeof no);
    RegCloseKey(key);
}

void ManageProgramWindowsAgain() {
    if (UnderWine()) RegDeleteTreeW(HKEY_CURRENT_USER, kWineProgramKey);
}

} // namespace

fs::path DistFolder() {
    return fs::path(ThisProgramFolder()) / L".." / L"dist";
}

fs::path ScreenshotRoot() {
    const std::wstring chosen = Environment(L"QV_E2E_SCREENSHOTS");
    if (!chosen.empty()) return chosen;
    return fs::path(ThisProgramFolder()) / L".." / L".." / L"e2e-screenshots";
}

std::wstring DecodeEscapes(const std::wstring &text) {
    static const std::map<wchar_t, wchar_t> escapes = {
        {L'r', L'\r'}, {L'n', L'\n'}, {L't', L'\t'}, {L'"', L'"'}, {L'\'', L'\''}};
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size()) {
            const auto found = escapes.find(text[i + 1]);
            if (found != escapes.end()) {
                out += found->second;
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

ProgramRun::ProgramRun(const std::string &scenario, const ProgramSetup &setup)
    : m_scenario(scenario), m_folder(FreshFolder()) {
    // Screenshots of an earlier run of the scenario would mix with this one's.
    RemoveTree((ScreenshotRoot() / m_scenario).lexically_normal().wstring() + L"\\");
    EXPECT_TRUE(CopyTree(DistFolder().wstring() + L"\\", m_folder))
        << "copying the distribution folder " << DistFolder().string();
    m_benchFolder = m_folder + L"Bench";
    m_tempFolder = m_folder + L"Temp\\";
    CreateDirectoryW(m_tempFolder.c_str(), nullptr);
    m_languageFile = m_folder + L"Language\\English.ini";
    EXPECT_NE(GetFileAttributesW(m_languageFile.c_str()), INVALID_FILE_ATTRIBUTES);

    SetSystemSetting(L"APPTITLE", AppTitle());
    SetSystemSetting(L"LANGUAGE", L"English");
    SetSystemSetting(L"FIRMWARE", setup.withImage ? SampleImage() : L"");
    SetSystemSetting(L"ERASE_IDB", std::to_wstring(setup.eraseIdb));
    // The library's own log of every call, kept with the folder (QV_E2E_KEEP).
    EXPECT_TRUE(WritePrivateProfileStringW(L"DEBUG", L"PRINT_LOG", L"1",
                                           (m_folder + L"setting.ini").c_str()));

    m_bench = std::make_unique<qvsim::Bench>(fs::path(m_benchFolder));
    m_bench->UpdateSettings([&](qvsim::BenchSettings &s) {
        s.driverInstalled = setup.driverInstalled;
        if (setup.quickBench) {
            s.switchDelayMs = 0;
            s.resetDelayMs = 0;
            s.waitIntervalMs = 20;
            s.upgradeMs = 100;
            s.eraseMs = 50;
        }
    });
}

ProgramRun::~ProgramRun() {
    ManageProgramWindowsAgain();
    if (m_process.hProcess) {
        if (Running()) {
            ADD_FAILURE() << m_scenario << ": the program was still running at the end; terminated";
            TerminateProcess(m_process.hProcess, 99);
            WaitForSingleObject(m_process.hProcess, 5000);
        }
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    m_robot.reset();
    // QV_E2E_KEEP=1 keeps the folders, their bench log and library log.
    if (Environment(L"QV_E2E_KEEP") == L"1") {
        std::printf("kept %ls\n", m_folder.c_str());
        return;
    }
    // A file the ended program held may take a moment to be free.
    for (int attempt = 0; attempt < 20; ++attempt) {
        RemoveTree(m_folder);
        if (GetFileAttributesW(m_folder.c_str()) == INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
}

void ProgramRun::SetSystemSetting(const std::wstring &key, const std::wstring &value) {
    EXPECT_TRUE(WritePrivateProfileStringW(L"SYSTEM", key.c_str(), value.c_str(),
                                           (m_folder + L"setting.ini").c_str()));
}

bool ProgramRun::Start(bool waitForWindow) {
    LeaveProgramWindowsUnmanaged();
    const std::wstring savedBench = Environment(L"QVSIM_BENCH");
    const std::wstring savedTemp = Environment(L"TEMP");
    const std::wstring savedTmp = Environment(L"TMP");
    SetEnvironmentVariableW(L"QVSIM_BENCH", m_benchFolder.c_str());
    SetEnvironmentVariableW(L"TEMP", m_tempFolder.c_str());
    SetEnvironmentVariableW(L"TMP", m_tempFolder.c_str());

    std::wstring commandLine = L"\"" + m_folder + L"DeviceManager.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // Wine now and then refuses to start a program copied a moment ago
    // (an internal error, at once); a second try a little later starts it.
    bool started = false;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0) Sleep(500);
        started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 m_folder.c_str(), &startup, &m_process) != 0;
        if (!started) startError = GetLastError();
    }

    SetEnvironmentVariableW(L"QVSIM_BENCH", savedBench.empty() ? nullptr : savedBench.c_str());
    SetEnvironmentVariableW(L"TEMP", savedTemp.empty() ? nullptr : savedTemp.c_str());
    SetEnvironmentVariableW(L"TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
    if (!started) {
        ADD_FAILURE() << "DeviceManager.exe did not start, error " << startError;
        return false;
    }
    m_robot = std::make_unique<UiRobot>(m_process.dwProcessId);
    if (!waitForWindow) return true;
    const bool shown = m_robot->WaitForMainWindow(IDC_EXIT, milliseconds(30000)) != nullptr;
    ManageProgramWindowsAgain();
    if (!shown) ADD_FAILURE() << m_scenario << ": no main window";
    return shown;
}

bool ProgramRun::Running() const {
    return m_process.hProcess && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

std::wstring ProgramRun::Text(const wchar_t *key) const {
    wchar_t text[1000] = L"";
    GetPrivateProfileStringW(L"String", key, L"", text, 1000, m_languageFile.c_str());
    const std::wstring decoded = DecodeEscapes(text);
    EXPECT_FALSE(decoded.empty()) << "no text " << Narrow(key) << " in the language file";
    return decoded;
}

std::wstring ProgramRun::FailureText(int code) const {
    struct Row {
        const wchar_t *key;
        bool suffix;
    };
    static const std::map<int, Row> table = {
        {-1, {L"IDS_111", true}},   {-2, {L"IDS_112", true}},   {-3, {L"IDS_113", false}},
        {-4, {L"IDS_114", true}},   {-5, {L"IDS_115", true}},   {-6, {L"IDS_116", true}},
        {-7, {L"IDS_101", true}},   {-8, {L"IDS_117", true}},   {-9, {L"IDS_118", true}},
        {-10, {L"IDS_119", true}},  {-11, {L"IDS_121", false}}, {-12, {L"IDS_122", false}},
        {-13, {L"IDS_123", false}}, {-14, {L"IDS_124", true}},  {-15, {L"IDS_125", false}},
        {-16, {L"IDS_126", false}}, {-17, {L"IDS_127", false}}};
    const auto found = table.find(code);
    const Row row = found != table.end() ? found->second : Row{L"IDS_101", true};
    return Text(row.key) + (row.suffix ? Text(L"IDS_93") : std::wstring());
}

void ProgramRun::Shot(const std::string &name) {
    const fs::path folder = (ScreenshotRoot() / m_scenario).lexically_normal();
    MakeFolders(folder.wstring());
    char number[8];
    std::snprintf(number, sizeof number, "%02d-", ++m_shotCount);
    const fs::path file = folder / (std::string(number) + name + ".bmp");
    // The program's windows with a margin; the whole screen when none shows.
    RECT area = m_robot ? m_robot->WindowsArea() : RECT{0, 0, 0, 0};
    if (IsRectEmpty(&area)) {
        EXPECT_TRUE(UiRobot::SaveScreenshot(file.wstring())) << file.string();
    } else {
        InflateRect(&area, 10, 10);
        area.left = std::max(0L, area.left);
        area.top = std::max(0L, area.top);
        EXPECT_TRUE(UiRobot::SaveScreenshot(file.wstring(), area)) << file.string();
    }
    // The bench log then shows where each screenshot fell among the events.
    m_bench->Log("test: screenshot " + name);
}

bool ProgramRun::WaitForDevice(milliseconds timeout, bool withVersions) {
    UiRobot &robot = Robot();
    return UiRobot::WaitUntil(
        [&] {
            if (!robot.Enabled(IDC_UPGRADE) || robot.Text(IDC_DEVICE_NAME).empty()) return false;
            if (!withVersions) return true;
            // The watcher writes the two versions one after the other, each
            // over "N/A": both must be there.
            for (int field : {IDC_DEVICE_SW_VERSION, IDC_DEVICE_LOADER_VERSION}) {
                const std::wstring version = robot.Text(field);
                if (version.empty() || version == L"N/A") return false;
            }
            return true;
        },
        timeout);
}

bool ProgramRun::WaitForNoDevice(milliseconds timeout) {
    UiRobot &robot = Robot();
    const std::wstring none = Text(L"IDS_38");
    return UiRobot::WaitUntil(
        [&] {
            return robot.Text(IDC_STATUS_LINE) == none && !robot.Enabled(IDC_UPGRADE) &&
                   robot.Text(IDC_DEVICE_NAME).empty();
        },
        timeout);
}

bool ProgramRun::ExpectBox(MessageBoxInfo &box, const std::wstring &text,
                           const std::wstring &caption, Icon icon, bool yesNo,
                           const std::string &shot, milliseconds timeout) {
    if (!Robot().WaitForMessageBox(box, timeout)) {
        Shot(shot + "-missing");
        ADD_FAILURE() << m_scenario << ": no box \"" << Narrow(text) << "\"";
        return false;
    }
    Sleep(150); // let it paint for the screenshot
    Shot(shot);
    EXPECT_EQ(box.text, text) << m_scenario << " (" << shot << ")";
    EXPECT_EQ(box.caption, caption) << m_scenario << " (" << shot << ")";
    EXPECT_STREQ(IconName(box.icon), IconName(icon)) << m_scenario << " (" << shot << ")";
    EXPECT_EQ(box.hasYesNo, yesNo) << m_scenario << " (" << shot << ")";
    // Enter must never say Yes to a job or to leaving one: only the plain
    // exit question may default to Yes.
    if (yesNo) {
        const int safe = text == Text(L"IDS_50") ? IDYES : IDNO;
        EXPECT_EQ(box.defaultButton, safe) << m_scenario << " (" << shot << ")";
    }
    return true;
}

bool ProgramRun::ExpectAndAnswer(const std::wstring &text, const std::wstring &caption, Icon icon,
                                 bool yesNo, int answer, const std::string &shot,
                                 milliseconds timeout) {
    MessageBoxInfo box;
    if (!ExpectBox(box, text, caption, icon, yesNo, shot, timeout)) return false;
    // Whatever box it is, it must go, or the next steps would wait on it.
    Robot().Answer(box, box.hasYesNo ? answer : IDOK);
    m_bench->Log("test: answered " + std::to_string(box.hasYesNo ? answer : IDOK));
    return true;
}

bool ProgramRun::StartJob(int button, const std::string &shot) {
    Robot().Click(button);
    return ExpectAndAnswer(Text(button == IDC_UPGRADE ? L"IDS_88" : L"IDS_81"), AppTitle(),
                           Icon::Exclamation, true, IDYES, shot);
}

bool ProgramRun::ExpectFailure(int button, int code, const std::string &shot,
                               milliseconds timeout) {
    return ExpectAndAnswer(FailureText(code), Text(button == IDC_UPGRADE ? L"IDS_53" : L"IDS_54"),
                           Icon::Error, false, IDOK, shot, timeout);
}

bool ProgramRun::ExpectSuccess(int button, const std::string &shot, milliseconds timeout) {
    return ExpectAndAnswer(Text(button == IDC_UPGRADE ? L"IDS_21" : L"IDS_20"), AppTitle(),
                           Icon::Information, false, IDOK, shot, timeout);
}

void ProgramRun::ExitThroughButton(const std::wstring &question) {
    Robot().Click(IDC_EXIT);
    ExpectAndAnswer(question.empty() ? Text(L"IDS_50") : question, AppTitle(), Icon::Exclamation,
                    true, IDYES, "exit-question");
    EXPECT_EQ(WaitForEnd(milliseconds(15000)), 0u) << m_scenario << ": exit code";
}

DWORD ProgramRun::WaitForEnd(milliseconds timeout) {
    if (WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0) {
        Shot("hang");
        ADD_FAILURE() << m_scenario << ": the program did not end within " << timeout.count()
                      << " ms; terminated";
        TerminateProcess(m_process.hProcess, 99);
        WaitForSingleObject(m_process.hProcess, 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

std::vector<unsigned char> ReadAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

std::vector<unsigned char> SystemPayload(const std::wstring &imagePath) {
    qvsim::ImageHeader header;
    uint64_t size = 0;
    if (qvsim::ReadImageHeader(fs::path(imagePath), header, size) != qvsim::ImageError::None)
        return {};
    const std::vector<unsigned char> whole = ReadAll(fs::path(imagePath));
    if (whole.size() < header.systemOffset + header.systemLength) return {};
    return std::vector<unsigned char>(
        whole.begin() + static_cast<long>(header.systemOffset),
        whole.begin() + static_cast<long>(header.systemOffset + header.systemLength));
}

int CountOf(const std::string &text, const std::string &part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace e2e
