// A small base for our controls: it subclasses an existing window (a dialog
// control or a window we created) with SetWindowSubclass, keeping the object
// as the subclass's reference data, and lets a derived class handle
// messages. The subclass is removed at WM_NCDESTROY, or when the object goes
// first. No static state, so any number of controls can live side by side.
#pragma once

#include <windows.h>

class CSubclassedWindow {
  public:
    CSubclassedWindow() = default;
    virtual ~CSubclassedWindow();
    CSubclassedWindow(const CSubclassedWindow &) = delete;
    CSubclassedWindow &operator=(const CSubclassedWindow &) = delete;

    // Subclasses the window; false when it is not a window or this object is
    // already attached. Runs OnAttached before returning.
    bool Attach(HWND window);
    // Removes the subclass and forgets the window (which stays).
    void Detach();
    HWND Handle() const { return m_window; }

  protected:
    // Called once the subclass is in place (the hook for work on attachment).
    virtual void OnAttached() {}
    // Every message of the window; the default passes it on.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The window's own processing (the class's procedure, or the next subclass).
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR refData);

    HWND m_window = nullptr;
};

// Messages a parent reflects back to the child that caused them, so that the
// control itself decides (the control-colour notifications in particular).
// The reflected number is this base plus the original message number.
constexpr UINT kReflectedMessageBase = WM_USER + 0x1C00;
