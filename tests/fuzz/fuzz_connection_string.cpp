// The fleet database's connection string, from the settings or the command
// line: its pairs, and the masking of its passwords in any message. The input
// is the connection string, a line break, and a message a driver might write.
#include <cstddef>
#include <cstdint>
#include <string>

#include "records/job_database.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t &c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

bool IsSecretKey(const std::wstring &key) {
    const std::wstring lower = Lower(key);
    return lower == L"pwd" || lower == L"password";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::wstring input = fuzz::Latin1From(data, size);
    const size_t newline = input.find(L'\n');
    const std::wstring connection = input.substr(0, newline);
    const std::wstring message =
        newline == std::wstring::npos ? connection : input.substr(newline + 1);

    const auto pairs = ParseConnectionString(connection);
    for (const auto &[key, value] : pairs) {
        FUZZ_CHECK(!key.empty());
        FUZZ_CHECK(key.front() != L' ' && key.back() != L' ');
        // No password survives in the connection string itself nor in the
        // message. (A password made of the mask's own stars stays "visible"
        // by construction.)
        if (!IsSecretKey(key) || value.empty() || value.find(L'*') != std::wstring::npos) continue;
        FUZZ_CHECK(MaskSecrets(connection, connection).find(value) == std::wstring::npos);
        FUZZ_CHECK(MaskSecrets(message, connection).find(value) == std::wstring::npos);
        FUZZ_CHECK(DescribeDatabaseFailure(L"cannot connect", {{L"08001", 0, message}}, connection)
                       .find(value) == std::wstring::npos);
    }
    // A message without a password key is left as it is when the connection
    // has no password.
    bool anySecret = false;
    for (const auto &pair : pairs)
        anySecret = anySecret || IsSecretKey(pair.first);
    const std::wstring lower = Lower(message);
    if (!anySecret && lower.find(L"pwd") == std::wstring::npos &&
        lower.find(L"password") == std::wstring::npos)
        FUZZ_CHECK(MaskSecrets(message, connection) == message);
    return 0;
}
