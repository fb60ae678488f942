#include "controls/subclassed_window_win.h"

#include <commctrl.h>

namespace {
// One id for all of our subclasses: a window carries at most one object.
constexpr UINT_PTR kSubclassId = 1;
} // namespace

CSubclassedWindow::~CSubclassedWindow() {
    Detach();
}

bool CSubclassedWindow::Attach(HWND window) {
    if (m_window != nullptr || !IsWindow(window)) return false;
    if (!SetWindowSubclass(window, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_window = window;
    OnAttached();
    return true;
}

void CSubclassedWindow::Detach() {
    if (m_window == nullptr) return;
    RemoveWindowSubclass(m_window, SubclassProc, kSubclassId);
    m_window = nullptr;
}

LRESULT CSubclassedWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(message, wParam, lParam);
}

LRESULT CSubclassedWindow::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(m_window, message, wParam, lParam);
}

LRESULT CALLBACK CSubclassedWindow::SubclassProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam, UINT_PTR, DWORD_PTR refData) {
    auto *self = reinterpret_cast<CSubclassedWindow *>(refData);
    if (message == WM_NCDESTROY) {
        // The window is going: let it finish, then let go of it.
        RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        self->m_window = nullptr;
        return DefSubclassProc(window, message, wParam, lParam);
    }
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the window system.
        return DefSubclassProc(window, message, wParam, lParam);
    }
}
