#include "ui/main_dialog_win.h"

#include <commdlg.h>

#include <cstring>
#include <utility>

#include "base/dialog_texts_win.h"
#include "base/program_file_win.h"
#include "base/text_format.h"
#include "base/text_keys.h"
#include "commands/elapsed_time.h"
#include "commands/exit_procedure.h"
#include "commands/firmware_selection.h"
#include "commands/job_commands.h"
#include "commands/start_tick.h"
#include "controls/accessible_name_win.h"
#include "controls/dpi_win.h"
#include "device/device_watcher.h"
#include "device/firmware_check.h"
#include "device/job_start.h"
#include "device/job_verdict.h"
#include "device/message_pump_win.h"
#include "device/upgrade_job.h"
#include "res/resource.h"
#include "ui/about_dialog_win.h"
#include "ui/picture_win.h"
#include "ui/splash_dialog_win.h"

namespace {

constexpr int kTitleX = 20;
constexpr int kTitleY = 10;
constexpr int kTitleWidth = 150;
constexpr int kTitleHeight = 54;

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kDarkGreen = RGB(0, 127, 0);
constexpr int kBusyBlocks = 12;
constexpr UINT kBusyPeriodMs = 100;

} // namespace

CDeviceManagerDlg::CDeviceManagerDlg(MainDialogServices services)
    : CDialog(IDD_DEVICEMANAGER_DIALOG, nullptr), m_services(std::move(services)),
      m_state(m_services.state),
      m_settingsFile(m_services.platform.files, m_services.platform.profile),
      m_texts(m_services.platform.profile, m_state.g_languageFile, m_state.g_programFolder),
      m_recorder(m_services.platform.clock), m_ctx(MakeCommandContext()) {
    m_icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    m_events.AddListener(m_recorder);
    m_recorder.SetComputer(m_recordStore.ComputerName());
}

CDeviceManagerDlg::~CDeviceManagerDlg() {
    // The program ends its process before this runs. Elsewhere (a test) the
    // workers use this object until they have seen the closed gate.
    if (m_services.gate.IsClosed()) m_workers.WaitAll(kExitWaitMs + 2000);
    if (m_titlePicture) DeleteObject(m_titlePicture);
}

CommandContext CDeviceManagerDlg::MakeCommandContext() {
    DeviceContext device{
        m_state, m_model, m_services.library, *this, m_texts, m_services.platform, m_services.gate};
    device.events = &m_events;
    device.watch = &m_jobWatch;
    return CommandContext{device, *this, PumpSentMessages,
                          [this](uint32_t milliseconds) { PumpMessages(milliseconds); },
                          kWatchIdleWaitMs};
}

// ---------------------------------------------------------------------------
// ICommandHost

bool CDeviceManagerDlg::StartJob(JobMode mode) {
    TellJobStarted(m_ctx, mode, m_jobIds, m_recordStore, [this](std::function<void()> task) {
        return m_workers.RunShortTask(std::move(task));
    });
    return StartWatchedJob(
        m_jobWatch, m_services.platform.clock.TickMs(),
        [this](std::function<void()> body) { return m_workers.Start(std::move(body)); },
        [this, mode] { UpgradeThread(m_ctx, m_processRunner, m_systemInfo, mode); });
}

bool CDeviceManagerDlg::StartWatcher() {
    return m_workers.Start([this] { DeviceWatchThread(m_ctx); });
}

bool CDeviceManagerDlg::InspectImage(const std::wstring &path) {
    return InspectFirmware(m_ctx, path);
}

// ---------------------------------------------------------------------------
// IMainView

void CDeviceManagerDlg::SetItemText(int controlId, const std::wstring &text) {
    SetDlgItemTextW(m_viewWindow.load(), controlId, text.c_str());
}

void CDeviceManagerDlg::EnableItem(int controlId, bool enable) {
    HWND window = m_viewWindow.load();
    if (window) EnableWindow(::GetDlgItem(window, controlId), enable ? TRUE : FALSE);
}

int CDeviceManagerDlg::ShowMessage(const std::wstring &text,
                                   const std::optional<std::wstring> &caption, unsigned style) {
    // Without a caption of its own a box shows the application's name; the
    // system would show "Error".
    const std::wstring shownCaption = caption ? *caption : ApplicationName();
    HWND owner = m_viewWindow.load();
    if (m_services.messageBox) return m_services.messageBox(owner, text, shownCaption, style);
    return MessageBoxW(owner, text.c_str(), shownCaption.c_str(), style);
}

// The busy bar is driven from the UI thread only (the commands and the
// verdict), so its C++ object may be used here.
void CDeviceManagerDlg::StartBusy() {
    m_busyBar.StartAnimation();
}
void CDeviceManagerDlg::StopBusy() {
    m_busyBar.StopAnimation();
}

void CDeviceManagerDlg::ResetBusy() {
    m_busyBar.SetPos(0);
    if (m_busyBar.Handle()) InvalidateRect(m_busyBar.Handle(), nullptr, TRUE);
}

void CDeviceManagerDlg::StartTimer(int timerId, unsigned periodMs) {
    SetTimer(m_viewWindow.load(), static_cast<UINT_PTR>(timerId), periodMs, nullptr);
}

void CDeviceManagerDlg::StopTimer(int timerId) {
    KillTimer(m_viewWindow.load(), static_cast<UINT_PTR>(timerId));
}

void CDeviceManagerDlg::PostUpgradeResult(int mode, int resultCode) {
    PostMessageW(m_viewWindow.load(), WM_UPGRADE_RESULT, static_cast<WPARAM>(mode),
                 static_cast<LPARAM>(resultCode));
}

// ---------------------------------------------------------------------------
// Initialisation

void CDeviceManagerDlg::DoDataExchange() {
    m_homePageLink.Attach(GetDlgItem(IDC_HOMEPAGE_LINK));
    m_deviceNameLabel.Attach(GetDlgItem(IDC_DEVICE_NAME));
    m_statusLine.Attach(GetDlgItem(IDC_STATUS_LINE));
    m_detailLine.Attach(GetDlgItem(IDC_DETAIL_LINE));
    m_busyBar.Attach(GetDlgItem(IDC_BUSY_BAR));
    const int versionIds[] = {IDC_IMAGE_SW_VERSION, IDC_IMAGE_LOADER_VERSION, IDC_DEVICE_SW_VERSION,
                              IDC_DEVICE_LOADER_VERSION};
    for (size_t i = 0; i < sizeof versionIds / sizeof versionIds[0]; ++i)
        m_versionFields[i].Attach(GetDlgItem(versionIds[i]));
}

BOOL CDeviceManagerDlg::OnInitDialog() {
    DoDataExchange();
    // Boxes of the settings loader are owned by this window already.
    m_viewWindow = m_hwnd;

    m_state.g_programFolder =
        m_services.programFolder.empty() ? ProgramFolder() : m_services.programFolder;
    if (!m_services.loadSettings(m_state, m_settingsFile, m_services.platform, m_services.library,
                                 *this, m_texts)) {
        // The box has been shown; nothing of the program may run on.
        if (m_services.endProcess)
            m_services.endProcess(1);
        else
            ExitProcess(1);
        EndDialog(IDABORT);
        return TRUE;
    }

    m_recorder.SetOperator(ReadOperatorSetting(m_settingsFile));
    m_recorder.SetVerifyVersion(ReadVerifyVersion(m_settingsFile));
    OpenRecord(ReadJobRecordPath(m_settingsFile, m_state.g_programFolder));
    OpenDatabase(ReadJobDatabaseConnection(m_settingsFile));
    AddAboutItem();
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    if (m_services.runSplash) {
        CSplashDlg splash(m_hwnd);
        splash.DoModal();
    }

    EnableItem(IDC_UPGRADE, false);
    EnableItem(IDC_REPAIR, false);

    m_detailLine.SetTextColor(kBlue);
    m_statusLine.SetTextColor(kBlue);
    m_deviceNameLabel.SetTextColor(kDarkGreen);
    m_busyBar.SetBlockCount(kBusyBlocks);
    m_busyBar.RecalcLayout();
    m_busyBar.SetPeriod(kBusyPeriodMs);

    m_titlePicture = static_cast<HBITMAP>(LoadImageW(nullptr, L"Title.BMP", IMAGE_BITMAP, 0, 0,
                                                     LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (!m_titlePicture)
        m_titleStandIn.Show(GetDlgItem(IDC_TITLE_PICTURE), IDB_TITLE, DpiForWindow(m_hwnd));

    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    m_state.g_tempFolder = temp;
    if (m_state.g_tempFolder.empty() || m_state.g_tempFolder.back() != L'\\')
        m_state.g_tempFolder += L'\\';

    SetWindowTitle();
    const Settings &s = m_state.g_settings;
    m_services.library.SetVidPid(s.DEVICE_ID_VID, s.DEVICE_ID_PID, s.MSC_ID_VID, s.MSC_ID_PID,
                                 s.ADB_ID_VID, s.ADB_ID_PID);

    if (!s.HOMEPAGE.empty()) {
        m_homePageLink.SetText(s.HOMEPAGE);
        m_homePageLink.SetURL(s.HOMEPAGE);
    }
    // English first, so that a control the chosen file has no text for shows
    // the shipped English one, as every other text does.
    const std::wstring english = m_state.g_programFolder + kEnglishLanguageFile;
    ApplyDialogTexts(m_hwnd, IDD_DEVICEMANAGER_DIALOG, english);
    if (!EqualsIgnoringCase(english, m_state.g_languageFile))
        ApplyDialogTexts(m_hwnd, IDD_DEVICEMANAGER_DIALOG, m_state.g_languageFile);
    NameControlsForScreenReaders();
    SetTimer(m_hwnd, IDT_START, 0, nullptr);
    m_model.m_deviceLoaderVersion = kNoLoaderVersion;
    m_model.m_imageLoaderVersion = kNoLoaderVersion;
    m_services.library.SetMainWindowHwnd(m_hwnd);
    return TRUE;
}

// The path field's group box comes after it, Browse shows "...", the busy
// bar paints itself and the clock's text is only the time: each gets its
// name (and the bar its role) through the accessibility interface.
void CDeviceManagerDlg::NameControlsForScreenReaders() {
    const struct {
        int id;
        const wchar_t *key;
        long role;
        bool textAsValue;
    } names[] = {
        {IDC_FIRMWARE_PATH, ids::kNameFirmwareFile, 0, false},
        {IDC_BROWSE, ids::kNameBrowse, 0, false},
        {IDC_BUSY_BAR, ids::kNameJobProgress, acc_role::kProgressBar, false},
        {IDC_ELAPSED_TIME, ids::kNameElapsedTime, acc_role::kStaticText, true},
    };
    for (const auto &n : names) {
        const std::wstring name = Text(n.key);
        if (!name.empty()) SetAccessibleName(GetDlgItem(n.id), name, n.role, n.textAsValue);
    }
}

void CDeviceManagerDlg::AddAboutItem() {
    HMENU menu = GetSystemMenu(m_hwnd, FALSE);
    if (!menu) return;
    const std::wstring text =
        FormatLangText(Text(ids::kAboutMenuItem), m_state.g_settings.APPTITLE);
    if (text.empty()) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text.c_str());
}

void CDeviceManagerDlg::SetWindowTitle() {
    SetWindowTextW(m_hwnd, (m_state.g_settings.APPTITLE + kVersionText).c_str());
}

// ---------------------------------------------------------------------------
// Messages

bool CDeviceManagerDlg::PreTranslateMessage(MSG &message) {
    // Escape would end the dialog through IDCANCEL, past the exit procedure.
    return message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE;
}

bool CDeviceManagerDlg::OnCommand(int id, int notifyCode, HWND control) {
    if (notifyCode != BN_CLICKED) return CDialog::OnCommand(id, notifyCode, control);
    switch (id) {
    case IDC_UPGRADE:
        RunJobButton(OnUpgrade);
        return true;
    case IDC_REPAIR:
        RunJobButton(OnRepair);
        return true;
    case IDC_BROWSE:
        OnBrowse();
        return true;
    case IDC_EXIT:
        OnExit();
        return true;
    case IDC_HIDDEN_BUTTON1:
        return true;
    default:
        return CDialog::OnCommand(id, notifyCode, control);
    }
}

bool CDeviceManagerDlg::OnClose() {
    OnExit();
    return true;
}

bool CDeviceManagerDlg::OnTimer(UINT_PTR timerId) {
    if (timerId == IDT_START)
        OnStartTick(m_ctx);
    else if (timerId == IDT_ELAPSED)
        OnElapsedTick(m_ctx);
    return false;
}

bool CDeviceManagerDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hwnd, &paint);
    if (IsIconic(m_hwnd)) {
        SendMessageW(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(m_hwnd, &client);
        const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, m_icon);
    } else {
        BlitPicture(dc, m_titlePicture, kTitleX, kTitleY, kTitleWidth, kTitleHeight,
                    DpiForWindow(m_hwnd));
    }
    EndPaint(m_hwnd, &paint);
    return true;
}

bool CDeviceManagerDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) {
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
        OnSysCommand(wParam);
        return true;
    case WM_CTLCOLORSTATIC: {
        // The colour labels choose their own colours.
        LRESULT brush = 0;
        if (!ReflectControlColor(m_hwnd, message, wParam, lParam, &brush)) return false;
        result = static_cast<INT_PTR>(brush);
        return true;
    }
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(m_icon);
        return true;
    case WM_UPGRADE_RESULT:
        OnUpgradeResult(wParam, lParam);
        return true;
    case WM_DEVICE_PROMPT:
        OnDevicePrompt(wParam, lParam);
        return true;
    case WM_DPICHANGED:
        OnDpiChanged(reinterpret_cast<const RECT *>(lParam));
        return true;
    default:
        return false;
    }
}

// Moved to a monitor of another scale: the window takes the size the system
// proposes, the controls' fonts follow, and what the window draws itself
// (the title picture, the busy bar's blocks) is laid out again.
void CDeviceManagerDlg::OnDpiChanged(const RECT *proposed) {
    if (proposed != nullptr)
        SetWindowPos(m_hwnd, nullptr, proposed->left, proposed->top,
                     proposed->right - proposed->left, proposed->bottom - proposed->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    m_busyBar.RecalcLayout();
    HWND standIn = GetDlgItem(IDC_TITLE_PICTURE);
    if (IsWindowVisible(standIn)) m_titleStandIn.Show(standIn, IDB_TITLE, DpiForWindow(m_hwnd));
    InvalidateRect(m_hwnd, nullptr, TRUE);
}

void CDeviceManagerDlg::OnSysCommand(WPARAM /*command*/) {
    CAboutDlg about(m_hwnd, m_state.g_settings.APPTITLE, Text(ids::kAboutCaption),
                    Text(ids::kAboutVersion));
    about.DoModal();
}

void CDeviceManagerDlg::OnUpgradeResult(WPARAM mode, LPARAM resultCode) {
    const JobMode jobMode = static_cast<JobMode>(mode);
    const int32_t code = static_cast<int32_t>(resultCode);
    TellJobEnded(m_ctx, code, VerdictKeyFor(jobMode, code).key,
                 VerdictFor(m_texts, m_state.g_settings.APPTITLE, jobMode, code).text);
    ShowJobVerdict(m_ctx, jobMode, code);
    RestoreFocusAfterJob();
    // The device's return counts from now, when the watcher runs again; the
    // record is written beside the window, which waits for nothing.
    m_recorder.StartReturnWait();
    const bool waiting = m_workers.Start([this] { m_recorder.WaitAndWrite(); });
    if (!waiting) m_recorder.Flush();
}

void CDeviceManagerDlg::RunJobButton(bool (*command)(CommandContext &)) {
    HWND before = GetFocus();
    const int beforeId = before != nullptr && IsChild(m_hwnd, before) ? GetDlgCtrlID(before) : 0;
    if (!command(m_ctx)) return;
    HWND now = GetFocus();
    if (now != nullptr && IsWindowEnabled(now)) return;
    m_focusBeforeJob = beforeId != 0 ? beforeId : IDC_BROWSE;
    SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDC_FIRMWARE_PATH)),
                 TRUE);
}

void CDeviceManagerDlg::RestoreFocusAfterJob() {
    if (m_focusBeforeJob == 0) return;
    HWND back = GetDlgItem(m_focusBeforeJob);
    // Upgrade and Repair wait for the device's return; Browse is enabled
    // by the verdict.
    if (back == nullptr || !IsWindowEnabled(back)) back = GetDlgItem(IDC_BROWSE);
    m_focusBeforeJob = 0;
    if (back != nullptr && IsWindowEnabled(back))
        SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(back), TRUE);
}

void CDeviceManagerDlg::OnDevicePrompt(WPARAM kind, LPARAM answer) {
    AnswerDevicePrompt(m_ctx, static_cast<uint32_t>(kind), reinterpret_cast<int32_t *>(answer));
}

void CDeviceManagerDlg::OnBrowse() {
    const std::wstring filter = BuildFirmwareFilter(m_state.g_settings.IMAGE_EXT_NAME);
    wchar_t file[MAX_PATH] = L"";
    OPENFILENAMEW dialog{};
    // The record's first layout, without the fields later systems added.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = m_hwnd;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.Flags = OFN_HIDEREADONLY;
    // The common dialogs' library is loaded with the first Browse, not at
    // every start: it is the largest the window would otherwise import.
    using GetOpenFileNameFunction = BOOL(WINAPI *)(OPENFILENAMEW *);
    static HMODULE commonDialogs = LoadLibraryW(L"comdlg32.dll");
    FARPROC found =
        commonDialogs != nullptr ? GetProcAddress(commonDialogs, "GetOpenFileNameW") : nullptr;
    GetOpenFileNameFunction getOpenFileName = nullptr;
    static_assert(sizeof(found) == sizeof(getOpenFileName), "function pointers of one size");
    memcpy(&getOpenFileName, &found, sizeof(getOpenFileName));
    if (getOpenFileName == nullptr || !getOpenFileName(&dialog)) return; // cancelled: no change
    OnFirmwareChosen(m_ctx, file);
}

// ---------------------------------------------------------------------------
// The job record

void CDeviceManagerDlg::OpenRecord(const std::wstring &path) {
    m_recordPath = path;
    m_records =
        std::make_unique<RecordKeeping>(m_recordFiles, m_queueFiles, m_services.platform.clock,
                                        m_state.g_programFolder, NewQueueOwner());
    // The record files' queues: what waits, and why, on the detail line.
    m_records->onOpened = [this](RecordOutbox &outbox) {
        outbox.onError = [this](const std::wstring &message) {
            {
                std::lock_guard<std::mutex> lock(m_recordLineGuard);
                m_recordProblem = message;
            }
            ShowRecordState(RecordLinesWaiting());
        };
        outbox.onWaitingChanged = [this](size_t) { ShowRecordState(RecordLinesWaiting()); };
        // Refused for good: said where the user looks, short enough for the
        // line (the file's name and why); the record waits in the queue's
        // refused folder for a resend.
        outbox.onRefused = [this](const JobRecordFields &, const std::wstring &reason) {
            const size_t slash = m_recordPath.find_last_of(L"\\/");
            const std::wstring name =
                slash == std::wstring::npos ? m_recordPath : m_recordPath.substr(slash + 1);
            SetItemText(IDC_DETAIL_LINE,
                        FormatLangText(Text(ids::kRecordNotWritten), name + L": " + reason));
        };
    };
    if (CsvRecordSink *sink = m_records->OpenFile(path)) m_recorder.AddSink(*sink);
}

size_t CDeviceManagerDlg::RecordLinesWaiting() {
    size_t waiting = 0;
    for (RecordOutbox *outbox : m_records->Outboxes())
        if (outbox != m_records->Database()) waiting += outbox->Waiting();
    return waiting;
}

void CDeviceManagerDlg::OpenDatabase(const std::wstring &connection) {
    m_database = MakeDatabaseDestination(
        connection, ReadStationName(m_settingsFile, m_recordStore.ComputerName()));
    if (m_database) {
        // A queue of its own: the record file and the server wait
        // independently of each other.
        RecordOutbox &outbox = m_records->OpenDatabase(*m_database);
        // Once per kind of failure, with the driver's words and never the
        // password, where the user looks during and after a job.
        outbox.onError = [this](const std::wstring &message) {
            SetItemText(IDC_DETAIL_LINE, FormatLangText(Text(ids::kRecordNotWritten), message));
        };
        // The columns named without the statement that adds them (the
        // station and the fleet guide give it): the line has room for few.
        outbox.onNotice = [this](const std::wstring &message) {
            SetItemText(IDC_DETAIL_LINE, FormatLangText(Text(ids::kRecordWrittenWithout),
                                                        message.substr(0, message.find(L';'))));
        };
        outbox.onWaitingChanged = nullptr;
        m_recorder.AddSink(outbox);
    }
    // Lines an earlier run left are written now, beside the window.
    m_records->Start();
}

void CDeviceManagerDlg::ShowRecordState(size_t waiting) {
    std::wstring text;
    std::wstring shown;
    {
        std::lock_guard<std::mutex> lock(m_recordLineGuard);
        if (waiting == 0) m_recordProblem.clear();
        // A line just handed over is on its way; only a refusal is news.
        if (waiting > 0 && m_recordProblem.empty()) return;
        // The count and why, short enough for the line; the file is the one
        // the settings name.
        const std::wstring file = m_recordPath + L": ";
        const std::wstring why = m_recordProblem.compare(0, file.size(), file) == 0
                                     ? m_recordProblem.substr(file.size())
                                     : m_recordProblem;
        if (waiting > 0)
            text = FormatLangText(Text(ids::kRecordLinesWaiting), std::to_wstring(waiting)) +
                   L" (" + why + L")";
        shown = m_recordLineShown;
        m_recordLineShown = text;
    }
    if (waiting > 0) {
        SetItemText(IDC_DETAIL_LINE, text);
        return;
    }
    // All written: the line is cleared unless a job has written there since.
    if (shown.empty()) return;
    wchar_t current[1024] = L"";
    GetDlgItemTextW(m_viewWindow.load(), IDC_DETAIL_LINE, current, 1024);
    if (shown.compare(0, 1023, current) == 0) SetItemText(IDC_DETAIL_LINE, L"");
}

// ---------------------------------------------------------------------------
// Exit

void CDeviceManagerDlg::OnExit() {
    if (!RunExitProcedure(m_ctx)) return;
    // A record still waiting for its device is written as it stands.
    m_recorder.Flush();
    // No worker reaches the window any more: the gate is closed, and what
    // slipped past it now writes to no window.
    m_viewWindow = nullptr;
    // One last try for the lines that wait; what the file still refuses
    // stays in the outbox for the next start.
    if (m_records) m_records->Stop(kOutboxStopWaitMs);
    EndDialog(IDCANCEL);
}
