#include "ui_test_support_win.h"

#include <cstdio>
#include <vector>

namespace {

void RemoveTree(const std::wstring &folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + L"\\");
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// Reads a sz_Or_Ord field of a template: none, an ordinal or a string.
const WORD *ReadNameOrOrdinal(const WORD *p, std::wstring &name, int &ordinal) {
    name.clear();
    ordinal = -1;
    if (*p == 0x0000) return p + 1;
    if (*p == 0xFFFF) {
        ordinal = p[1];
        return p + 2;
    }
    const wchar_t *text = reinterpret_cast<const wchar_t *>(p);
    name = text;
    return p + name.size() + 1;
}

const WORD *AlignDword(const WORD *p) {
    return reinterpret_cast<const WORD *>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
}

std::wstring ClassOfOrdinal(int ordinal) {
    switch (ordinal) {
    case 0x80:
        return L"Button";
    case 0x81:
        return L"Edit";
    case 0x82:
        return L"Static";
    case 0x83:
        return L"ListBox";
    case 0x84:
        return L"ScrollBar";
    case 0x85:
        return L"ComboBox";
    default:
        return L"?";
    }
}

} // namespace

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    for (;;) {
        m_path = std::wstring(temp) + L"qvui" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(++counter) + L"\\";
        if (CreateDirectoryW(m_path.c_str(), nullptr)) break;
    }
}

TempFolder::~TempFolder() {
    RemoveTree(m_path);
}

void WriteUtf16File(const std::wstring &path, const std::wstring &text) {
    FILE *file = _wfopen(path.c_str(), L"wb");
    if (!file) return;
    const unsigned char bom[2] = {0xFF, 0xFE};
    fwrite(bom, 1, 2, file);
    fwrite(text.data(), sizeof(wchar_t), text.size(), file);
    fclose(file);
}

void WriteBitmapFile(const std::wstring &path, int width, int height, COLORREF colour) {
    const int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER fileHeader{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = stride * height;
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof(fileHeader) + sizeof(info);
    fileHeader.bfSize = fileHeader.bfOffBits + info.biSizeImage;
    std::vector<unsigned char> pixels(info.biSizeImage);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char *p = &pixels[y * stride + x * 3];
            p[0] = GetBValue(colour);
            p[1] = GetGValue(colour);
            p[2] = GetRValue(colour);
        }
    }
    FILE *file = _wfopen(path.c_str(), L"wb");
    if (!file) return;
    fwrite(&fileHeader, sizeof(fileHeader), 1, file);
    fwrite(&info, sizeof(info), 1, file);
    fwrite(pixels.data(), 1, pixels.size(), file);
    fclose(file);
}

std::wstring FolderOfThisProgram() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

int ScriptedBoxes::Show(HWND owner, const std::wstring &text, const std::wstring &caption,
                        unsigned style) {
    shown.push_back({text, caption, style, owner});
    if (!answers.empty()) {
        const int answer = answers.front();
        answers.pop_front();
        if (answer != kPressEnter) return answer;
        if ((style & 0xF) != MB_YESNO) return IDOK;
        return (style & MB_DEFMASK) == MB_DEFBUTTON2 ? IDNO : IDYES;
    }
    return (style & 0xF) == MB_YESNO ? IDNO : IDOK;
}

bool ReadDialogTemplate(int templateId, DialogTemplate &out) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(templateId), RT_DIALOG);
    if (!found) return false;
    const WORD *p = static_cast<const WORD *>(LockResource(LoadResource(module, found)));
    if (!p || p[0] != 1 || p[1] != 0xFFFF) return false;

    const DWORD *d = reinterpret_cast<const DWORD *>(p + 2);
    out.exStyle = d[1];
    out.style = d[2];
    p = reinterpret_cast<const WORD *>(d + 3);
    const int count = *p++;
    out.x = static_cast<short>(*p++);
    out.y = static_cast<short>(*p++);
    out.cx = static_cast<short>(*p++);
    out.cy = static_cast<short>(*p++);
    std::wstring name;
    int ordinal;
    p = ReadNameOrOrdinal(p, name, ordinal); // menu
    p = ReadNameOrOrdinal(p, name, ordinal); // class
    p = ReadNameOrOrdinal(p, name, ordinal); // title
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.fontSize = *p++;
        p += 2; // weight, italic and character set
        p = ReadNameOrOrdinal(p, out.fontName, ordinal);
    }
    out.items.clear();
    for (int i = 0; i < count; ++i) {
        p = AlignDword(p);
        const DWORD *item = reinterpret_cast<const DWORD *>(p);
        TemplateItem t;
        t.exStyle = item[1];
        t.style = item[2];
        p = reinterpret_cast<const WORD *>(item + 3);
        t.x = static_cast<short>(*p++);
        t.y = static_cast<short>(*p++);
        t.cx = static_cast<short>(*p++);
        t.cy = static_cast<short>(*p++);
        t.id = static_cast<int>(*reinterpret_cast<const DWORD *>(p));
        p += 2;
        int classOrdinal;
        p = ReadNameOrOrdinal(p, t.className, classOrdinal);
        if (classOrdinal >= 0) t.className = ClassOfOrdinal(classOrdinal);
        p = ReadNameOrOrdinal(p, t.title, t.titleOrdinal);
        const WORD extra = *p++;
        p = reinterpret_cast<const WORD *>(reinterpret_cast<const BYTE *>(p) + extra);
        out.items.push_back(t);
    }
    return true;
}

void PumpMessages(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

long ProcessHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return static_cast<long>(count);

    // NtQuerySystemInformation(SystemHandleInformation): every handle of
    // every process, each entry naming its process.
    struct HandleEntry {
        ULONG processId;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct HandleList {
        ULONG count;
        HandleEntry entries[1];
    };
    using QueryFunction = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);
    const auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch && buffer.size() < (64u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return -1;
        break;
    }
    const auto *list = reinterpret_cast<const HandleList *>(buffer.data());
    const ULONG self = GetCurrentProcessId();
    long mine = 0;
    for (ULONG i = 0; i < list->count; ++i)
        if (list->entries[i].processId == self) ++mine;
    return mine;
}
