// The main window as it comes up and as it refuses to go: layout from the
// template, language texts, title, About item, Escape and Enter, and the
// exit procedure's question.
#include <gtest/gtest.h>

#include <oleacc.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/worker_threads_win.h"
#include "main_window_harness_win.h"

#include "res/resource.h"

// After the harness, which brings windows.h.
#include <commctrl.h>

namespace {

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

RECT RectInParent(HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

std::wstring MenuItemText(HMENU menu, UINT id) {
    wchar_t text[256] = L"";
    if (GetMenuStringW(menu, id, text, 256, MF_BYCOMMAND) <= 0) return L"";
    return text;
}

// An owned, enabled dialog of this thread other than the given one.
HWND FindOwnedDialog(HWND owner) {
    struct Search {
        HWND owner;
        HWND found;
    } search{owner, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto *s = reinterpret_cast<Search *>(param);
            if (GetWindow(window, GW_OWNER) == s->owner && IsWindowVisible(window)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TEST(MainWindow, ControlsStandWhereTheTemplateSaysInTabOrder) {
    DialogTemplate t;
    ASSERT_TRUE(ReadDialogTemplate(IDD_DEVICEMANAGER_DIALOG, t));
    MainWindowHarness harness;
    harness.Run({[&](CDeviceManagerDlg &window) {
        HWND dialog = window.GetSafeHwnd();
        HWND child = GetWindow(dialog, GW_CHILD);
        for (const TemplateItem &item : t.items) {
            SCOPED_TRACE("control " + std::to_string(item.id));
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(GetDlgCtrlID(child), item.id);
            // The dialog manager converts position and size each on its own.
            RECT expected{item.x, item.y, item.cx, item.cy};
            MapDialogRect(dialog, &expected);
            const RECT actual = RectInParent(child);
            EXPECT_EQ(actual.left, expected.left);
            EXPECT_EQ(actual.top, expected.top);
            // A picture control takes the size of its picture.
            const bool picture = (item.style & SS_TYPEMASK) == SS_BITMAP &&
                                 _wcsicmp(item.className.c_str(), L"Static") == 0;
            if (!picture) {
                EXPECT_EQ(actual.right - actual.left, expected.right);
                EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
            } else {
                EXPECT_EQ(actual.right - actual.left, 150);
                EXPECT_EQ(actual.bottom - actual.top, 54);
            }
            const DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
            EXPECT_EQ(style & WS_TABSTOP, item.style & WS_TABSTOP);
            EXPECT_EQ(style & WS_GROUP, item.style & WS_GROUP);
            // The title picture stands in only when Title.BMP is missing,
            // as it is here.
            const bool shown = item.id == IDC_TITLE_PICTURE || (item.style & WS_VISIBLE) != 0;
            EXPECT_EQ(IsWindowVisible(child) != FALSE, shown);
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "a control the template does not hold";
    }});
}

TEST(MainWindow, TakesItsTextsFromTheLanguageFile) {
    MainWindowHarness harness;
    harness.Run({[&](CDeviceManagerDlg &window) {
        HWND dialog = window.GetSafeHwnd();
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_UPGRADE)), L"Up");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_REPAIR)), L"Fix");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_EXIT)), L"Leave");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_IMAGE_GROUP)), L"Image");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_DEVICE_NAME_CAPTION)), L"Device name");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_IMAGE_LOADER_CAPTION)), L"Boot:");
        // Without a key the template's placeholder stays; an edit field
        // never takes a text from the file.
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_DEVICE_LOADER_CAPTION)), L"Loader:");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_FIRMWARE_PATH)), L"");
        // The start tick has started the watcher, which finds no device.
        HWND status = GetDlgItem(dialog, IDC_STATUS_LINE);
        for (int i = 0; i < 100 && TextOf(status) != L"No device"; ++i)
            PumpMessages(20);
        EXPECT_EQ(TextOf(status), L"No device");
        // Upgrade and Repair wait for a device.
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPGRADE)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_REPAIR)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_BROWSE)));
    }});
}

// The colour labels answer the dialog's control-colour question, the link
// takes the home page and mouse input, and the busy bar draws 12 blocks.
TEST(MainWindow, CustomControlsAreBound) {
    MainWindowHarness harness;
    harness.WriteSettings(L"APPTITLE=Test Manager\r\nLANGUAGE=Test\r\n"
                          L"HOMEPAGE=https://example.com/qv\r\n");
    COLORREF status = 0, detail = 0, device = 0;
    DWORD linkStyle = 0;
    std::wstring linkText;
    int blocks = 0;
    harness.Run({[&](CDeviceManagerDlg &window) {
        HWND dialog = window.GetSafeHwnd();
        HDC dc = CreateCompatibleDC(nullptr);
        auto colourOf = [&](int id) {
            SetTextColor(dc, RGB(1, 2, 3));
            SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
            return GetTextColor(dc);
        };
        status = colourOf(IDC_STATUS_LINE);
        detail = colourOf(IDC_DETAIL_LINE);
        device = colourOf(IDC_DEVICE_NAME);
        DeleteDC(dc);

        HWND link = GetDlgItem(dialog, IDC_HOMEPAGE_LINK);
        linkStyle = static_cast<DWORD>(GetWindowLongW(link, GWL_STYLE));
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        // The link draws its own text: some pixel of its left part is not
        // the dialog's background.
        HDC linkDc = GetDC(link);
        const COLORREF background = GetSysColor(COLOR_BTNFACE);
        for (int x = 0; x < 60 && linkText.empty(); ++x)
            for (int y = 0; y < 12; ++y)
                if (GetPixel(linkDc, x, y) != background) {
                    linkText = L"drawn";
                    break;
                }
        ReleaseDC(link, linkDc);

        // Count the blocks along the middle of the bar: runs of the block
        // fill colours between the borders.
        HWND bar = GetDlgItem(dialog, IDC_BUSY_BAR);
        RECT client;
        GetClientRect(bar, &client);
        HDC barDc = GetDC(bar);
        bool inBlock = false;
        for (int x = 0; x < client.right; ++x) {
            const COLORREF c = GetPixel(barDc, x, client.bottom / 2);
            const bool fill =
                c == CBusyProgressCtrl::kBlockFill || c == CBusyProgressCtrl::kActiveFill;
            if (fill && !inBlock) ++blocks;
            inBlock = fill;
        }
        ReleaseDC(bar, barDc);
    }});
    EXPECT_EQ(status, RGB(0, 0, 255));
    EXPECT_EQ(detail, RGB(0, 0, 255));
    EXPECT_EQ(device, RGB(0, 127, 0));
    EXPECT_NE(linkStyle & SS_NOTIFY, 0u);
    EXPECT_EQ(linkText, L"drawn");
    EXPECT_EQ(blocks, 12);
}

// What a screen reader reads: each control's name, role and value through
// the accessibility interface, asked by a program of its own, as every
// screen reader is. The window's thread serves the questions meanwhile.
struct AccessibleFacts {
    std::wstring name;
    long role = 0;
    std::wstring value;
};

constexpr DWORD kReaderWaitMs = 20000;

std::map<int, AccessibleFacts> ReadFromAnotherProcess(HWND dialog, const std::vector<int> &ids) {
    std::map<int, AccessibleFacts> read;
    TempFolder folder;
    const std::wstring output = folder.Path() + L"read.txt";
    wchar_t window[32];
    swprintf(window, 32, L"%llx",
             static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(dialog)));
    std::wstring commandLine =
        L"\"" + FolderOfThisProgram() + L"screen_reader.exe\" " + window + L" \"" + output + L"\"";
    for (int id : ids)
        commandLine += L" " + std::to_wstring(id);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "screen_reader.exe did not start";
        return read;
    }
    const DWORD deadline = GetTickCount() + kReaderWaitMs;
    while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, kReaderWaitMs, QS_ALLINPUT) ==
               WAIT_OBJECT_0 + 1 &&
           GetTickCount() < deadline) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the screen reader did not end";
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    FILE *file = _wfopen(output.c_str(), L"rb");
    if (file == nullptr) return read;
    std::wstring text;
    wchar_t buffer[1024];
    size_t got = 0;
    while ((got = fread(buffer, sizeof(wchar_t), 1024, file)) > 0)
        text.append(buffer, got);
    fclose(file);
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find(L'\n', at);
        const std::wstring line = text.substr(at, end == std::wstring::npos ? end : end - at);
        at = end == std::wstring::npos ? text.size() : end + 1;
        const size_t a = line.find(L'\t');
        const size_t b = line.find(L'\t', a + 1);
        const size_t c = line.find(L'\t', b + 1);
        if (c == std::wstring::npos) continue;
        AccessibleFacts &facts = read[_wtoi(line.substr(0, a).c_str())];
        facts.name = line.substr(a + 1, b - a - 1);
        facts.role = _wtoi(line.substr(b + 1, c - b - 1).c_str());
        facts.value = line.substr(c + 1);
    }
    return read;
}

// Wine's input method support puts every window's thread in a
// single-threaded apartment of its own accord; Windows does that only when a
// text service needs one. Asked for a multithreaded apartment, Wine's gives
// its own up for good; leaving that one too leaves the thread in none, as a
// window's thread starts on Windows, and what the window must do itself
// shows.
void LeaveImplicitApartment() {
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) CoUninitialize();
}

TEST(MainWindow, ScreenReaderInAnotherProcessHearsEveryControl) {
    MainWindowHarness harness;
    harness.WriteSettings(L"APPTITLE=Test Manager\r\nLANGUAGE=Test\r\n"
                          L"HOMEPAGE=https://example.com/qv\r\n");
    harness.WriteLanguage(std::wstring(kTestStrings) +
                          L"IDS_150=Firmware file\r\nIDS_151=Browse for an image\r\n"
                          L"IDS_152=Job progress\r\nIDS_153=Elapsed time\r\n");
    std::map<int, AccessibleFacts> read;
    std::wstring pathShown, browseShown;
    harness.Run({[&](CDeviceManagerDlg &window) {
        HWND dialog = window.GetSafeHwnd();
        LeaveImplicitApartment();
        SetDlgItemTextW(dialog, IDC_ELAPSED_TIME, L"00:12");
        SetDlgItemTextW(dialog, IDC_DEVICE_SW_VERSION, L"1.0.0");
        read = ReadFromAnotherProcess(dialog, {IDC_UPGRADE, IDC_REPAIR, IDC_EXIT, IDC_BROWSE,
                                               IDC_FIRMWARE_PATH, IDC_HOMEPAGE_LINK, IDC_BUSY_BAR,
                                               IDC_ELAPSED_TIME, IDC_DEVICE_SW_VERSION});
        pathShown = TextOf(GetDlgItem(dialog, IDC_FIRMWARE_PATH));
        browseShown = TextOf(GetDlgItem(dialog, IDC_BROWSE));
    }});
    EXPECT_EQ(read[IDC_UPGRADE].name, L"Up");
    EXPECT_EQ(read[IDC_REPAIR].name, L"Fix");
    EXPECT_EQ(read[IDC_EXIT].name, L"Leave");
    EXPECT_EQ(read[IDC_BROWSE].name, L"Browse for an image");
    EXPECT_EQ(read[IDC_FIRMWARE_PATH].name, L"Firmware file");
    EXPECT_EQ(read[IDC_HOMEPAGE_LINK].name, L"https://example.com/qv");
    EXPECT_EQ(read[IDC_HOMEPAGE_LINK].role, ROLE_SYSTEM_LINK);
    EXPECT_EQ(read[IDC_BUSY_BAR].name, L"Job progress");
    EXPECT_EQ(read[IDC_BUSY_BAR].role, ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(read[IDC_ELAPSED_TIME].name, L"Elapsed time");
    EXPECT_EQ(read[IDC_ELAPSED_TIME].role, ROLE_SYSTEM_STATICTEXT);
    EXPECT_EQ(read[IDC_ELAPSED_TIME].value, L"00:12");
    EXPECT_EQ(read[IDC_DEVICE_SW_VERSION].name, L"1.0.0");
    // What a sighted user sees stays as it was.
    EXPECT_EQ(pathShown, L"");
    EXPECT_EQ(browseShown, L"...");
}

// The text a version field's tooltip shows, from the tooltip itself; empty
// when the field has none.
std::wstring TipOf(HWND field) {
    struct Search {
        HWND field;
        std::wstring text;
    } search{field, L""};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto *s = reinterpret_cast<Search *>(param);
            wchar_t kind[64] = L"";
            GetClassNameW(window, kind, 64);
            if (_wcsicmp(kind, TOOLTIPS_CLASSW) != 0) return TRUE;
            wchar_t text[512] = L"";
            TOOLINFOW tool{};
            tool.cbSize = sizeof(tool);
            tool.hwnd = s->field;
            tool.uId = 1;
            tool.lpszText = text;
            SendMessageW(window, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
            if (text[0] != L'\0') s->text = text;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.text;
}

// A device that reports a longer version than the field holds: the field
// ends it in an ellipsis and its tooltip shows it whole; the window text
// (what a screen reader reads) stays whole. A version that fits has no tip.
TEST(MainWindow, LongVersionShowsWholeInATooltip) {
    MainWindowHarness harness;
    const std::wstring longVersion = L"1.0.0-20261208-userdebug-test-keys";
    std::wstring longTip, longText, shortTip, shortText;
    harness.Run({[&](CDeviceManagerDlg &window) {
        HWND field = GetDlgItem(window.GetSafeHwnd(), IDC_DEVICE_SW_VERSION);
        SetWindowTextW(field, longVersion.c_str());
        longTip = TipOf(field);
        longText = TextOf(field);
        SetWindowTextW(field, L"1.0.0");
        shortTip = TipOf(field);
        shortText = TextOf(field);
    }});
    EXPECT_EQ(longTip, longVersion);
    EXPECT_EQ(longText, longVersion);
    EXPECT_EQ(shortTip, L"");
    EXPECT_EQ(shortText, L"1.0.0");
}

// The pixels of one character drawn black on white in a font.
std::vector<COLORREF> Rendered(HFONT font, wchar_t character) {
    constexpr int kSide = 48;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kSide, kSide);
    ReleaseDC(nullptr, screen);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, font);
    RECT all{0, 0, kSide, kSide};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    TextOutW(dc, 2, 2, &character, 1);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

// On an English system the window's font still draws Chinese texts with
// characters, not the box of a missing glyph: each character differs from
// that box and from the others.
TEST(MainWindow, ChineseTextsShowCharactersInTheDialogFont) {
    MainWindowHarness harness;
    std::vector<std::vector<COLORREF>> drawn;
    std::vector<COLORREF> missing, blank;
    harness.Run({[&](CDeviceManagerDlg &window) {
        HFONT font = reinterpret_cast<HFONT>(
            SendMessageW(GetDlgItem(window.GetSafeHwnd(), IDC_UPGRADE), WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        missing = Rendered(font, 0xE000); // private use: no font has it
        blank = Rendered(font, L' ');
        for (wchar_t c : std::wstring(L"\x5347\x7EA7\x4FEE\x590D\x9000\x51FA")) // 升级修复退出
            drawn.push_back(Rendered(font, c));
    }});
    int characters = 0;
    for (size_t i = 0; i < drawn.size(); ++i) {
        bool unique = drawn[i] != missing && drawn[i] != blank;
        for (size_t j = 0; j < drawn.size(); ++j)
            unique = unique && (i == j || drawn[i] != drawn[j]);
        characters += unique ? 1 : 0;
    }
    EXPECT_EQ(characters, 6);
}

// Moved to a monitor of another scale, the window takes the size and place
// the system proposes.
TEST(MainWindow, TakesTheProposedRectangleWhenTheScaleChanges) {
    MainWindowHarness harness;
    RECT proposed{}, after{};
    harness.Run({[&](CDeviceManagerDlg &window) {
        HWND dialog = window.GetSafeHwnd();
        GetWindowRect(dialog, &proposed);
        proposed.right += proposed.right - proposed.left;  // twice as wide
        proposed.bottom += proposed.bottom - proposed.top; // and as high
        constexpr UINT kDpiChanged = 0x02E0;               // WM_DPICHANGED
        SendMessageW(dialog, kDpiChanged, MAKEWPARAM(192, 192),
                     reinterpret_cast<LPARAM>(&proposed));
        GetWindowRect(dialog, &after);
    }});
    EXPECT_EQ(after.left, proposed.left);
    EXPECT_EQ(after.top, proposed.top);
    EXPECT_EQ(after.right, proposed.right);
    EXPECT_EQ(after.bottom, proposed.bottom);
}

TEST(MainWindow, TitleRules) {
    struct {
        const wchar_t *settings;
        const wchar_t *extraStrings;
        const wchar_t *title;
    } const cases[] = {
        {L"APPTITLE=Test Manager\r\nLANGUAGE=Test\r\n", L"", L"Test Manager v1.2 "},
        {L"LANGUAGE=Test\r\n", L"", L" v1.2 "},
        {L"APPTITLE=Test Manager\r\nLANGUAGE=Test\r\n", L"IDD102_TITLE=From the file\r\n",
         L"From the file"},
        {L"LANGUAGE=Test\r\n", L"IDD102_TITLE=From the file\r\n", L"From the file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        MainWindowHarness harness;
        harness.WriteSettings(c.settings);
        harness.WriteLanguage(std::wstring(kTestStrings) + c.extraStrings);
        std::wstring title;
        harness.Run({[&](CDeviceManagerDlg &window) { title = TextOf(window.GetSafeHwnd()); }});
        EXPECT_EQ(title, c.title);
    }
}

TEST(MainWindow, AboutItemFollowsItsLanguageText) {
    struct {
        const wchar_t *strings;
        const wchar_t *item; // empty: no item
    } const cases[] = {
        {L"IDS_39=About %s...\r\n", L"About Test Manager..."},
        {L"IDS_39=Info\r\n", L"Info"},
        {L"", L""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        MainWindowHarness harness;
        harness.WriteLanguage(c.strings);
        std::wstring item;
        int separators = 0;
        harness.Run({[&](CDeviceManagerDlg &window) {
            HMENU menu = GetSystemMenu(window.GetSafeHwnd(), FALSE);
            item = MenuItemText(menu, IDM_ABOUTBOX);
            const int count = GetMenuItemCount(menu);
            if (count > 0 && (GetMenuState(menu, count - 1, MF_BYPOSITION) & MF_SEPARATOR) == 0 &&
                GetMenuItemID(menu, count - 1) == IDM_ABOUTBOX)
                separators = (GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR) ? 1 : 0;
        }});
        EXPECT_EQ(item, c.item);
        if (*c.item) {
            EXPECT_EQ(separators, 1);
        }
    }
}

TEST(MainWindow, AboutItemOpensTheAboutBox) {
    MainWindowHarness harness;
    HWND about = nullptr;
    std::wstring title, name, version;
    bool pictureShown = false;
    RECT size{}, templateSize{0, 0, 242, 149}, picture{};
    bool everyControlInside = true;
    harness.Run({
        [&](CDeviceManagerDlg &window) {
            PostMessageW(window.GetSafeHwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        },
        [&](CDeviceManagerDlg &window) {
            about = FindOwnedDialog(window.GetSafeHwnd());
            ASSERT_NE(about, nullptr);
            EXPECT_FALSE(IsWindowEnabled(window.GetSafeHwnd()));
            title = TextOf(about);
            name = TextOf(GetDlgItem(about, IDC_ABOUT_TITLE));
            version = TextOf(GetDlgItem(about, IDC_ABOUT_VERSION));
            pictureShown = IsWindowVisible(GetDlgItem(about, IDC_ABOUT_PICTURE)) != FALSE;
            GetClientRect(about, &size);
            GetClientRect(GetDlgItem(about, IDC_ABOUT_PICTURE), &picture);
            MapDialogRect(about, &templateSize);
            for (HWND child = GetWindow(about, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                RECT rect = RectInParent(child);
                if (IsWindowVisible(child) &&
                    (rect.right > size.right || rect.bottom > size.bottom))
                    everyControlInside = false;
            }
            PostMessageW(about, WM_COMMAND, IDOK, 0);
        },
        [&](CDeviceManagerDlg &window) {
            EXPECT_FALSE(IsWindow(about));
            EXPECT_TRUE(IsWindowEnabled(window.GetSafeHwnd()));
        },
    });
    EXPECT_EQ(title, L"About Test Manager");
    EXPECT_EQ(name, L"Test Manager");
    EXPECT_EQ(version, L"Version v1.2 ");
    EXPECT_TRUE(pictureShown); // no AboutTitle.BMP in the current directory
    // The box is as wide as its picture and as high as its template: the
    // version line, the notice and OK all show.
    EXPECT_EQ(size.right, picture.right);
    EXPECT_EQ(size.bottom, templateSize.bottom);
    EXPECT_TRUE(everyControlInside);
}

TEST(MainWindow, EscapeEnterAndStrayCommandsDoNotClose) {
    MainWindowHarness harness;
    harness.Run({
        [&](CDeviceManagerDlg &window) {
            HWND exitButton = GetDlgItem(window.GetSafeHwnd(), IDC_EXIT);
            SetFocus(exitButton);
            PostMessageW(exitButton, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(exitButton, WM_KEYUP, VK_ESCAPE, 0);
            PostMessageW(GetDlgItem(window.GetSafeHwnd(), IDC_FIRMWARE_PATH), WM_KEYDOWN, VK_RETURN,
                         0);
            PostMessageW(window.GetSafeHwnd(), WM_COMMAND, IDOK, 0);
            PostMessageW(window.GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
        },
        [&](CDeviceManagerDlg &window) {
            EXPECT_TRUE(IsWindowVisible(window.GetSafeHwnd()));
            EXPECT_TRUE(harness.boxes.shown.empty()) << "nothing asks to exit";
        },
    });
}

// Enter in each control a keyboard user can reach, with a device shown and
// both job buttons enabled, and Enter again in whatever box comes: no job
// starts and the window stays. Browse and Exit are left out: Enter presses
// them as a click would (the Open dialog, the exit question).
TEST(MainWindow, EnterInEachControlStartsNothing) {
    MainWindowHarness harness;
    harness.library.search = [](DEVICE_INFO *info) {
        *info = DEVICE_INFO{};
        info->identity = 5;
        info->deviceType = QV_DEVICE_MSC;
        return 1;
    };
    std::vector<HWND> reachable;
    std::vector<MainWindowHarness::Stage> stages;
    stages.push_back([&](CDeviceManagerDlg &window) {
        HWND dialog = window.GetSafeHwnd();
        for (int i = 0; i < 250 && !IsWindowEnabled(GetDlgItem(dialog, IDC_UPGRADE)); ++i)
            PumpMessages(20);
        ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_REPAIR)));
        for (HWND child = GetWindow(dialog, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            const LONG style = GetWindowLongW(child, GWL_STYLE);
            const int id = GetDlgCtrlID(child);
            if ((style & WS_TABSTOP) && IsWindowVisible(child) && IsWindowEnabled(child) &&
                id != IDC_BROWSE && id != IDC_EXIT)
                reachable.push_back(child);
        }
        EXPECT_GE(reachable.size(), 3u); // the path field, Upgrade, Repair at least
    });
    constexpr size_t kMostControls = 12;
    for (size_t i = 0; i < kMostControls; ++i) {
        stages.push_back([&, i](CDeviceManagerDlg &window) {
            if (i >= reachable.size()) return;
            harness.boxes.answers.assign(4, ScriptedBoxes::kPressEnter);
            harness.boxes.shown.clear();
            // As Tab brings it there: a focused push button becomes the default.
            SendMessageW(window.GetSafeHwnd(), WM_NEXTDLGCTL,
                         reinterpret_cast<WPARAM>(reachable[i]), TRUE);
            PostMessageW(reachable[i], WM_KEYDOWN, VK_RETURN, 0);
            PostMessageW(reachable[i], WM_KEYUP, VK_RETURN, 0);
        });
        stages.push_back([&, i](CDeviceManagerDlg &window) {
            if (i >= reachable.size()) return;
            const int id = GetDlgCtrlID(reachable[i]);
            SCOPED_TRACE("Enter in control " + std::to_string(id));
            EXPECT_TRUE(IsWindowVisible(window.GetSafeHwnd()));
            EXPECT_EQ(harness.state.g_jobActive.load(), 0);
            EXPECT_EQ(harness.state.g_upgradeRunning.load(), 0);
            EXPECT_EQ(harness.state.g_repairRunning.load(), 0);
            // Only a job button's own click may ask or refuse something.
            if (id != IDC_UPGRADE && id != IDC_REPAIR) {
                EXPECT_TRUE(harness.boxes.shown.empty());
            }
            for (const ShownBox &box : harness.boxes.shown) {
                if ((box.style & 0xF) == MB_YESNO) {
                    EXPECT_EQ(box.style & MB_DEFMASK, static_cast<unsigned>(MB_DEFBUTTON2));
                }
            }
        });
    }
    harness.Run(stages);
    EXPECT_TRUE(harness.closedByExit);
}

TEST(MainWindow, ExitAsksAndNoChangesNothing) {
    struct Route {
        const char *name;
        UINT message;
        WPARAM wParam;
    };
    const Route exitButton{"Exit button", WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED)};
    const Route close{"WM_CLOSE", WM_CLOSE, 0};
    const Route systemClose{"system Close", WM_SYSCOMMAND, SC_CLOSE};
    const struct {
        const char *name;
        int upgradeRunning, repairRunning;
        Route route;
        const wchar_t *question;
    } cases[] = {
        {"no job", 0, 0, exitButton, L"Exit the program?"},
        {"no job", 0, 0, close, L"Exit the program?"},
        {"no job", 0, 0, systemClose, L"Exit the program?"},
        {"upgrade", 1, 0, exitButton, L"A job runs. Exit anyway?"},
        {"repair", 0, 1, systemClose, L"A job runs. Exit anyway?"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " through " + c.route.name);
        MainWindowHarness harness;
        const std::wstring loader = harness.folder.Path() + L"QVBOOT.BIN";
        WriteUtf16File(loader, L"loader");
        harness.state.g_loaderFilePath = loader;
        harness.WriteSettings(L"APPTITLE=Test Manager\r\nLANGUAGE=Test\r\n",
                              L"[DEBUG]\r\nPRINT_LOG=1\r\n");
        harness.state.g_upgradeRunning = c.upgradeRunning;
        harness.state.g_repairRunning = c.repairRunning;
        harness.Run({
            [&](CDeviceManagerDlg &window) {
                harness.boxes.answers.assign(1, IDNO);
                PostMessageW(window.GetSafeHwnd(), c.route.message, c.route.wParam, 0);
            },
            [&](CDeviceManagerDlg &window) {
                ASSERT_EQ(harness.boxes.shown.size(), 1u);
                const ShownBox &box = harness.boxes.shown[0];
                EXPECT_EQ(box.text, c.question);
                EXPECT_EQ(box.caption, L"Test Manager");
                // Leaving a running job is not what Enter does.
                const unsigned defaultButton =
                    c.upgradeRunning || c.repairRunning ? MB_DEFBUTTON2 : 0;
                EXPECT_EQ(box.style,
                          static_cast<unsigned>(MB_YESNO | MB_ICONEXCLAMATION | defaultButton));
                EXPECT_EQ(box.owner, window.GetSafeHwnd());
                EXPECT_TRUE(IsWindowVisible(window.GetSafeHwnd()));
                EXPECT_NE(GetFileAttributesW(loader.c_str()), INVALID_FILE_ATTRIBUTES);
                EXPECT_EQ(harness.library.deinitCalls, 0);
                EXPECT_FALSE(harness.gate.IsClosed());
            },
        });
        // The harness then answered Yes: the loader file and the library
        // went, and the gate stays shut for the workers.
        EXPECT_TRUE(harness.closedByExit);
        EXPECT_EQ(harness.boxes.shown.size(), 2u);
        EXPECT_EQ(GetFileAttributesW(loader.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(harness.library.deinitCalls, 1);
        EXPECT_TRUE(harness.gate.IsClosed());
    }
}

TEST(MainWindow, UnreadableSettingsEndTheProgram) {
    MainWindowHarness harness;
    const std::wstring settings = harness.folder.Path() + L"setting.ini";
    DeleteFileW(settings.c_str());
    CreateDirectoryW(settings.c_str(), nullptr); // cannot be opened as a file
    harness.expectExitProcedure = false;
    harness.Run({});
    RemoveDirectoryW(settings.c_str());
    EXPECT_EQ(harness.endProcessCode, 1);
    EXPECT_FALSE(harness.closedByExit);
    ASSERT_EQ(harness.boxes.shown.size(), 1u);
    EXPECT_EQ(harness.boxes.shown[0].text, L"Failure to Load setting!");
    EXPECT_EQ(harness.boxes.shown[0].caption, L"ERROR");
    EXPECT_EQ(harness.library.mainWindow, nullptr) << "nothing else ran";
}

TEST(MainWindow, LoggingOffLeavesTheLibraryAlone) {
    MainWindowHarness harness;
    harness.WriteSettings(L"APPTITLE=Test Manager\r\nLANGUAGE=Test\r\n",
                          L"[DEBUG]\r\nPRINT_LOG=2\r\n");
    harness.Run({});
    EXPECT_TRUE(harness.closedByExit);
    EXPECT_EQ(harness.library.initCalls, 0);
    EXPECT_EQ(harness.library.deinitCalls, 0);
}

TEST(MainWindow, HandsTheIdentitiesAndItsHandleToTheLibrary) {
    MainWindowHarness harness;
    harness.WriteSettings(L"LANGUAGE=Test\r\n", L"[DEVICE_ID]\r\nVID=0x1A2B\r\nPID=3C4D\r\n"
                                                L"[MSC_ID]\r\nVID=0x0005\r\nPID=0x0006\r\n"
                                                L"[ADB_ID]\r\nVID=7\r\nPID=0x8G\r\n");
    HWND shown = nullptr;
    harness.Run({[&](CDeviceManagerDlg &window) { shown = window.GetSafeHwnd(); }});
    EXPECT_EQ(harness.library.mainWindow, shown);
    const std::vector<uint16_t> expected{0x1A2B, 0x3C4D, 5, 6, 7, 8};
    EXPECT_EQ(harness.library.vidPid, expected);
}

// A worker that writes into the window in gate sections, as the watcher
// does, while the user leaves: the exit ends it, and nothing it writes after
// the exit reaches a window.
TEST(MainWindow, ExitWhileAWorkerWritesEndsCleanly) {
    MainWindowHarness harness;
    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::atomic<int> writesAfterClose{0};
    std::thread worker;
    harness.Run({[&](CDeviceManagerDlg &window) {
        worker = std::thread([&, view = static_cast<IMainView *>(&window)] {
            while (!stop) {
                {
                    GateSection section(harness.gate);
                    if (!section) {
                        // Past the gate the view is still there, but it
                        // reaches no window any more.
                        view->SetItemText(IDC_DETAIL_LINE, L"late");
                        view->EnableItem(IDC_UPGRADE, true);
                        ++writesAfterClose;
                        break;
                    }
                    view->SetItemText(IDC_DETAIL_LINE, L"cycle " + std::to_wstring(++writes));
                }
                Sleep(5);
            }
        });
        while (writes < 3)
            PumpMessages(10);
    }});
    stop = true;
    worker.join();
    EXPECT_TRUE(harness.closedByExit);
    EXPECT_GE(writes.load(), 3);
    EXPECT_EQ(writesAfterClose.load(), 1);
}

// A search blocked inside the library while the user clicks Upgrade: the
// click waits a few seconds at most, the window keeps painting and taking
// input meanwhile (a second click among it starts nothing), and then the
// click is given up with nothing shown; once the search has returned, the
// next click goes on to its checks.
TEST(MainWindow, ClickDuringABlockedSearchNeverFreezesTheWindow) {
    MainWindowHarness harness;
    harness.WriteLanguage(std::wstring(kTestStrings) + L"IDS_47=Choose an image first\r\n");
    HANDLE inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> blockNext{false};
    harness.library.search = [&](DEVICE_INFO *info) {
        *info = DEVICE_INFO{};
        info->identity = 5;
        info->deviceType = QV_DEVICE_LOADER;
        if (blockNext.exchange(false)) {
            SetEvent(inside);
            // Longer than the click waits; bounded, so that a window that
            // waits for it all the same fails the test instead of hanging.
            WaitForSingleObject(release, 8000);
        }
        return 1;
    };

    DWORD clickMs = 0;
    bool painted = false;
    bool secondClickLeftQueued = true;
    std::wstring statusAfter;
    harness.Run({
        [&](CDeviceManagerDlg &window) {
            HWND dialog = window.GetSafeHwnd();
            for (int i = 0; i < 250 && !IsWindowEnabled(GetDlgItem(dialog, IDC_UPGRADE)); ++i)
                PumpMessages(20);
            ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPGRADE)));
            const std::wstring statusBefore = TextOf(GetDlgItem(dialog, IDC_STATUS_LINE));
            blockNext = true;
            ASSERT_EQ(WaitForSingleObject(inside, 5000), WAIT_OBJECT_0);

            // Something to paint, and a second click, both waiting in the
            // queue when the first click comes.
            HWND status = GetDlgItem(dialog, IDC_STATUS_LINE);
            InvalidateRect(status, nullptr, TRUE);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_REPAIR, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_REPAIR)));
            const DWORD start = GetTickCount();
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPGRADE, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_UPGRADE)));
            clickMs = GetTickCount() - start;

            RECT unpainted{};
            painted = GetUpdateRect(status, &unpainted, FALSE) == FALSE;
            MSG queued;
            secondClickLeftQueued =
                PeekMessageW(&queued, dialog, WM_COMMAND, WM_COMMAND, PM_NOREMOVE) != FALSE;
            EXPECT_TRUE(harness.boxes.shown.empty()) << "the click was not given up quietly";
            EXPECT_EQ(harness.state.g_jobActive.load(), 0);
            EXPECT_EQ(harness.state.g_upgradeRunning.load(), 0);
            EXPECT_EQ(harness.state.g_repairRunning.load(), 0);
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPGRADE)));
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_BROWSE)));
            statusAfter = TextOf(status);
            EXPECT_EQ(statusAfter, statusBefore);
            SetEvent(release);
        },
        [&](CDeviceManagerDlg &window) {
            // The search has returned: the next click reaches its checks.
            HWND dialog = window.GetSafeHwnd();
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPGRADE, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_UPGRADE)));
            ASSERT_EQ(harness.boxes.shown.size(), 1u);
            EXPECT_EQ(harness.boxes.shown[0].text, L"Choose an image first");
            EXPECT_EQ(harness.state.g_jobActive.load(), 0);
        },
    });
    SetEvent(release);
    CloseHandle(inside);
    CloseHandle(release);
    EXPECT_GE(clickMs, kWatchIdleWaitMs - 100);
    EXPECT_LT(clickMs, kWatchIdleWaitMs + 2000);
    EXPECT_TRUE(painted) << "the window did not paint while the click waited";
    EXPECT_FALSE(secondClickLeftQueued) << "input waited in the queue";
}

// Each job runs on a thread of its own; a finished one must not keep its
// thread object, and with it a handle, until the process ends.
TEST(WorkerThreads, FiftyJobsHoldNoMoreThreadHandlesThanOne) {
    WorkerThreads workers;
    auto runJob = [&workers] {
        std::atomic<bool> ended{false};
        ASSERT_TRUE(workers.Start([&ended] { ended = true; }));
        while (!ended)
            Sleep(1);
        Sleep(10); // past the body: the thread itself ends
    };
    runJob();
    const long afterOne = ProcessHandleCount();
    ASSERT_GT(afterOne, 0);
    for (int job = 1; job < 50; ++job)
        runJob();
    const long afterFifty = ProcessHandleCount();
    EXPECT_LE(afterFifty, afterOne);
    EXPECT_TRUE(workers.WaitAll(2000));
}

// Releasing the finished threads must never wait for one still running: a
// job is started while the watcher runs for the life of the process.
TEST(WorkerThreads, AStartDoesNotWaitForARunningThread) {
    WorkerThreads workers;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(workers.Start([release] { WaitForSingleObject(release, 10000); }));
    std::atomic<bool> ran{false};
    const DWORD started = GetTickCount();
    ASSERT_TRUE(workers.Start([&ran] { ran = true; }));
    while (!ran)
        Sleep(1);
    EXPECT_LT(GetTickCount() - started, 2000u);
    SetEvent(release);
    EXPECT_TRUE(workers.WaitAll(5000));
    CloseHandle(release);
}

TEST(MainWindow, TitlePictureFromTheCurrentDirectory) {
    MainWindowHarness harness;
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    WriteBitmapFile(harness.folder.Path() + L"Title.BMP", 200, 80, RGB(200, 30, 40));
    SetCurrentDirectoryW(harness.folder.Path().c_str());
    bool pictureControlShown = true;
    COLORREF inside = 0, outside = 0;
    harness.Run({[&](CDeviceManagerDlg &window) {
        HWND dialog = window.GetSafeHwnd();
        pictureControlShown = IsWindowVisible(GetDlgItem(dialog, IDC_TITLE_PICTURE)) != FALSE;
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        HDC dc = GetDC(dialog);
        inside = GetPixel(dc, 20 + 149, 10 + 53);  // the last pixel of the 150 x 54 block
        outside = GetPixel(dc, 20 + 150, 10 + 20); // cut: not drawn
        ReleaseDC(dialog, dc);
    }});
    SetCurrentDirectoryW(previous);
    EXPECT_FALSE(pictureControlShown);
    EXPECT_EQ(inside, RGB(200, 30, 40));
    EXPECT_NE(outside, RGB(200, 30, 40));
}

} // namespace
