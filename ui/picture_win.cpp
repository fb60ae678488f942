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

void BlitPicture(HDC target, HBITMAP bitmap, int x, int y, int width, int height) {
    if (!bitmap) return;
    HDC memory = CreateCompatibleDC(target);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(target, x, y, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}
