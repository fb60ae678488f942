// Language texts are used as formats with one text argument. A translation
// is data, not code: only "%s" (the argument) and "%%" (a percent sign) are
// special, so a stray "%d" or "%n" in a language file can neither crash the
// program nor write memory.
#pragma once

#include <string>

// The first "%s" receives the argument; a further "%s" has no argument and
// comes out empty, as an absent value. Every other "%" sequence stays as it
// stands.
std::wstring FormatLangText(const std::wstring &format, const std::wstring &argument);
