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

void CStandInPicture::Show(HWND control, int bitmapId, UINT dpi) {
    if (control == nullptr) return;
    if (dpi != kDefaultDpi) {
        HINSTANCE module = GetModuleHandleW(nullptr);
        HBITMAP original = static_cast<HBITMAP>(
            LoadImageW(module, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, 0));
        BITMAP facts{};
        if (original != nullptr && GetObjectW(original, sizeof(facts), &facts) != 0) {
            HBITMAP scaled = static_cast<HBITMAP>(LoadImageW(
                module, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, ScaleForDpi(facts.bmWidth, dpi),
                ScaleForDpi(facts.bmHeight, dpi), LR_CREATEDIBSECTION));
            if (scaled != nullptr) {
                SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled));
                Release();
                m_scaled = scaled;
            }
        }
        if (original != nullptr) DeleteObject(original);
    }
    ShowWindow(control, SW_SHOWNORMAL);
}

void CStandInPicture::Release() {
    if (m_scaled != nullptr) DeleteObject(m_scaled);
    m_scaled = nullptr;
}
