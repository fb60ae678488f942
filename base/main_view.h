// The main window as the logic sees it. The Win32 dialog implements it with
// synchronous calls on window handles (SetDlgItemTextW, EnableWindow,
// MessageBoxW), so worker threads may call the control methods; tests
// implement it with a recording fake.
#pragma once

#include <optional>
#include <string>

// Message box styles and answers, with the platform's values.
namespace mb {
constexpr unsigned kOk = 0x0;
constexpr unsigned kYesNo = 0x4;
constexpr unsigned kIconError = 0x10; // MB_ICONHAND / MB_ICONERROR
constexpr unsigned kIconExclamation = 0x30;
constexpr unsigned kIconInformation = 0x40;
// MB_DEFBUTTON2: in a Yes/No box, No. Every question whose Yes starts or
// abandons something that cannot be taken back asks with it, so that Enter
// alone never says Yes.
constexpr unsigned kDefaultButton2 = 0x100;
constexpr unsigned kDefaultButtonMask = 0xF00; // MB_DEFMASK
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
} // namespace mb

class IMainView {
  public:
    virtual ~IMainView() = default;

    // Control texts and enable states; callable from any thread.
    virtual void SetItemText(int controlId, const std::wstring &text) = 0;
    virtual void EnableItem(int controlId, bool enable) = 0;

    // A message box owned by the main window. No caption (std::nullopt) lets
    // the platform show the application's name. Returns the button chosen.
    virtual int ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                            unsigned style) = 0;

    // Busy bar: start and stop the animation; Reset sets the position to 0
    // and repaints the whole control.
    virtual void StartBusy() = 0;
    virtual void StopBusy() = 0;
    virtual void ResetBusy() = 0;

    virtual void StartTimer(int timerId, unsigned periodMs) = 0;
    virtual void StopTimer(int timerId) = 0;

    // WM_UPGRADE_RESULT, posted (never sent) so the job thread does not wait.
    virtual void PostUpgradeResult(int mode, int resultCode) = 0;
};
