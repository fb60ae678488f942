// A Yes or No question to the user, from the language file.
#pragma once

#include <optional>
#include <string>

#include "base/language_texts.h"
#include "base/main_view.h"

// Asks the question of the key and returns the button chosen. A question
// whose text is empty is not asked: a Yes to a blank box would confirm
// something nobody read. The notice naming the missing text is shown instead,
// and the answer is No.
int AskQuestion(IMainView &view, ILanguageTexts &texts, const std::wstring &key,
                const std::optional<std::wstring> &caption, unsigned style);
