#include "commands/question.h"

int AskQuestion(IMainView &view, ILanguageTexts &texts, const std::wstring &key,
                const std::optional<std::wstring> &caption, unsigned style) {
    const std::wstring question = texts.Text(key);
    if (question.empty()) {
        view.ShowMessage(texts.MissingTextNotice(key), caption, mb::kOk | mb::kIconError);
        return mb::kIdNo;
    }
    return view.ShowMessage(question, caption, style);
}
