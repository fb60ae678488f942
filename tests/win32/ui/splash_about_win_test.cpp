// The splash screen and the About box on their own: the splash closes by
// itself after two seconds whatever the keys say, keeps drawing its picture
// after Escape, and both fall back to their built-in pictures.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "ui/about_dialog_win.h"
#include "ui/splash_dialog_win.h"
#include "ui_test_support_win.h"

namespace {

// Runs stages, one per timer tick, inside the modal loop of whatever dialog
// runs meanwhile on this thread.
class StageRunner {
  public:
    explicit StageRunner(std::vector<std::function<void()>> stages) : m_stages(std::move(stages)) {
        m_current = this;
        m_timer = SetTimer(nullptr, 0, 100, Tick);
    }
    ~StageRunner() {
        KillTimer(nullptr, m_timer);
        m_current = nullptr;
    }
    bool Done() const { return m_next >= m_stages.size(); }

  private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (m_current && !m_current->Done()) m_current->m_stages[m_current->m_next++]();
    }
    static StageRunner *m_current;
    std::vector<std::function<void()>> m_stages;
    size_t m_next = 0;
    UINT_PTR m_timer = 0;
};
StageRunner *StageRunner::m_current = nullptr;

// The current directory for one test, set back afterwards.
class InFolder {
  public:
    explicit InFolder(const std::wstring &folder) {
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~InFolder() { SetCurrentDirectoryW(m_previous); }

  private:
    wchar_t m_previous[MAX_PATH];
};

// Notes when the splash's own timer ends it (the window then takes a while
// to go under a display without a window manager).
class TimedSplash : public CSplashDlg {
  public:
    TimedSplash() : CSplashDlg(nullptr) {}
    DWORD endedAt = 0;

  protected:
    bool OnTimer(UINT_PTR timerId) override {
        const bool handled = CSplashDlg::OnTimer(timerId);
        if (handled && !endedAt) endedAt = GetTickCount();
        return handled;
    }
};

HWND SplashWindow() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            if (IsWindowVisible(window) && GetDlgItem(window, IDC_SPLASH_PICTURE)) {
                *reinterpret_cast<HWND *>(param) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

COLORREF PixelOf(HWND window, int x, int y) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

TEST(Splash, ClosesAfterTwoSecondsWhateverTheKeysSay) {
    TempFolder folder;
    InFolder inFolder(folder.Path());
    WriteBitmapFile(folder.Path() + L"Startup.BMP", 400, 300, RGB(10, 120, 200));
    HWND splash = nullptr;
    RECT size{};
    bool builtInShown = true;
    COLORREF beforeEscape = 0, afterEscape = 0;
    StageRunner stages({
        [&] {
            splash = SplashWindow();
            ASSERT_NE(splash, nullptr);
            GetClientRect(splash, &size);
            builtInShown = IsWindowVisible(GetDlgItem(splash, IDC_SPLASH_PICTURE)) != FALSE;
            beforeEscape = PixelOf(splash, 5, 5);
            PostMessageW(splash, WM_KEYDOWN, VK_RETURN, 0);
            PostMessageW(splash, WM_COMMAND, IDOK, 0);
        },
        [&] {
            PostMessageW(splash, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(splash, WM_COMMAND, IDCANCEL, 0);
        },
        // The picture is still there to draw after Escape.
        [&] { afterEscape = PixelOf(splash, 5, 5); },
    });
    TimedSplash dialog;
    const DWORD start = GetTickCount();
    dialog.DoModal();
    const DWORD shown = dialog.endedAt - start;
    EXPECT_TRUE(stages.Done());
    EXPECT_GE(shown, 1900u);
    EXPECT_LT(shown, 3000u);
    EXPECT_FALSE(IsWindow(splash));
    // The whole picture shows inside the border.
    EXPECT_EQ(size.right - size.left, 353);
    EXPECT_EQ(size.bottom - size.top, 238);
    EXPECT_FALSE(builtInShown);
    EXPECT_EQ(beforeEscape, RGB(10, 120, 200));
    EXPECT_EQ(afterEscape, RGB(10, 120, 200));
}

// Without a picture file the built-in picture shows, and the version line
// lies over it all the same: a child window of id 0 at (0, 190), 353 x 30.
TEST(Splash, ShowsTheBuiltInPictureAndTheVersionLine) {
    TempFolder folder;
    InFolder inFolder(folder.Path());
    bool builtInShown = false;
    RECT overlay{};
    bool overlayFound = false;
    StageRunner stages({[&] {
        HWND splash = SplashWindow();
        ASSERT_NE(splash, nullptr);
        builtInShown = IsWindowVisible(GetDlgItem(splash, IDC_SPLASH_PICTURE)) != FALSE;
        HWND line = GetDlgItem(splash, 0);
        overlayFound = line != nullptr && IsWindowVisible(line);
        if (line) {
            GetWindowRect(line, &overlay);
            MapWindowPoints(HWND_DESKTOP, splash, reinterpret_cast<POINT *>(&overlay), 2);
        }
    }});
    CSplashDlg dialog(nullptr);
    dialog.DoModal();
    EXPECT_TRUE(builtInShown);
    ASSERT_TRUE(overlayFound);
    EXPECT_EQ(overlay.left, 0);
    EXPECT_EQ(overlay.top, 190);
    EXPECT_EQ(overlay.right - overlay.left, 353);
    EXPECT_EQ(overlay.bottom - overlay.top, 30);
}

TEST(AboutBox, TextsAndPicture) {
    struct {
        const wchar_t *appTitle, *aboutTitle, *versionLabel;
        const wchar_t *title, *name, *version;
        bool pictureFile;
    } const cases[] = {
        {L"QV70 Device Manager", L"About ", L"Version", L"About QV70 Device Manager",
         L"QV70 Device Manager", L"Version v1.2 ", false},
        // An empty APPTITLE leaves the name line empty; missing language
        // texts leave the title and the version alone.
        {L"", L"About ", L"", L"About ", L"", L" v1.2 ", true},
        {L"A&B", L"", L"", L"A&B", L"A&B", L" v1.2 ", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        TempFolder folder;
        InFolder inFolder(folder.Path());
        if (c.pictureFile)
            WriteBitmapFile(folder.Path() + L"AboutTitle.BMP", 300, 100, RGB(0, 200, 0));
        std::wstring title, name, version;
        bool builtInShown = false;
        COLORREF pixel = 0;
        CAboutDlg about(nullptr, c.appTitle, c.aboutTitle, c.versionLabel);
        StageRunner stages({[&] {
            HWND box = about.GetSafeHwnd();
            ASSERT_NE(box, nullptr);
            wchar_t text[256];
            GetWindowTextW(box, text, 256);
            title = text;
            GetDlgItemTextW(box, IDC_ABOUT_TITLE, text, 256);
            name = text;
            GetDlgItemTextW(box, IDC_ABOUT_VERSION, text, 256);
            version = text;
            builtInShown = IsWindowVisible(GetDlgItem(box, IDC_ABOUT_PICTURE)) != FALSE;
            pixel = PixelOf(box, 5, 5);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }});
        about.DoModal();
        EXPECT_EQ(title, c.title);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(builtInShown, !c.pictureFile);
        if (c.pictureFile) {
            EXPECT_EQ(pixel, RGB(0, 200, 0));
        }
    }
}

} // namespace
