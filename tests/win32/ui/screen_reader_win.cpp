// A screen reader's first questions, from a process of its own: for each
// control id, the name, role and value that the accessibility interface
// gives for the control's client object.
//
//   screen_reader.exe WINDOW OUTPUT_FILE ID...
//
// WINDOW is the dialog's handle in hexadecimal, or its title. OUTPUT_FILE gets one line
// per id, in UTF-16: "id<TAB>name<TAB>role<TAB>value". Exit code 0 when the
// window exists and COM started.
#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// The platform's interface id; MinGW's import library has another.
const IID kIidAccessible = {
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Tabs and line ends would break the line's fields.
std::wstring OneLine(std::wstring text) {
    for (wchar_t &c : text)
        if (c == L'\t' || c == L'\r' || c == L'\n') c = L' ';
    return text;
}

std::wstring Facts(HWND control) {
    IAccessible *accessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                          reinterpret_cast<void **>(&accessible))) ||
        accessible == nullptr)
        return L"\t0\t";
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    std::wstring name, value;
    BSTR text = nullptr;
    if (SUCCEEDED(accessible->get_accName(self, &text)) && text != nullptr) name = text;
    SysFreeString(text);
    text = nullptr;
    if (SUCCEEDED(accessible->get_accValue(self, &text)) && text != nullptr) value = text;
    SysFreeString(text);
    long role = 0;
    VARIANT answer;
    VariantInit(&answer);
    if (SUCCEEDED(accessible->get_accRole(self, &answer)) && answer.vt == VT_I4) role = answer.lVal;
    accessible->Release();
    return OneLine(name) + L"\t" + std::to_wstring(role) + L"\t" + OneLine(value);
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 4) {
        fwprintf(stderr, L"usage: screen_reader WINDOW OUTPUT_FILE ID...\n");
        return 2;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(wcstoull(argv[1], nullptr, 16)));
    if (!IsWindow(window)) window = FindWindowW(nullptr, argv[1]);
    if (window == nullptr) return 1;
    // A screen reader is a COM client of its own apartment.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    std::wstring out;
    for (int i = 3; i < argc; ++i) {
        const int id = _wtoi(argv[i]);
        out += std::to_wstring(id) + L"\t" + Facts(GetDlgItem(window, id)) + L"\n";
    }
    CoUninitialize();
    FILE *file = _wfopen(argv[2], L"wb");
    if (file == nullptr) return 1;
    fwrite(out.data(), sizeof(wchar_t), out.size(), file);
    fclose(file);
    return 0;
}
