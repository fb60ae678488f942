#include "ui/job_verdict.h"

#include "ui/main_view.h"

namespace {

// Failures -1 to -17, in order. There is no IDS_120: -7 shares IDS_101 with
// the codes outside the table.
constexpr VerdictKey kFailures[] = {
    {L"IDS_111", true},  {L"IDS_112", true}, {L"IDS_113", false}, {L"IDS_114", true},
    {L"IDS_115", true},  {L"IDS_116", true}, {L"IDS_101", true},  {L"IDS_117", true},
    {L"IDS_118", true},  {L"IDS_119", true}, {L"IDS_121", false}, {L"IDS_122", false},
    {L"IDS_123", false}, {L"IDS_124", true}, {L"IDS_125", false}, {L"IDS_126", false},
    {L"IDS_127", false},
};
constexpr int32_t kFailureCount = static_cast<int32_t>(sizeof(kFailures) / sizeof(kFailures[0]));
constexpr VerdictKey kUnexpected = {L"IDS_101", true};

} // namespace

VerdictKey VerdictKeyFor(unsigned mode, int32_t code) {
    if (code == 0) return {mode == 0 ? L"IDS_21" : L"IDS_20", false};
    if (code < 0 && code >= -kFailureCount) return kFailures[-code - 1];
    return kUnexpected;
}

Verdict VerdictFor(ILanguageTexts &texts, const std::wstring &appTitle, unsigned mode,
                   int32_t code) {
    const VerdictKey key = VerdictKeyFor(mode, code);
    Verdict verdict;
    verdict.text = texts.Text(key.key);
    if (key.withSuffix) verdict.text += texts.Text(L"IDS_93");
    if (code == 0) {
        verdict.caption = appTitle;
        verdict.style = mb::kOk | mb::kIconInformation;
    } else {
        verdict.caption = texts.Text(mode == 0 ? L"IDS_53" : L"IDS_54");
        verdict.style = mb::kOk | mb::kIconError;
    }
    return verdict;
}
