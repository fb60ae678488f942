#include "tests/e2e/ui_robot_win.h"

#include <thread>
#include <vector>

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr int kMessageBoxTextId = 0xFFFF;

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
    const LRESULT copied =
        SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

MessageBoxInfo::Icon IconOf(HWND box) {
    struct Known {
        LPCWSTR id;
        MessageBoxInfo::Icon icon;
    };
    const Known known[] = {{IDI_HAND, MessageBoxInfo::Icon::Error},
                           {IDI_EXCLAMATION, MessageBoxInfo::Icon::Exclamation},
                           {IDI_ASTERISK, MessageBoxInfo::Icon::Information},
                           {IDI_QUESTION, MessageBoxInfo::Icon::Question}};
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        const HICON shown = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        for (const Known &k : known)
            if (shown != nullptr && shown == LoadIconW(nullptr, k.id)) return k.icon;
    }
    return MessageBoxInfo::Icon::None;
}

} // namespace

HWND UiRobot::WaitForMainWindow(int controlId, std::chrono::milliseconds timeout) {
    WaitUntil(
        [&] {
            main_ = FindTopLevel(processId_, nullptr, [&](HWND w) {
                return IsDialog(w) && GetDlgItem(w, controlId) != nullptr;
            });
            return main_ != nullptr;
        },
        timeout);
    return main_;
}

std::wstring UiRobot::Text(int controlId) const { return WindowText(GetDlgItem(main_, controlId)); }

bool UiRobot::Enabled(int controlId) const {
    HWND control = GetDlgItem(main_, controlId);
    return control != nullptr && IsWindowEnabled(control);
}

std::wstring UiRobot::Title() const { return WindowText(main_); }

void UiRobot::Click(int controlId) const {
    PostMessageW(main_, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(main_, controlId)));
}

void UiRobot::Close() const { PostMessageW(main_, WM_CLOSE, 0, 0); }

bool UiRobot::WaitForMessageBox(MessageBoxInfo &box, std::chrono::milliseconds timeout) const {
    HWND found = nullptr;
    const bool shown = WaitUntil(
        [&] {
            found = FindTopLevel(processId_, main_, [](HWND w) {
                return IsDialog(w) && GetDlgItem(w, kMessageBoxTextId) != nullptr;
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

bool UiRobot::WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool UiRobot::SaveScreenshot(const std::wstring &bmpPath) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

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
