#include "base/text_format.h"

std::wstring FormatLangText(const std::wstring &format, const std::wstring &argument) {
    std::wstring out;
    out.reserve(format.size() + argument.size());
    bool argumentUsed = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size()) {
            const wchar_t next = format[i + 1];
            if (next == L's') {
                if (!argumentUsed) out += argument;
                argumentUsed = true;
                ++i;
                continue;
            }
            if (next == L'%') {
                out += L'%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}
