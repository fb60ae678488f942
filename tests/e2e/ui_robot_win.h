// A small UI robot for the end-to-end tests: it finds the program's windows
// and controls by their ids, clicks, reads texts and enable states, answers
// message boxes by their text and caption, and takes screenshots.
//
// Clicks that may open a modal box are posted, never sent: a sent click would
// block the robot until the box closes.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    enum class Icon { None, Error, Exclamation, Information, Question } icon = Icon::None;
    bool hasYesNo = false;
    // The button Enter presses (the dialog's default push button); 0: none.
    int defaultButton = 0;
};

class UiRobot {
  public:
    explicit UiRobot(DWORD processId) : m_processId(processId) {}

    // The program's main window: a visible top-level dialog of the process
    // that holds the given control.
    HWND WaitForMainWindow(int controlId, std::chrono::milliseconds timeout);
    HWND MainWindow() const { return m_main; }

    std::wstring Text(int controlId) const;
    bool Enabled(int controlId) const;
    // The id of the main window's control that has the keyboard focus; 0:
    // none of them.
    int FocusedControl() const;
    std::wstring Title() const;
    void Click(int controlId) const;
    void Close() const; // WM_CLOSE to the main window, posted

    // A message box of the process other than the main window, once it shows.
    bool WaitForMessageBox(MessageBoxInfo &box, std::chrono::milliseconds timeout) const;
    // True when no box of the process shows during the whole period.
    bool NoMessageBoxFor(std::chrono::milliseconds period) const;
    void Answer(const MessageBoxInfo &box, int buttonId) const;

    // Polls until the condition holds; false on time-out.
    static bool WaitUntil(const std::function<bool()> &condition,
                          std::chrono::milliseconds timeout);

    // The whole screen as a 24-bit BMP file.
    static bool SaveScreenshot(const std::wstring &bmpPath);
    // Only the given area of the screen.
    static bool SaveScreenshot(const std::wstring &bmpPath, const RECT &area);
    // The smallest rectangle around every visible top-level window of the
    // process; empty when none shows.
    RECT WindowsArea() const;

    // The Open dialog of the process, once it shows: a dialog with a file
    // name field (the explorer-style edit 1152 or the combo box 1148).
    HWND WaitForOpenDialog(std::chrono::milliseconds timeout) const;
    // Types the path into the Open dialog and presses Open.
    static void ChooseFile(HWND openDialog, const std::wstring &path);
    // Presses Cancel in a dialog and waits until it has gone.
    static void CancelDialog(HWND dialog);

  private:
    DWORD m_processId;
    HWND m_main = nullptr;
};
