// The windows laid out at 96, 144 and 192 dots per inch: the main window,
// the About box, the splash screen and a verdict box. No control lies
// outside its window, no text is wider than what its control shows of it
// (the control's own font, its client area less the margins it keeps, and
// every pixel of the text's ink on the screen), and no two controls
// overlap; in English and in Chinese. The About box is as wide as its picture, its
// separator runs from margin to margin and OK stands at the right margin.
//
// Wine takes the scale from the registry when a program starts, so each
// scale and language runs in a child process of this program, started after the value
// is set and given back the moment the child ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "controls/dpi_win.h"
#include "controls/version_field_win.h"
#include "main_window_harness_win.h"
#include "res/resource.h"
#include "ui/splash_dialog_win.h"

namespace {

constexpr const wchar_t *kDpiVariable = L"QV_LAYOUT_DPI";
constexpr const wchar_t *kLanguageVariable = L"QV_LAYOUT_LANGUAGE";
constexpr const wchar_t *kDesktopKey = L"Control Panel\\Desktop";
constexpr DWORD kChildWaitMs = 45000;
// The margin Windows' dialogs keep between their edge and their controls.
constexpr int kDialogMarginDu = 7;

// The longest versions the window writes: an image's software version in
// its widest digits and in the longest form its format gives, a loader
// version, and a device's version text of the usual length.
constexpr const wchar_t *kLongestSoftwareVersions[] = {L"ff.ff.ffff", L"88.88.8888"};
constexpr const wchar_t *kLongestLoaderVersion = L"255.255";
constexpr const wchar_t *kUsualDeviceVersion = L"10.2.345";
constexpr int kVersionFields[] = {IDC_IMAGE_SW_VERSION, IDC_IMAGE_LOADER_VERSION,
                                  IDC_DEVICE_SW_VERSION, IDC_DEVICE_LOADER_VERSION};

bool IsVersionField(HWND control) {
    for (int id : kVersionFields)
        if (GetDlgCtrlID(control) == id) return true;
    return false;
}

std::string Narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

RECT RectInParent(HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

bool IsGroupBox(HWND control) {
    return _wcsicmp(ClassOf(control).c_str(), L"Button") == 0 &&
           (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

bool IsPicture(HWND control) {
    return _wcsicmp(ClassOf(control).c_str(), L"Static") == 0 &&
           (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
}

// The text's size in the control's own font, wrapped to the control's width
// when the control wraps (a static that is not a single line).
SIZE TextExtent(HWND control, const std::wstring &text, bool wraps, int width) {
    HDC dc = GetDC(control);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    RECT rect{0, 0, wraps ? width : 0, 0};
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    UINT format = DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE);
    if (_wcsicmp(ClassOf(control).c_str(), L"Static") == 0 && (style & SS_NOPREFIX)) {
        format |= DT_NOPREFIX;
    }
    DrawTextW(dc, text.c_str(), -1, &rect, format);
    if (previous) SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

// How wide the text's ink is, drawn whole (no clipping) in the control's
// font: the columns from its first to its last painted pixel.
int InkWidth(const std::wstring &text, HWND control) {
    constexpr int kWidth = 2000, kHeight = 100, kOrigin = 50;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT all{0, 0, kWidth, kHeight};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    RECT at{kOrigin, 0, kWidth, kHeight};
    DrawTextW(dc, text.c_str(), -1, &at, DT_SINGLELINE | DT_NOCLIP | DT_NOPREFIX);
    int first = kWidth, last = -1;
    for (int x = 0; x < kWidth; ++x)
        for (int y = 0; y < kHeight; ++y)
            if (GetPixel(dc, x, y) != RGB(255, 255, 255)) {
                first = x < first ? x : first;
                last = x;
                break;
            }
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return last < first ? 0 : last - first + 1;
}

// How wide the ink is that the control shows on the screen: the columns of
// its client area from the first to the last pixel that is not its
// background (its most frequent colour).
int ShownInkWidth(HWND control) {
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT client;
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    std::map<COLORREF, int> counts;
    for (int x = 0; x < client.right; ++x)
        for (int y = 0; y < client.bottom; ++y)
            ++counts[GetPixel(dc, x, y)];
    COLORREF background = 0;
    int most = 0;
    for (const auto &count : counts)
        if (count.second > most) {
            most = count.second;
            background = count.first;
        }
    int first = client.right, last = -1;
    for (int x = 0; x < client.right; ++x)
        for (int y = 0; y < client.bottom; ++y)
            if (GetPixel(dc, x, y) != background) {
                first = x < first ? x : first;
                last = x;
                break;
            }
    ReleaseDC(control, dc);
    return last < first ? 0 : last - first + 1;
}

// Every visible child of the window, checked; each fault is one line.
// skipOverlap: controls that lie over another by design.
std::vector<std::string> LayoutFaults(HWND window, const std::string &name,
                                      const std::vector<HWND> &skipOverlap = {}) {
    std::vector<std::string> faults;
    RECT client;
    GetClientRect(window, &client);
    std::vector<HWND> shown;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child)) shown.push_back(child);
    auto label = [&](HWND control) {
        return name + " control " + std::to_string(GetDlgCtrlID(control)) + " \"" +
               Narrow(TextOf(control)) + "\"";
    };
    for (HWND control : shown) {
        const RECT r = RectInParent(control);
        if (r.left < client.left || r.top < client.top || r.right > client.right ||
            r.bottom > client.bottom)
            faults.push_back(label(control) + " lies outside its window");
        const std::wstring text = TextOf(control);
        const std::wstring kind = ClassOf(control);
        const bool button = _wcsicmp(kind.c_str(), L"Button") == 0;
        const bool staticText = _wcsicmp(kind.c_str(), L"Static") == 0 && !IsPicture(control);
        if (text.empty() || !(button || staticText)) continue;
        RECT inside;
        GetClientRect(control, &inside);
        // A version field keeps its text off its edges.
        const int margins =
            IsVersionField(control) ? 2 * CVersionField::Margin(DpiForWindow(control)) : 0;
        const int width = inside.right - inside.left - margins;
        const int height = inside.bottom - inside.top;
        // A static of more than one line's height wraps its text.
        const SIZE oneLine = TextExtent(control, L"Xg", false, 0);
        const bool wraps = staticText && height >= 2 * oneLine.cy;
        const SIZE extent = TextExtent(control, text, wraps, width);
        if (wraps ? extent.cy > height : extent.cx > width)
            faults.push_back(label(control) + " is " + std::to_string(extent.cx) + " x " +
                             std::to_string(extent.cy) + " for " + std::to_string(width) + " x " +
                             std::to_string(height));
        // A glyph may reach past its advance: what the screen shows of a
        // line is only whole when all of the text's ink is there. (The link
        // draws its text itself, underlined, and is measured above.)
        const bool drawsItsOwn = GetDlgCtrlID(control) == IDC_HOMEPAGE_LINK;
        if (staticText && !wraps && !drawsItsOwn) {
            const int drawn = InkWidth(text, control);
            const int shown = ShownInkWidth(control);
            if (shown < drawn)
                faults.push_back(label(control) + " shows " + std::to_string(shown) + " of its " +
                                 std::to_string(drawn) + " pixels of ink");
        }
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j) {
            HWND a = shown[i], b = shown[j];
            if (IsGroupBox(a) || IsGroupBox(b)) continue;
            bool skipped = false;
            for (HWND s : skipOverlap)
                skipped = skipped || s == a || s == b;
            if (skipped) continue;
            RECT ra = RectInParent(a), rb = RectInParent(b), both;
            if (IntersectRect(&both, &ra, &rb))
                faults.push_back(label(a) + " overlaps " + label(b));
        }
    return faults;
}

// The About box as a made dialog: its picture as wide as the box, the
// separator from margin to margin, OK at the right margin.
std::vector<std::string> AboutBoxFaults(HWND about) {
    std::vector<std::string> faults;
    RECT client, margin{kDialogMarginDu, 0, 0, 0};
    GetClientRect(about, &client);
    MapDialogRect(about, &margin);
    const RECT picture = RectInParent(GetDlgItem(about, IDC_ABOUT_PICTURE));
    const RECT separator = RectInParent(GetDlgItem(about, IDC_ABOUT_SEPARATOR));
    const RECT ok = RectInParent(GetDlgItem(about, IDOK));
    auto at = [](const RECT &r) { return std::to_string(r.left) + ".." + std::to_string(r.right); };
    const std::string box = " in a box of " + std::to_string(client.right) + " with margin " +
                            std::to_string(margin.left);
    if (picture.left != 0 || picture.right != client.right)
        faults.push_back("About box picture spans " + at(picture) + box);
    if (separator.left != margin.left || separator.right != client.right - margin.left)
        faults.push_back("About box separator spans " + at(separator) + box);
    if (ok.right != client.right - margin.left)
        faults.push_back("About box OK spans " + at(ok) + box);
    return faults;
}

std::string Joined(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &line : lines)
        out += line + "\n";
    return out;
}

// The shipped texts of the main window and the About box.
constexpr const wchar_t *kEnglishTexts =
    L"IDS_39=About %s...\r\nIDS_38=No device\r\n"
    L"IDS_41=Connect a device\r\nIDS_50=Exit the program?\r\n"
    L"IDS_83=\"About \"\r\nIDS_84=Version\r\n"
    L"IDD102_1002=&Upgrade\r\nIDD102_1006=&Repair\r\nIDD102_1005=E&xit\r\n"
    L"IDD102_1019=New firmware\r\nIDD102_1020=Device\r\n"
    L"IDD102_1021=Device:\r\nIDD102_1025=Software:\r\n"
    L"IDD102_1026=Software:\r\nIDD102_1034=Loader:\r\n"
    L"IDD102_1035=Loader:\r\n";
constexpr const wchar_t *kChineseTexts =
    L"IDS_39=\x5173\x4E8E %s...\r\nIDS_38=\x672A\x8FDE\x63A5\x8BBE\x5907\r\n"
    L"IDS_41=\x5C31\x7EEA\x3002\x8BF7\x8FDE\x63A5\x8BBE\x5907\x3002\r\n"
    L"IDS_50=\x786E\x5B9A\x8981\x9000\x51FA\x5417\xFF1F\r\n"
    L"IDS_83=\x5173\x4E8E\r\nIDS_84=\x7248\x672C\r\n"
    L"IDD102_1002=\x5347\x7EA7(&U)\r\nIDD102_1006=\x4FEE\x590D(&R)\r\n"
    L"IDD102_1005=\x9000\x51FA(&X)\r\nIDD102_1019=\x65B0\x56FA\x4EF6\r\n"
    L"IDD102_1020=\x8BBE\x5907\r\nIDD102_1021=\x8BBE\x5907\xFF1A\r\n"
    L"IDD102_1025=\x8F6F\x4EF6\xFF1A\r\nIDD102_1026=\x8F6F\x4EF6\xFF1A\r\n"
    L"IDD102_1034=\x5F15\x5BFC\xFF1A\r\nIDD102_1035=\x5F15\x5BFC\xFF1A\r\n";

// Whether the child shows the window in Chinese rather than English.
bool ChildInChinese() {
    const wchar_t *value = _wgetenv(kLanguageVariable);
    return value != nullptr && _wcsicmp(value, L"Chinese") == 0;
}

// The scale the child is to check at; 0 when this is no child of the test.
UINT ChildDpi() {
    const wchar_t *value = _wgetenv(kDpiVariable);
    return value ? static_cast<UINT>(_wtoi(value)) : 0;
}

// ---------------------------------------------------------------------------
// In the child: the windows at the scale the registry gave.

TEST(LayoutAtThisDpi, MainWindowAndAboutBox) {
    const UINT dpi = ChildDpi();
    if (dpi == 0) GTEST_SKIP() << "run by the Layout test in a child process";
    MainWindowHarness harness;
    harness.WriteSettings(L"APPTITLE=QV70 Device Manager\r\nLANGUAGE=Test\r\n"
                          L"HOMEPAGE=https://www.example.com/qv70\r\n");
    // The shipped texts of the window, in the language the child was given.
    harness.WriteLanguage(ChildInChinese() ? kChineseTexts : kEnglishTexts);
    HWND about = nullptr;
    UINT windowDpi = 0;
    std::vector<std::string> faults;
    harness.Run({
        [&](CDeviceManagerDlg &window) {
            HWND dialog = window.GetSafeHwnd();
            windowDpi = DpiForWindow(dialog);
            SetDlgItemTextW(dialog, IDC_STATUS_LINE, L"Connected: QV70 Storage Device");
            SetDlgItemTextW(dialog, IDC_DEVICE_NAME, L"QV70 Storage Device");
            SetDlgItemTextW(dialog, IDC_DETAIL_LINE,
                            L"Writing the firmware. This can take several minutes...");
            SetDlgItemTextW(dialog, IDC_ELAPSED_TIME, L"00:00:12");
            std::vector<std::string> main;
            for (const wchar_t *software : kLongestSoftwareVersions) {
                SetDlgItemTextW(dialog, IDC_IMAGE_SW_VERSION, software);
                SetDlgItemTextW(dialog, IDC_DEVICE_SW_VERSION, kUsualDeviceVersion);
                for (int id : {IDC_IMAGE_LOADER_VERSION, IDC_DEVICE_LOADER_VERSION})
                    SetDlgItemTextW(dialog, id, kLongestLoaderVersion);
                const std::vector<std::string> shown = LayoutFaults(dialog, "main window");
                main.insert(main.end(), shown.begin(), shown.end());
                // The device's text in the image's longest form as well.
                SetDlgItemTextW(dialog, IDC_DEVICE_SW_VERSION, software);
                const std::vector<std::string> device = LayoutFaults(dialog, "main window");
                main.insert(main.end(), device.begin(), device.end());
            }
            faults.insert(faults.end(), main.begin(), main.end());
            PostMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        },
        [&](CDeviceManagerDlg &window) {
            for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w && !about;
                 w = GetWindow(w, GW_HWNDNEXT))
                if (GetWindow(w, GW_OWNER) == window.GetSafeHwnd() && IsWindowVisible(w)) about = w;
            ASSERT_NE(about, nullptr);
            const std::vector<std::string> box = LayoutFaults(about, "About box");
            faults.insert(faults.end(), box.begin(), box.end());
            const std::vector<std::string> made = AboutBoxFaults(about);
            faults.insert(faults.end(), made.begin(), made.end());
            PostMessageW(about, WM_COMMAND, IDOK, 0);
        },
    });
    EXPECT_EQ(windowDpi, dpi) << "the window does not run at the scale asked for";
    EXPECT_TRUE(faults.empty()) << Joined(faults);
}

HWND g_splash = nullptr;
std::vector<std::string> g_splashFaults;

void CALLBACK InspectSplash(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    struct Find {
        HWND found = nullptr;
    } find;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM param) -> BOOL {
            if (GetDlgItem(w, IDC_SPLASH_PICTURE) == nullptr) return TRUE;
            reinterpret_cast<Find *>(param)->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&find));
    g_splash = find.found;
    if (g_splash == nullptr) return;
    // The version line lies over the picture by design.
    g_splashFaults = LayoutFaults(g_splash, "splash", {GetDlgItem(g_splash, 0)});
}

TEST(LayoutAtThisDpi, Splash) {
    const UINT dpi = ChildDpi();
    if (dpi == 0) GTEST_SKIP() << "run by the Layout test in a child process";
    SetTimer(nullptr, 0, 500, InspectSplash);
    CSplashDlg splash(nullptr);
    splash.DoModal();
    ASSERT_NE(g_splash, nullptr);
    EXPECT_TRUE(g_splashFaults.empty()) << Joined(g_splashFaults);
}

TEST(LayoutAtThisDpi, VerdictBox) {
    const UINT dpi = ChildDpi();
    if (dpi == 0) GTEST_SKIP() << "run by the Layout test in a child process";
    std::vector<std::string> faults;
    bool seen = false;
    std::thread inspector([&] {
        for (int i = 0; i < 100 && !seen; ++i) {
            Sleep(50);
            HWND box = FindWindowW(L"#32770", L"QV70 Device Manager");
            if (box == nullptr || !IsWindowVisible(box)) continue;
            Sleep(100);
            faults = LayoutFaults(box, "verdict box");
            seen = true;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    });
    MessageBoxW(nullptr,
                L"The upgrade has finished and the device is restarting. Wait until this window "
                L"shows the device again before you disconnect it; if it is not shown within a "
                L"minute, disconnect it and connect it again.",
                L"QV70 Device Manager", MB_OK | MB_ICONINFORMATION);
    inspector.join();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(faults.empty()) << Joined(faults);
}

// ---------------------------------------------------------------------------
// In the test: each scale in a child process.

bool ReadLogPixels(DWORD &value) {
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", RRF_RT_REG_DWORD, nullptr,
                        &value, &size) == ERROR_SUCCESS;
}

void WriteLogPixels(DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                   sizeof(value));
    RegCloseKey(key);
}

void DeleteLogPixels() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"LogPixels");
    RegCloseKey(key);
}

// Runs this program's LayoutAtThisDpi tests at the scale, in the language;
// their output.
int RunChild(UINT dpi, const wchar_t *language, std::string &output) {
    TempFolder folder;
    const std::wstring log = folder.Path() + L"child.txt";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=LayoutAtThisDpi.*";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    PROCESS_INFORMATION process{};
    SetEnvironmentVariableW(kDpiVariable, std::to_wstring(dpi).c_str());
    SetEnvironmentVariableW(kLanguageVariable, language);
    const BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(kDpiVariable, nullptr);
    SetEnvironmentVariableW(kLanguageVariable, nullptr);
    CloseHandle(file);
    if (!started) return -1;
    DWORD exitCode = 1;
    if (WaitForSingleObject(process.hProcess, kChildWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        output = "the child did not end in time\n";
    }
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream in(log.c_str());
    std::stringstream text;
    text << in.rdbuf();
    output += text.str();
    return static_cast<int>(exitCode);
}

TEST(Layout, HoldsAt96And144And192Dpi) {
    DWORD saved = 0;
    const bool hadValue = ReadLogPixels(saved);
    for (UINT dpi : {96u, 144u, 192u})
        for (const wchar_t *language : {L"English", L"Chinese"}) {
            SCOPED_TRACE(std::to_string(dpi) + " dpi, " + Narrow(language));
            WriteLogPixels(dpi);
            std::string output;
            const int exitCode = RunChild(dpi, language, output);
            // Given back at once: programs started later get the user's scale.
            if (hadValue)
                WriteLogPixels(saved);
            else
                DeleteLogPixels();
            EXPECT_EQ(exitCode, 0) << output;
            EXPECT_NE(output.find("[  PASSED  ] 3 tests."), std::string::npos) << output;
        }
}

} // namespace
