#include "ui/dialog_win.h"

#include "device/message_pump_win.h"

namespace {

// Messages whose result a dialog procedure returns directly instead of
// through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

} // namespace

CDialog::CDialog(int templateId, HWND owner) : m_templateId(templateId), m_owner(owner) {}

CDialog::~CDialog() {
    if (m_hwnd) {
        // The object goes before its window (an exception left DoModal):
        // the window must not find it any more.
        SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
        DestroyWindow(m_hwnd);
    }
}

INT_PTR CDialog::DoModal() {
    m_ended = false;
    m_result = -1;
    HWND window = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId),
                                     m_owner, DialogProc, reinterpret_cast<LPARAM>(this));
    if (!window) return -1;

    const bool ownerWasEnabled = m_owner && IsWindowEnabled(m_owner);
    if (ownerWasEnabled) EnableWindow(m_owner, FALSE);
    // DialogBoxW shows the dialog whether or not its template says visible.
    if (!m_ended && !IsWindowVisible(window)) ShowWindow(window, SW_SHOWNORMAL);

    MSG message;
    while (!m_ended) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // Leave WM_QUIT for the loop outside ours.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        HandleMessage(message);
    }

    // The owner must be enabled before the dialog goes, or the system
    // activates some other program's window.
    if (ownerWasEnabled) EnableWindow(m_owner, TRUE);
    if (m_owner && GetActiveWindow() == window) SetActiveWindow(m_owner);
    if (IsWindow(window)) DestroyWindow(window);
    return m_result;
}

void CDialog::HandleMessage(MSG &message) {
    if (PreTranslateMessage(message)) return;
    if (m_hwnd && IsDialogMessageW(m_hwnd, &message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void CDialog::PumpMessages(uint32_t milliseconds) {
    if (m_ended) {
        // The window is going: only the workers' synchronous writes are let
        // through, so that none of them waits on this thread.
        PumpSentMessages(milliseconds);
        return;
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    while (!m_ended && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Leave it for the loop outside ours.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        HandleMessage(message);
    }
}

void CDialog::EndDialog(INT_PTR result) {
    m_result = result;
    m_ended = true;
    // GetMessageW may be waiting: a message wakes the loop to see the flag.
    if (m_hwnd) PostMessageW(m_hwnd, WM_NULL, 0, 0);
}

bool CDialog::OnCommand(int id, int /*notifyCode*/, HWND /*control*/) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void CDialog::CenterOverOwner() {
    CenterWindowOver(m_hwnd, GetWindow(m_hwnd, GW_OWNER));
}

bool CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) {
    result = 0;
    switch (message) {
    case WM_INITDIALOG: {
        RECT before{};
        GetWindowRect(m_hwnd, &before);
        result = OnInitDialog();
        RECT after{};
        GetWindowRect(m_hwnd, &after);
        if (before.left == after.left && before.top == after.top) CenterOverOwner();
        return true;
    }
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_TIMER:
        return OnTimer(wParam);
    case WM_PAINT:
        return OnPaint();
    case WM_CLOSE:
        return OnClose();
    case WM_DESTROY:
        OnDestroy();
        return false;
    default:
        return OnMessage(message, wParam, lParam, result);
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog *self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog *>(lParam);
        self->m_hwnd = window;
        SetWindowLongPtrW(window, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<CDialog *>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!self) return FALSE;

    INT_PTR result = 0;
    bool handled = false;
    try {
        handled = self->Dispatch(message, wParam, lParam, result);
    } catch (...) {
        // Nothing may unwind through the window system; the message counts
        // as not handled and gets the default.
        handled = false;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_hwnd = nullptr;
        return FALSE;
    }
    if (!handled) return FALSE;
    if (ReturnsResultDirectly(message)) return result;
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

void CenterWindowOver(HWND window, HWND over) {
    RECT self{};
    GetWindowRect(window, &self);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    HMONITOR handle = MonitorFromWindow(over ? over : window, MONITOR_DEFAULTTONEAREST);
    GetMonitorInfoW(handle, &monitor);
    RECT area = monitor.rcWork;
    RECT target = area;
    if (over && IsWindowVisible(over) && !IsIconic(over)) GetWindowRect(over, &target);

    const int width = self.right - self.left;
    const int height = self.bottom - self.top;
    int x = target.left + ((target.right - target.left) - width) / 2;
    int y = target.top + ((target.bottom - target.top) - height) / 2;
    if (x + width > area.right) x = area.right - width;
    if (y + height > area.bottom) y = area.bottom - height;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
