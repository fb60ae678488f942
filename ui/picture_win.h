// Pictures that dialogs load from bitmap files and draw themselves.
#pragma once

#include <windows.h>

#include "controls/dpi_scale.h"

// Owns one bitmap loaded from a file (LR_LOADFROMFILE, the file's own size);
// null when the file is missing or not a bitmap.
class CPicture {
  public:
    CPicture() = default;
    ~CPicture() { Release(); }
    CPicture(const CPicture &) = delete;
    CPicture &operator=(const CPicture &) = delete;

    // A name without a folder is looked for in the current directory.
    bool LoadFromFile(const wchar_t *fileName);
    void Release();
    HBITMAP Handle() const { return m_bitmap; }
    explicit operator bool() const { return m_bitmap != nullptr; }

  private:
    HBITMAP m_bitmap = nullptr;
};

// Draws the top-left width x height pixels of a bitmap (a larger bitmap is
// cut) at (x, y) of a device context, all four designed at 96 dpi and scaled
// to dpi: the picture keeps its place and share of the window at any scale.
void BlitPicture(HDC target, HBITMAP bitmap, int x, int y, int width, int height,
                 UINT dpi = kDefaultDpi);

// The built-in picture a picture control shows when its file is missing,
// at the window's scale: above 96 dpi the control gets a copy of its bitmap
// resource made at the scaled size, which this object owns.
class CStandInPicture {
  public:
    CStandInPicture() = default;
    ~CStandInPicture() { Release(); }
    CStandInPicture(const CStandInPicture &) = delete;
    CStandInPicture &operator=(const CStandInPicture &) = delete;

    // Shows the control with its resource bitmap scaled to dpi.
    void Show(HWND control, int bitmapId, UINT dpi);
    void Release();

  private:
    HBITMAP m_scaled = nullptr;
};
