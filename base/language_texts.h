// Every text the user sees comes from the current language file, looked up by
// key ("IDS_30"). The logic asks through this interface; the program answers
// from g_languageFile, tests from a table.
#pragma once

#include <string>

class ILanguageTexts {
  public:
    virtual ~ILanguageTexts() = default;
    // The decoded text, empty when the key or the file is missing.
    virtual std::wstring Text(const std::wstring &key) = 0;
};
