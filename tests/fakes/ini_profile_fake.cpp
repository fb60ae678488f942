#include "tests/fakes/ini_profile_fake.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
}

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t &c : text)
        c = AsciiLower(c);
    return text;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::wstring Trim(const std::wstring &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// Returns false on any malformed sequence.
bool DecodeUtf8(const std::string &bytes, size_t start, std::wstring &out) {
    for (size_t i = start; i < bytes.size();) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        uint32_t code;
        int extra;
        if (b < 0x80) {
            code = b, extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            code = b & 0x1F, extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            code = b & 0x0F, extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            code = b & 0x07, extra = 3;
        } else {
            return false;
        }
        if (i + extra >= bytes.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char c = static_cast<unsigned char>(bytes[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            code = (code << 6) | (c & 0x3F);
        }
        i += extra + 1;
        if (code >= 0x10000 && sizeof(wchar_t) == 2) {
            code -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (code >> 10));
            out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<wchar_t>(code);
        }
    }
    return true;
}

std::vector<std::wstring> SplitLines(const std::wstring &text) {
    std::vector<std::wstring> lines;
    std::wstring line;
    for (wchar_t c : text) {
        if (c == L'\n' || c == L'\r') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    lines.push_back(line);
    return lines;
}

std::wstring StripQuotes(const std::wstring &value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Calls visit(section, key, value) for every key line, in file order.
template <typename Visit> void WalkProfile(const std::wstring &text, Visit visit) {
    std::wstring section;
    bool inSection = false;
    for (const std::wstring &raw : SplitLines(text)) {
        const std::wstring line = Trim(raw);
        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            const size_t close = line.find(L']');
            section =
                Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
            inSection = true;
            continue;
        }
        if (!inSection) continue;
        const size_t equals = line.find(L'=');
        const std::wstring key = Trim(line.substr(0, equals));
        const std::wstring value =
            equals == std::wstring::npos ? std::wstring() : Trim(line.substr(equals + 1));
        if (!visit(section, key, value)) return;
    }
}

} // namespace

std::wstring DecodeProfileBytes(const std::string &bytes) {
    std::wstring text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const unsigned lo = static_cast<unsigned char>(bytes[i]);
            const unsigned hi = static_cast<unsigned char>(bytes[i + 1]);
            text += static_cast<wchar_t>(lo | (hi << 8));
        }
        return text;
    }
    const size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    if (DecodeUtf8(bytes, start, text)) return text;
    text.clear();
    for (char b : bytes)
        text += static_cast<wchar_t>(static_cast<unsigned char>(b));
    return text;
}

std::string EncodeUtf16LeWithBom(const std::wstring &text) {
    std::string bytes = "\xFF\xFE";
    auto put = [&bytes](uint32_t unit) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>((unit >> 8) & 0xFF);
    };
    for (wchar_t c : text) {
        const uint32_t code = static_cast<uint32_t>(c);
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return bytes;
}

std::string EncodeUtf8(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text) {
        const uint32_t code = static_cast<uint32_t>(c);
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// ---- IniProfileFake

bool IniProfileFake::Load(const std::wstring &file, std::wstring &text) {
    ++reads;
    if (m_files != nullptr) {
        const std::string *bytes = m_files->Content(file);
        if (bytes == nullptr) return false;
        text = DecodeProfileBytes(*bytes);
        return true;
    }
    std::ifstream in(std::filesystem::path(file), std::ios::binary);
    if (!in) return false;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text = DecodeProfileBytes(bytes);
    return true;
}

bool IniProfileFake::Find(const std::wstring &file, const std::wstring &section,
                          const std::wstring &key, std::wstring &value) {
    std::wstring text;
    if (!Load(file, text)) return false;
    const std::wstring wantedSection = AsciiLower(Trim(section));
    const std::wstring wantedKey = AsciiLower(Trim(key));
    bool found = false;
    WalkProfile(text, [&](const std::wstring &s, const std::wstring &k, const std::wstring &v) {
        if (AsciiLower(s) != wantedSection || AsciiLower(k) != wantedKey) return true;
        value = StripQuotes(v);
        found = true;
        return false;
    });
    return found;
}

std::wstring IniProfileFake::GetString(const std::wstring &file, const std::wstring &section,
                                       const std::wstring &key, size_t bufferChars) {
    std::wstring value;
    if (bufferChars == 0 || !Find(file, section, key, value)) return std::wstring();
    if (value.size() > bufferChars - 1) value.resize(bufferChars - 1);
    return value;
}

int IniProfileFake::GetInt(const std::wstring &file, const std::wstring &section,
                           const std::wstring &key, int defaultValue) {
    std::wstring value;
    if (!Find(file, section, key, value) || value.empty()) return defaultValue;
    size_t i = 0;
    bool negative = false;
    if (value[i] == L'+' || value[i] == L'-') negative = value[i++] == L'-';
    unsigned base = 10;
    if (i + 1 < value.size() && value[i] == L'0') {
        const wchar_t p = AsciiLower(value[i + 1]);
        if (p == L'x')
            base = 16, i += 2;
        else if (p == L'o')
            base = 8, i += 2;
        else if (p == L'b')
            base = 2, i += 2;
    }
    uint32_t result = 0;
    for (; i < value.size(); ++i) {
        const wchar_t c = AsciiLower(value[i]);
        unsigned digit;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f')
            digit = static_cast<unsigned>(c - L'a' + 10);
        else
            break;
        if (digit >= base) break;
        result = result * base + digit;
    }
    return static_cast<int>(negative ? 0u - result : result);
}

std::vector<std::pair<std::wstring, std::wstring>>
IniProfileFake::Section(const std::wstring &file, const std::wstring &section) {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    std::wstring text;
    if (!Load(file, text)) return pairs;
    const std::wstring wanted = AsciiLower(section);
    std::set<std::wstring> seen;
    WalkProfile(text, [&](const std::wstring &s, const std::wstring &k, const std::wstring &v) {
        if (AsciiLower(s) == wanted && seen.insert(AsciiLower(k)).second)
            pairs.emplace_back(k, StripQuotes(v));
        return true;
    });
    return pairs;
}

// ---- FakeFileSystem

namespace {

std::wstring FolderOf(const std::wstring &path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring NameOf(const std::wstring &path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring WithoutTrailingSlash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

} // namespace

FakeFileSystem::Entry *FakeFileSystem::Lookup(const std::wstring &path) {
    const std::wstring wanted = AsciiLower(WithoutTrailingSlash(path));
    for (Entry &entry : m_entries)
        if (AsciiLower(entry.path) == wanted) return &entry;
    return nullptr;
}

const FakeFileSystem::Entry *FakeFileSystem::Lookup(const std::wstring &path) const {
    return const_cast<FakeFileSystem *>(this)->Lookup(path);
}

void FakeFileSystem::AddFile(const std::wstring &path, const std::string &bytes) {
    if (Entry *entry = Lookup(path)) {
        entry->bytes = bytes;
        return;
    }
    m_entries.push_back(Entry{path, false, bytes});
}

void FakeFileSystem::AddTextFile(const std::wstring &path, const std::wstring &text) {
    AddFile(path, EncodeUtf8(text));
}

void FakeFileSystem::AddFolder(const std::wstring &path) {
    if (Lookup(path) == nullptr) m_entries.push_back(Entry{WithoutTrailingSlash(path), true, {}});
}

bool FakeFileSystem::HasFile(const std::wstring &path) const {
    const Entry *entry = Lookup(path);
    return entry != nullptr && !entry->isFolder;
}

bool FakeFileSystem::HasFolder(const std::wstring &path) const {
    return Exists(path) && !HasFile(path);
}

const std::string *FakeFileSystem::Content(const std::wstring &path) const {
    const Entry *entry = Lookup(path);
    return entry != nullptr && !entry->isFolder ? &entry->bytes : nullptr;
}

bool FakeFileSystem::OpenForAppend(const std::wstring &path) {
    calls.push_back(L"OpenForAppend " + path);
    if (refuseOpen.count(path) != 0) return false;
    const Entry *entry = Lookup(path);
    if (entry != nullptr) return !entry->isFolder;
    m_entries.push_back(Entry{path, false, {}});
    return true;
}

bool FakeFileSystem::OpenForRead(const std::wstring &path) {
    calls.push_back(L"OpenForRead " + path);
    if (refuseRead.count(path) != 0) return false;
    const Entry *entry = Lookup(path);
    return entry != nullptr && !entry->isFolder;
}

bool FakeFileSystem::Exists(const std::wstring &path) const {
    if (Lookup(path) != nullptr) return true;
    // The folders of the files added exist too.
    const std::wstring prefix = AsciiLower(WithoutTrailingSlash(path)) + L"\\";
    for (const Entry &entry : m_entries)
        if (AsciiLower(entry.path).rfind(prefix, 0) == 0) return true;
    return false;
}

bool FakeFileSystem::PathExists(const std::wstring &path) {
    calls.push_back(L"PathExists " + path);
    return Exists(path);
}

bool FakeFileSystem::HasAttributes(const std::wstring &path) {
    calls.push_back(L"HasAttributes " + path);
    return Exists(path);
}

bool FakeFileSystem::RemoveFile(const std::wstring &path) {
    calls.push_back(L"RemoveFile " + path);
    const std::wstring wanted = AsciiLower(path);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (!it->isFolder && AsciiLower(it->path) == wanted) {
            m_entries.erase(it);
            return true;
        }
    }
    return false;
}

bool FakeFileSystem::MakeDirectory(const std::wstring &path) {
    calls.push_back(L"MakeDirectory " + path);
    if (refuseCreate.count(path) != 0 || Exists(path)) return false;
    m_entries.push_back(Entry{WithoutTrailingSlash(path), true, {}});
    return true;
}

std::vector<FileEntry> FakeFileSystem::FindFiles(const std::wstring &pattern) {
    calls.push_back(L"FindFiles " + pattern);
    std::vector<FileEntry> found;
    const std::wstring folder = FolderOf(pattern);
    const std::wstring mask = NameOf(pattern);
    if (!HasFolder(folder)) return found;
    std::wstring extension; // empty: "*" matches everything
    if (mask.rfind(L"*.", 0) == 0) extension = AsciiLower(mask.substr(1));
    found.push_back(FileEntry{L".", true});
    found.push_back(FileEntry{L"..", true});
    const std::wstring wantedFolder = AsciiLower(folder);
    for (const Entry &entry : m_entries) {
        if (AsciiLower(FolderOf(entry.path)) != wantedFolder) continue;
        const std::wstring name = NameOf(entry.path);
        const std::wstring lower = AsciiLower(name);
        if (!extension.empty() &&
            (lower.size() < extension.size() ||
             lower.compare(lower.size() - extension.size(), extension.size(), extension) != 0))
            continue;
        found.push_back(FileEntry{name, entry.isFolder});
    }
    return found;
}

// ---- Latin1TextCodec

bool Latin1TextCodec::ToAnsi(const std::wstring &text, std::string &ansi) {
    ansi.clear();
    for (wchar_t c : text) {
        if (static_cast<uint32_t>(c) > 0xFF) {
            ansi.clear();
            return false;
        }
        ansi += static_cast<char>(static_cast<unsigned char>(c));
    }
    return true;
}

std::wstring Latin1TextCodec::FromAnsi(const std::string &ansi) {
    std::wstring text;
    for (char b : ansi)
        text += static_cast<wchar_t>(static_cast<unsigned char>(b));
    return text;
}

std::vector<std::wstring> FakeFileSystem::CallsOf(const std::wstring &kind) const {
    std::vector<std::wstring> paths;
    const std::wstring prefix = kind + L" ";
    for (const std::wstring &call : calls)
        if (call.rfind(prefix, 0) == 0) paths.push_back(call.substr(prefix.size()));
    return paths;
}
