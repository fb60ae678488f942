// The message box that reports a job's result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/language_texts.h"

struct Verdict {
    std::wstring text;
    std::optional<std::wstring> caption;
    unsigned style = 0;
};

// The key of the box text for a result code, and whether the failure suffix
// IDS_93 follows it.
struct VerdictKey {
    const wchar_t *key;
    bool withSuffix;
};
VerdictKey VerdictKeyFor(unsigned mode, int32_t code);

// The whole box: success under the application title with the information
// icon, every failure under IDS_53 (upgrade) or IDS_54 (repair) with the
// error icon.
Verdict VerdictFor(ILanguageTexts &texts, const std::wstring &appTitle, unsigned mode,
                   int32_t code);
