// A small modal-dialog wrapper: one static dialog procedure that finds its
// object, virtual handlers for what our dialogs use, and a modal loop of our
// own so that a dialog can look at a message before IsDialogMessageW turns
// keys into commands.
#pragma once

#include <windows.h>

#include <cstdint>

class CDialog {
  public:
    // owner may be null: the dialog is then a top-level window of its own.
    CDialog(int templateId, HWND owner);
    virtual ~CDialog();
    CDialog(const CDialog &) = delete;
    CDialog &operator=(const CDialog &) = delete;

    // Creates the dialog from its template in this program's resources and
    // runs it until EndDialog, with its owner disabled meanwhile, as
    // DialogBoxW does. Returns the EndDialog result, or -1 when the dialog
    // could not be created.
    INT_PTR DoModal();
    // Ends the modal loop; the window is destroyed when the loop returns.
    void EndDialog(INT_PTR result);

    // Handles this thread's messages as the modal loop does, for about the
    // given time: a handler that must wait keeps the window painting and
    // answering meanwhile. Whatever the messages run (another click, the
    // exit) may run inside it; it stops early once the dialog has ended.
    void PumpMessages(uint32_t milliseconds);

    HWND GetSafeHwnd() const { return m_hwnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hwnd, id); }
    int TemplateId() const { return m_templateId; }

  protected:
    // Runs inside WM_INITDIALOG. TRUE lets the system set the focus. When
    // the window has not been moved meanwhile, it is centred afterwards over
    // its owner (or the screen while the owner is hidden).
    virtual BOOL OnInitDialog() { return TRUE; }
    // WM_COMMAND; the default sends IDOK and IDCANCEL to OnOK and OnCancel.
    virtual bool OnCommand(int id, int notifyCode, HWND control);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Return true when handled; false passes the message to the default.
    virtual bool OnTimer(UINT_PTR /*timerId*/) { return false; }
    virtual bool OnPaint() { return false; }
    virtual bool OnClose() { return false; }
    virtual void OnDestroy() {}
    // Seen by the modal loop before IsDialogMessageW; true swallows it.
    virtual bool PreTranslateMessage(MSG & /*message*/) { return false; }
    // Any other message. Return true with result set when handled.
    virtual bool OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/,
                           INT_PTR & /*result*/) {
        return false;
    }

    HWND m_hwnd = nullptr;

  private:
    // One message of the modal loop: the hook, the dialog keys, the window.
    void HandleMessage(MSG &message);
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result);
    void CenterOverOwner();

    int m_templateId;
    HWND m_owner;
    bool m_ended = false;
    INT_PTR m_result = -1;
};

// Centres a window over another (or the work area of its monitor when the
// other is null, hidden or minimised), kept inside that work area.
void CenterWindowOver(HWND window, HWND over);
