#include "ui/picture_win.h"

bool CPicture::LoadFromFile(const wchar_t *fileName) {
    Release();
    m_bitmap = static_cast<HBITMAP>(
        LoadImageW(nullptr, fileName, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    return m_bitmap != nullptr;
}

void CPicture::Release() {
    if (m_bitmap) {
        DeleteObject(m_bitmap);
        m_bitmap = nullptr;
    }
}

void BlitPicture(HDC target, HBITMAP bitmap, int x, int y, int width, int height, UINT dpi) {
    if (!bitmap) return;
    BITMAP facts{};
    if (GetObjectW(bitmap, sizeof(facts), &facts) == 0) return;
    const int sourceWidth = facts.bmWidth < width ? facts.bmWidth : width;
    const int sourceHeight = facts.bmHeight < height ? facts.bmHeight : height;
    HDC memory = CreateCompatibleDC(target);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    if (dpi == kDefaultDpi) {
        BitBlt(target, x, y, sourceWidth, sourceHeight, memory, 0, 0, SRCCOPY);
    } else {
        // HALFTONE averages the source pixels: a scaled picture is smooth,
        // not blocky.
        const int oldMode = SetStretchBltMode(target, HALFTONE);
        SetBrushOrgEx(target, 0, 0, nullptr);
        StretchBlt(target, ScaleForDpi(x, dpi), ScaleForDpi(y, dpi), ScaleForDpi(sourceWidth, dpi),
                   ScaleForDpi(sourceHeight, dpi), memory, 0, 0, sourceWidth, sourceHeight,
                   SRCCOPY);
        SetStretchBltMode(target, oldMode);
    }
    SelectObject(memory, previous);
    DeleteDC(memory);
}
