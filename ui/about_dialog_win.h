// The About box: title picture, application title and version.
#pragma once

#include <string>

#include "ui/dialog_win.h"
#include "ui/picture_win.h"

class CAboutDlg : public CDialog {
  public:
    // aboutTitle: the ids::kAboutCaption text; versionLabel: the ids::kAboutVersion text.
    CAboutDlg(HWND owner, std::wstring appTitle, std::wstring aboutTitle,
              std::wstring versionLabel);

  protected:
    BOOL OnInitDialog() override;
    bool OnPaint() override;
    void OnDestroy() override;
    // WM_DPICHANGED: the box takes the proposed size, its pictures the scale.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) override;

  private:
    // Fits the box to its picture at the box's scale (see about_layout.h).
    void LayOut();
    int ShownPictureWidth() const;

    std::wstring m_appTitle;
    std::wstring m_aboutTitle;
    std::wstring m_versionLabel;
    CPicture m_picture;
    CStandInPicture m_standIn; // when the picture file is missing
};
