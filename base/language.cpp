#include "base/language.h"

#include <cwchar>

namespace {

constexpr size_t kNameChars = 100;
constexpr size_t kPathChars = 260;
constexpr size_t kTextChars = 1000;

// Simple case folding for the alphabets language names are usually written
// in. Kept to a fixed table so that the result does not depend on the C
// runtime's locale.
wchar_t FoldCase(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
    if (c < 0x80) return c;
    // Latin-1: À..Þ except the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 32);
    // Latin Extended-A: pairs of capital (even) and small (odd) letters...
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
        return static_cast<wchar_t>(c | 1);
    }
    // ...except where the pairs start on an odd code point.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
        return (c & 1) ? static_cast<wchar_t>(c + 1) : c;
    }
    if (c == 0x178) return 0xFF; // Ÿ
    // Greek capitals Α..Ω (0x3A2 is unassigned).
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<wchar_t>(c + 32);
    // Cyrillic: Ѐ..Џ and А..Я.
    if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 80);
    if (c >= 0x410 && c <= 0x42F) return static_cast<wchar_t>(c + 32);
    return c;
}

void ReplaceAll(std::wstring &text, const wchar_t *from, wchar_t to) {
    const size_t fromLength = std::wcslen(from);
    std::wstring out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t hit = text.find(from, 0); hit != std::wstring::npos; hit = text.find(from, start)) {
        out.append(text, start, hit - start);
        out += to;
        start = hit + fromLength;
    }
    out.append(text, start, std::wstring::npos);
    text.swap(out);
}

void CopyInto(wchar_t *field, size_t capacity, const std::wstring &value) {
    const size_t length = value.size() < capacity ? value.size() : capacity - 1;
    value.copy(field, length);
    field[length] = L'\0';
}

} // namespace

int ListLanguages(LANGUAGE_INFO *table, int capacity, const std::wstring &folder,
                  IFileSystem &files, IProfileReader &profile) {
    if (table == nullptr || capacity <= 0) return 0;
    std::wstring base = folder;
    if (!base.empty() && base.back() == L'\\') base.pop_back();

    int count = 0;
    for (const FileEntry &entry : files.FindFiles(base + L"\\*.ini")) {
        if (count >= capacity) break;
        if (entry.isDirectory || entry.name == L"." || entry.name == L"..") continue;
        const std::wstring path = base + L"\\" + entry.name;
        // A cut path would name another file.
        if (path.size() >= kPathChars) continue;
        const std::wstring name = profile.GetString(path, L"Setting", L"Language", kNameChars);
        if (name.empty()) continue;
        CopyInto(table[count].name, kNameChars, name);
        CopyInto(table[count].path, kPathChars, path);
        ++count;
    }
    return count;
}

int FindLanguage(const LANGUAGE_INFO *table, int count, const std::wstring &wanted) {
    for (int i = 0; i < count; ++i) {
        if (EqualsIgnoringCase(table[i].name, wanted)) return i;
    }
    return -1;
}

bool EqualsIgnoringCase(const std::wstring &a, const std::wstring &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

std::wstring LoadLangString(IProfileReader &profile, const std::wstring &key,
                            const std::wstring &languageFile) {
    // With no file the platform would fall back to its own WIN.INI.
    if (languageFile.empty() || key.empty()) return std::wstring();
    return DecodeLangEscapes(profile.GetString(languageFile, L"String", key, kTextChars));
}

std::wstring DecodeLangEscapes(std::wstring text) {
    if (text.find(L'\\') == std::wstring::npos) return text;
    ReplaceAll(text, L"\\r", L'\r');
    ReplaceAll(text, L"\\n", L'\n');
    ReplaceAll(text, L"\\t", L'\t');
    ReplaceAll(text, L"\\\"", L'"');
    ReplaceAll(text, L"\\'", L'\'');
    return text;
}
