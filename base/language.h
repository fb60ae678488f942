// Language files: profile files in the program's "Language" folder. Section
// [Setting] names the language (Language=...); section [String] holds every
// text by key (IDS_<n> for messages, IDD<template>_<control id> and
// IDD<template>_TITLE for dialog texts).
#pragma once

#include <string>

#include "base/language_texts.h"
#include "base/platform.h"

struct LANGUAGE_INFO {
    wchar_t name[100]; // the declared language name
    wchar_t path[260]; // the file's full path
};

// Room in the list that start-up builds.
constexpr int kLanguageListCapacity = 20;

// Fills the table with the language files of the folder, in the order the
// file search returns them, and returns how many it filled. Stops when the
// table is full; a file whose full path would not fit is skipped.
int ListLanguages(LANGUAGE_INFO *table, int capacity, const std::wstring &folder,
                  IFileSystem &files, IProfileReader &profile);

// The first entry whose name equals the wanted one without regard to case;
// -1 when none does.
int FindLanguage(const LANGUAGE_INFO *table, int count, const std::wstring &wanted);

// Compares as the platform's lstrcmpiW does for names in Latin, Greek and
// Cyrillic letters: letters that differ only in case are equal. Other scripts
// compare exactly, which is what case-insensitivity means for them anyway.
bool EqualsIgnoringCase(const std::wstring &a, const std::wstring &b);

// The text of [String] key from the language file, at most 999 characters,
// with its escapes decoded. Empty when the file, the key or the path is
// missing.
std::wstring LoadLangString(IProfileReader &profile, const std::wstring &key,
                            const std::wstring &languageFile);

// Decodes \r, \n, \t, \" and \' (in that order, one pass each). Any other
// backslash stays as it is.
std::wstring DecodeLangEscapes(std::wstring text);

// The program's texts, read from the current language file at every call. It
// holds a reference to the path, so it can be made before the language is
// chosen and follows the choice.
class LanguageFileTexts : public ILanguageTexts {
  public:
    LanguageFileTexts(IProfileReader &profile, const std::wstring &languageFile)
        : m_profile(profile), m_languageFile(languageFile) {}
    std::wstring Text(const std::wstring &key) override {
        return LoadLangString(m_profile, key, m_languageFile);
    }

  private:
    IProfileReader &m_profile;
    const std::wstring &m_languageFile;
};
