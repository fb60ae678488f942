// A top-level window for control tests: it reflects control-colour
// notifications to its children, answers WM_GETFONT when given a font, and
// counts one chosen message.
#pragma once

#include <windows.h>

#include <vector>

class TestParent {
  public:
    explicit TestParent(int width = 400, int height = 200);
    ~TestParent();
    TestParent(const TestParent &) = delete;
    TestParent &operator=(const TestParent &) = delete;

    HWND Handle() const { return m_window; }
    // The font answered to WM_GETFONT (none by default); owned by the caller.
    void SetFont(HFONT font) { m_font = font; }
    // Records wParam of every `message` the window receives.
    void Watch(UINT message) { m_watched = message; }
    const std::vector<WPARAM> &Seen() const { return m_seen; }

    HWND AddStatic(const wchar_t *text, int x, int y, int width, int height, int id,
                   DWORD style = 0);

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    UINT m_watched = 0;
    std::vector<WPARAM> m_seen;
};

// Handles whatever is queued for this thread, for about `ms` milliseconds.
void PumpMessages(DWORD ms);

// Paints the window now and reads a pixel of its client area from the screen.
COLORREF ScreenPixel(HWND window, int x, int y);

// A font the system surely has, for texts that must be measured.
HFONT MakeTestFont(int height = -13);
