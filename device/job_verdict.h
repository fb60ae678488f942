// A job's outcome, whoever reports it: the message box for its result code
// (text, caption and icon, in the current language), and the end of the job
// that hands the device back to the watcher.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/language_texts.h"
#include "base/process_state.h"
#include "device/job_codes.h"

struct Verdict {
    std::wstring text;
    std::optional<std::wstring> caption;
    unsigned style = 0;
};

// The key of the box text for a result code, and whether the failure suffix
// (ids::kFailureSuffix) follows it.
struct VerdictKey {
    const wchar_t *key;
    bool withSuffix;
};
VerdictKey VerdictKeyFor(JobMode mode, int32_t code);

// The whole box: success under the application title with the information
// icon, every failure under the upgrade's or the repair's failure caption
// with the error icon. Any code without a verdict of its own reads as an
// unexpected failure.
Verdict VerdictFor(ILanguageTexts &texts, const std::wstring &appTitle, JobMode mode, int32_t code);

// Once the verdict has been shown: the held device record is cleared before
// the watcher may run again, so a device still connected counts as new and
// is announced afresh; then the job's flags drop, which resumes the watcher.
void EndJob(ProcessState &state);
