#include "main_window_harness_win.h"

#include <gtest/gtest.h>

#include "app/settings_loader.h"

namespace {
MainWindowHarness *g_running = nullptr;
constexpr UINT kStagePeriodMs = 60;
constexpr DWORD kCloseTimeoutMs = 5000;
} // namespace

const wchar_t *const kTestStrings = L"IDS_39=About %s...\r\n"
                                    L"IDS_40=Checking the firmware\r\n"
                                    L"IDS_38=No device\r\n"
                                    L"IDS_41=Connect a device\r\n"
                                    L"IDS_49=A job runs. Exit anyway?\r\n"
                                    L"IDS_50=Exit the program?\r\n"
                                    L"IDS_83=\"About \"\r\n"
                                    L"IDS_84=Version\r\n"
                                    L"IDD102_1002=Up\r\n"
                                    L"IDD102_1006=Fix\r\n"
                                    L"IDD102_1005=Leave\r\n"
                                    L"IDD102_1019=Image\r\n"
                                    L"IDD102_1021=Device name\r\n"
                                    L"IDD102_1027=not for edit fields\r\n"
                                    L"IDD102_1034=Boot:\r\n";

MainWindowHarness::MainWindowHarness() {
    CreateDirectoryW((folder.Path() + L"Language").c_str(), nullptr);
    WriteSettings(L"APPTITLE=Test Manager\r\nLANGUAGE=Test\r\n");
    WriteLanguage(kTestStrings);
}

void MainWindowHarness::WriteSettings(const std::wstring &systemKeys,
                                      const std::wstring &moreSections) {
    WriteUtf16File(folder.Path() + L"setting.ini", L"[SYSTEM]\r\n" + systemKeys + moreSections);
}

void MainWindowHarness::WriteLanguage(const std::wstring &strings) {
    WriteUtf16File(folder.Path() + L"Language\\Test.ini",
                   L"[Setting]\r\nLanguage=Test\r\n[String]\r\n" + strings);
}

void MainWindowHarness::Run(std::vector<Stage> stages) {
    MainDialogServices services(state, library, platform.platform, gate, LoadWindowSettings);
    services.programFolder = folder.Path();
    services.runSplash = runSplash;
    services.messageBox = [this](HWND owner, const std::wstring &text, const std::wstring &caption,
                                 unsigned style) {
        return boxes.Show(owner, text, caption, style);
    };
    services.endProcess = [this](int code) { endProcessCode = code; };
    CDeviceManagerDlg window(services);
    m_window = &window;
    m_stages = std::move(stages);
    m_next = 0;
    m_started = false;
    m_closeRequested = 0;
    g_running = this;
    const UINT_PTR timer = SetTimer(nullptr, 0, kStagePeriodMs, Tick);
    const INT_PTR result = window.DoModal();
    KillTimer(nullptr, timer);
    g_running = nullptr;
    m_window = nullptr;
    if (expectExitProcedure) {
        EXPECT_EQ(result, IDCANCEL);
    }
    closedByExit = result == IDCANCEL;
}

void CALLBACK MainWindowHarness::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (g_running) g_running->Step();
}

void MainWindowHarness::Step() {
    // A stage may pump messages (a nested box, an About box): no stage runs
    // inside another.
    if (m_busy || !m_window || !m_window->GetSafeHwnd()) return;
    // The first tick may come while the window is still being made, before
    // its start timer has run: the stages begin one period later.
    if (!m_started) {
        m_started = true;
        return;
    }
    m_busy = true;
    if (m_next < m_stages.size()) {
        const size_t current = m_next++;
        m_stages[current](*m_window);
    } else if (!m_closeRequested) {
        m_closeRequested = GetTickCount();
        boxes.answers.assign(1, IDYES);
        PostMessageW(m_window->GetSafeHwnd(), WM_CLOSE, 0, 0);
    } else if (GetTickCount() - m_closeRequested > kCloseTimeoutMs) {
        ADD_FAILURE() << "the main window did not close through its exit procedure";
        m_window->EndDialog(-2);
    }
    m_busy = false;
}
