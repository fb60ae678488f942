#include "tests/e2e/ui_robot_win.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr int kMessageBoxTextId = 0xFFFF;
// The Open dialog's file name field: edt1, or the combo box cmb13.
constexpr int kFileNameEdit = 0x480;
constexpr int kFileNameCombo = 0x47C;

struct Search {
    DWORD processId;
    HWND exclude;
    std::function<bool(HWND)> accept;
    HWND found = nullptr;
};

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM param) {
    auto *search = reinterpret_cast<Search *>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || window == search->exclude || !IsWindowVisible(window))
        return TRUE;
    if (search->accept(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindTopLevel(DWORD processId, HWND exclude, const std::function<bool(HWND)> &accept) {
    Search search{processId, exclude, accept};
    EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsDialog(HWND window) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    return lstrcmpW(className, L"#32770") == 0;
}

std::wstring WindowText(HWND window) {
    if (window == nullptr) return std::wstring();
    // WM_GETTEXT works across processes where GetWindowText would not.
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                        reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

// Pixels of a screen area, top row first, as 0x00RRGGBB.
std::vector<DWORD> ScreenPixels(const RECT &area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    if (pixels.empty()) return pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// An icon drawn as the box draws it: at the given size, on the background.
std::vector<DWORD> RenderedIcon(HICON icon, int width, int height, DWORD background) {
    std::vector<DWORD> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), background);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!bitmap || !bits) return pixels;
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    std::copy(pixels.begin(), pixels.end(), static_cast<DWORD *>(bits));
    DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    GdiFlush();
    std::copy(static_cast<DWORD *>(bits), static_cast<DWORD *>(bits) + pixels.size(),
              pixels.begin());
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return pixels;
}

bool Close(DWORD a, DWORD b) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d > 24 || d < -24) return false;
    }
    return true;
}

// The icon a box of another process shows. Icon handles do not compare
// across processes, so the robot compares what the screen shows with the
// system's icons drawn the same way.
MessageBoxInfo::Icon IconOf(HWND box) {
    struct Known {
        LPCWSTR id;
        MessageBoxInfo::Icon icon;
    };
    const Known known[] = {{IDI_HAND, MessageBoxInfo::Icon::Error},
                           {IDI_EXCLAMATION, MessageBoxInfo::Icon::Exclamation},
                           {IDI_ASTERISK, MessageBoxInfo::Icon::Information},
                           {IDI_QUESTION, MessageBoxInfo::Icon::Question}};
    HWND control = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
            control = child;
            break;
        }
    }
    if (control == nullptr) return MessageBoxInfo::Icon::None;
    RECT area;
    GetWindowRect(control, &area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return MessageBoxInfo::Icon::None;

    // The box may still be painting when it is first seen.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    do {
        const std::vector<DWORD> shown = ScreenPixels(area);
        MessageBoxInfo::Icon best = MessageBoxInfo::Icon::None;
        size_t bestMisses = shown.size() / 20 + 1; // at most 5 % of the pixels may differ
        for (const Known &k : known) {
            const std::vector<DWORD> drawn =
                RenderedIcon(LoadIconW(nullptr, k.id), width, height, shown[0]);
            size_t misses = 0;
            for (size_t i = 0; i < shown.size(); ++i)
                if (!Close(shown[i] & 0xFFFFFF, drawn[i] & 0xFFFFFF)) ++misses;
            if (misses < bestMisses) {
                bestMisses = misses;
                best = k.icon;
            }
        }
        if (best != MessageBoxInfo::Icon::None) return best;
        std::this_thread::sleep_for(kPollInterval);
    } while (std::chrono::steady_clock::now() < deadline);
    return MessageBoxInfo::Icon::None;
}

} // namespace

HWND UiRobot::WaitForMainWindow(int controlId, std::chrono::milliseconds timeout) {
    WaitUntil(
        [&] {
            m_main = FindTopLevel(m_processId, nullptr, [&](HWND w) {
                return IsDialog(w) && GetDlgItem(w, controlId) != nullptr;
            });
            return m_main != nullptr;
        },
        timeout);
    return m_main;
}

std::wstring UiRobot::Text(int controlId) const {
    return WindowText(GetDlgItem(m_main, controlId));
}

bool UiRobot::Enabled(int controlId) const {
    HWND control = GetDlgItem(m_main, controlId);
    return control != nullptr && IsWindowEnabled(control);
}

int UiRobot::FocusedControl() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    const DWORD thread = GetWindowThreadProcessId(m_main, nullptr);
    if (!GetGUIThreadInfo(thread, &info) || info.hwndFocus == nullptr) return 0;
    if (GetParent(info.hwndFocus) != m_main) return 0;
    return GetDlgCtrlID(info.hwndFocus);
}

std::wstring UiRobot::Title() const {
    return WindowText(m_main);
}

void UiRobot::Click(int controlId) const {
    PostMessageW(m_main, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(m_main, controlId)));
}

void UiRobot::Close() const {
    PostMessageW(m_main, WM_CLOSE, 0, 0);
}

bool UiRobot::WaitForMessageBox(MessageBoxInfo &box, std::chrono::milliseconds timeout) const {
    HWND found = nullptr;
    const bool shown = WaitUntil(
        [&] {
            found = FindTopLevel(m_processId, m_main, [](HWND w) {
                return IsDialog(w) && GetDlgItem(w, kMessageBoxTextId) != nullptr &&
                       !GetDlgItem(w, kFileNameEdit) && !GetDlgItem(w, kFileNameCombo);
            });
            return found != nullptr;
        },
        timeout);
    if (!shown) return false;
    box.window = found;
    box.caption = WindowText(found);
    box.text = WindowText(GetDlgItem(found, kMessageBoxTextId));
    box.icon = IconOf(found);
    box.hasYesNo = GetDlgItem(found, IDYES) != nullptr && GetDlgItem(found, IDNO) != nullptr;
    // The button drawn as the default is the one Enter presses; a box that
    // marks none answers Enter with its dialog's default id.
    box.defaultButton = 0;
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
        HWND button = GetDlgItem(found, id);
        if (button != nullptr &&
            (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            box.defaultButton = id;
    }
    if (box.defaultButton == 0) {
        const LRESULT defId = SendMessageW(found, DM_GETDEFID, 0, 0);
        if (HIWORD(defId) == DC_HASDEFID) box.defaultButton = LOWORD(defId);
    }
    return true;
}

bool UiRobot::NoMessageBoxFor(std::chrono::milliseconds period) const {
    MessageBoxInfo box;
    return !WaitForMessageBox(box, period);
}

void UiRobot::Answer(const MessageBoxInfo &box, int buttonId) const {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, buttonId)));
    WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); },
              std::chrono::seconds(5));
}

RECT UiRobot::WindowsArea() const {
    struct Collect {
        DWORD processId;
        RECT area;
    } collect{m_processId, {0, 0, 0, 0}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto *c = reinterpret_cast<Collect *>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            RECT rect;
            if (owner == c->processId && IsWindowVisible(window) && GetWindowRect(window, &rect))
                UnionRect(&c->area, &c->area, &rect);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&collect));
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&collect.area, &collect.area, &screen);
    return collect.area;
}

HWND UiRobot::WaitForOpenDialog(std::chrono::milliseconds timeout) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindTopLevel(m_processId, m_main, [](HWND w) {
                return IsDialog(w) &&
                       (GetDlgItem(w, kFileNameEdit) || GetDlgItem(w, kFileNameCombo));
            });
            return found != nullptr;
        },
        timeout);
    return found;
}

void UiRobot::ChooseFile(HWND openDialog, const std::wstring &path) {
    HWND field = GetDlgItem(openDialog, kFileNameCombo);
    if (field) {
        // The explorer-style combo box holds the edit the dialog reads.
        HWND edit = FindWindowExW(field, nullptr, L"Edit", nullptr);
        if (edit) field = edit;
    } else {
        field = GetDlgItem(openDialog, kFileNameEdit);
    }
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(openDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(openDialog, IDOK)));
}

void UiRobot::CancelDialog(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); },
              std::chrono::seconds(5));
}

bool UiRobot::WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool UiRobot::SaveScreenshot(const std::wstring &bmpPath) {
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return SaveScreenshot(bmpPath, screen);
}

bool UiRobot::SaveScreenshot(const std::wstring &bmpPath, const RECT &area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    // A 24-bit file stores its rows bottom-up, each padded to 4 bytes.
    const std::vector<DWORD> shown = ScreenPixels(area);
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        BYTE *row = &pixels[static_cast<size_t>(stride) * static_cast<size_t>(height - 1 - y)];
        for (int x = 0; x < width; ++x) {
            const DWORD rgb = shown[static_cast<size_t>(y) * static_cast<size_t>(width) + x];
            row[3 * x] = static_cast<BYTE>(rgb);           // blue
            row[3 * x + 1] = static_cast<BYTE>(rgb >> 8);  // green
            row[3 * x + 2] = static_cast<BYTE>(rgb >> 16); // red
        }
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    HANDLE out = CreateFileW(bmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(out, &file, sizeof(file), &written, nullptr) &&
              WriteFile(out, &info, sizeof(info), &written, nullptr) &&
              WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(out);
    return ok;
}
