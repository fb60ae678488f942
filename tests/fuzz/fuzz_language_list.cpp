// The list of language files over a folder of files whose names and texts
// come from the input, and the choice of one of them by name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/language.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const std::wstring kFolder = L"C:\\QV\\Language";

// The wanted name, then files separated by 0xFF bytes: each a name line and
// its text.
struct Folder {
    std::wstring wanted;
    std::vector<std::pair<std::wstring, std::string>> files;
};

Folder Split(const std::string &bytes) {
    Folder folder;
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = bytes.find('\xFF');; at = bytes.find('\xFF', start)) {
        parts.push_back(
            bytes.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    for (char c : parts[0])
        folder.wanted += static_cast<wchar_t>(static_cast<unsigned char>(c));
    for (size_t i = 1; i < parts.size(); ++i) {
        const size_t line = parts[i].find('\n');
        std::wstring name;
        for (char c : parts[i].substr(0, line)) {
            // A file name holds no folder separator or wildcard.
            if (c == '\\' || c == '/' || c == '*' || c == '?' || c == '\0') c = '_';
            name += static_cast<wchar_t>(static_cast<unsigned char>(c));
        }
        folder.files.emplace_back(name + L".ini",
                                  line == std::string::npos ? "" : parts[i].substr(line + 1));
    }
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Folder input = Split(fuzz::BytesFrom(data, size));
    FakeFileSystem files;
    IniProfileFake profile{files};
    files.AddFolder(kFolder);
    for (const auto &file : input.files)
        files.AddFile(kFolder + L"\\" + file.first, file.second);

    LANGUAGE_INFO table[kLanguageListCapacity];
    const int count = ListLanguages(table, kLanguageListCapacity, kFolder + L"\\", files, profile);
    FUZZ_CHECK(count >= 0 && count <= kLanguageListCapacity);
    for (int i = 0; i < count; ++i) {
        const std::wstring name = table[i].name;
        const std::wstring path = table[i].path;
        FUZZ_CHECK(!name.empty() && name.size() < 100);
        FUZZ_CHECK(path.size() < 260);
        FUZZ_CHECK(path.compare(0, kFolder.size() + 1, kFolder + L"\\") == 0);
        FUZZ_CHECK(files.HasFile(path));
        // The declared name, up to its first zero as the platform reads it.
        const std::wstring declared = profile.GetString(path, L"Setting", L"Language", 100);
        FUZZ_CHECK(name == declared.substr(0, declared.find(L'\0')));
    }

    // The reference choice: every file of the folder in the search's order,
    // the first whose declared name matches.
    std::wstring expected;
    for (const FileEntry &entry : files.FindFiles(kFolder + L"\\*.ini")) {
        if (entry.isDirectory || entry.name == L"." || entry.name == L"..") continue;
        const std::wstring path = kFolder + L"\\" + entry.name;
        if (path.size() >= 260) continue;
        std::wstring name = profile.GetString(path, L"Setting", L"Language", 100);
        name = name.substr(0, name.find(L'\0'));
        if (!name.empty() && EqualsIgnoringCase(name, input.wanted)) {
            expected = path;
            break;
        }
    }
    FUZZ_CHECK(ChooseLanguageFile(kFolder + L"\\", input.wanted, files, profile) == expected);

    // Case-insensitive equality is an equivalence.
    FUZZ_CHECK(EqualsIgnoringCase(input.wanted, input.wanted));
    for (int i = 0; i < count; ++i) {
        FUZZ_CHECK(EqualsIgnoringCase(table[i].name, input.wanted) ==
                   EqualsIgnoringCase(input.wanted, table[i].name));
        // A text looked up in a listed file stays within its bound.
        FUZZ_CHECK(LoadLangString(profile, L"IDS_88", table[i].path).size() <= 999);
    }
    return 0;
}
