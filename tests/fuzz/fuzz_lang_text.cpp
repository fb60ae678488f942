// Language texts: the escape decoding of a text from a language file and its
// use as a format with one argument.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/language.h"
#include "base/text_format.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Five passes as the program makes them, written the other way round: each
// pass walks the text once and copies, instead of searching for the pair.
std::wstring ReferenceDecode(std::wstring text) {
    const wchar_t pairs[][2] = {
        {L'r', L'\r'}, {L'n', L'\n'}, {L't', L'\t'}, {L'"', L'"'}, {L'\'', L'\''}};
    for (const auto &pair : pairs) {
        std::wstring out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == pair[0]) {
                out += pair[1];
                ++i;
            } else {
                out += text[i];
            }
        }
        text.swap(out);
    }
    return text;
}

// "%s" takes the argument once, "%%" is a percent sign, anything else stays.
std::wstring ReferenceFormat(const std::wstring &format, size_t at, bool used,
                             const std::wstring &argument) {
    std::wstring out;
    while (at < format.size()) {
        if (format.compare(at, 2, L"%%") == 0) {
            out += L'%';
            at += 2;
        } else if (format.compare(at, 2, L"%s") == 0) {
            if (!used) out += argument;
            used = true;
            at += 2;
        } else {
            out += format[at++];
        }
    }
    return out;
}

size_t Count(const std::wstring &text, wchar_t c) {
    size_t n = 0;
    for (wchar_t x : text)
        n += x == c;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const std::wstring input =
        (data[0] & 1) ? fuzz::WideFrom(data + 1, size - 1) : fuzz::Latin1From(data + 1, size - 1);

    const std::wstring decoded = DecodeLangEscapes(input);
    FUZZ_CHECK(decoded == ReferenceDecode(input));
    FUZZ_CHECK(decoded.size() <= input.size());
    // Decoding only ever removes backslashes.
    FUZZ_CHECK(input.size() - decoded.size() == Count(input, L'\\') - Count(decoded, L'\\'));

    // The part before the first zero is the format, the rest the argument.
    const size_t zero = input.find(L'\0');
    const std::wstring format = input.substr(0, zero);
    const std::wstring argument = zero == std::wstring::npos ? L"" : input.substr(zero + 1);
    const std::wstring formatted = FormatLangText(format, argument);
    FUZZ_CHECK(formatted == ReferenceFormat(format, 0, false, argument));
    FUZZ_CHECK(formatted.size() <= format.size() + argument.size());
    return 0;
}
