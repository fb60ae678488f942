// The splash screen: the start-up picture with the version written over it,
// shown for two seconds while the main window initialises.
#pragma once

#include "controls/text_overlay_win.h"
#include "ui/dialog_win.h"
#include "ui/picture_win.h"

class CSplashDlg : public CDialog {
  public:
    explicit CSplashDlg(HWND owner);
    ~CSplashDlg() override;

    static constexpr UINT kShowMs = 2000;

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override {} // Enter does not close the splash
    void OnCancel() override;
    bool OnTimer(UINT_PTR timerId) override;
    bool OnPaint() override;
    void OnDestroy() override;

  private:
    CTextOverlay m_overlay; // the version line, drawn over the picture
    CPicture m_picture;
    CStandInPicture m_standIn; // when the picture file is missing
};
