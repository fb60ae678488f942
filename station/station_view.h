// The main view of the station: what the watcher, the inspection, the
// commands and the job write into the window's controls becomes lines on the
// console, each with a time stamp and the device; message boxes become
// errors, verdicts or answers.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/main_view.h"

// The console: lines to the output or the error stream, and the local time
// for their stamps.
class IStationOutput {
  public:
    virtual ~IStationOutput() = default;
    virtual void Out(const std::wstring &line) = 0;
    virtual void Err(const std::wstring &line) = 0;
    virtual std::wstring TimeStamp() = 0; // "2026-12-08 13:03:23", local time
    // A verdict line, which a console may colour (and sound) by its outcome.
    virtual void Verdict(const std::wstring &line, bool passed, bool toErrorStream) {
        (void)passed;
        if (toErrorStream)
            Err(line);
        else
            Out(line);
    }
};

class StationView : public IMainView {
  public:
    explicit StationView(IStationOutput &output) : m_output(output) {}

    // --json: the output stream carries JSON alone; the lines go to the error
    // stream instead.
    bool json = false;
    // Answers the loader question the commands ask before a job (the one box
    // without a caption): true says Yes. A No is reported by the station,
    // not the question.
    std::function<bool()> loaderQuestion;
    // WM_UPGRADE_RESULT for the station.
    std::function<void(int mode, int code)> postResult;

    void SetItemText(int controlId, const std::wstring &text) override;
    void EnableItem(int, bool) override {}
    int ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                    unsigned style) override;
    void StartBusy() override {}
    void StopBusy() override {}
    void ResetBusy() override {}
    void StartTimer(int, unsigned) override {}
    void StopTimer(int) override {}
    void PostUpgradeResult(int mode, int resultCode) override;

    // A line of the station's own; device empty: the device shown.
    void Line(const std::wstring &text, const std::wstring &device = L"");
    void ErrorLine(const std::wstring &text, const std::wstring &device = L"");
    // Plain output, as it stands (JSON).
    void Raw(const std::wstring &text);
    // The verdict line, as it stands: it begins with its outcome, not the time.
    void Verdict(const std::wstring &line, bool passed);
    // Status and detail texts the station says in its own lines instead
    // ("No device connected" after its wait, the several-devices texts beside
    // the refusal): never printed.
    void SetUnsaid(std::vector<std::wstring> texts);
    // Refusals the window words for its own controls, in the station's words.
    void SetReworded(std::map<std::wstring, std::wstring> texts);

    // While muted, boxes are answered (OK, Yes) without a line: the settings'
    // warnings about the window's own image, the exit question.
    void SetMuted(bool muted);
    // While a verdict is taken, its box is kept, not printed.
    void BeginVerdict();
    std::wstring EndVerdict();
    // Whether a refusal was shown since ClearRefusal, and its text.
    bool RefusalShown();
    std::wstring LastRefusal();
    void ClearRefusal();

  private:
    std::wstring Compose(const std::wstring &text, const std::wstring &device);

    IStationOutput &m_output;
    std::mutex m_guard; // everything below; the watcher, the job and the main thread write
    std::wstring m_deviceName;
    std::wstring m_lastStatus;
    std::wstring m_lastDetail;
    bool m_muted = false;
    bool m_takingVerdict = false;
    std::wstring m_verdict;
    std::wstring m_lastRefusal;
    bool m_refusalShown = false;
    std::vector<std::wstring> m_unsaid;
    std::map<std::wstring, std::wstring> m_reworded;
};

// One line of the console: line breaks of a language text become blanks.
std::wstring OneLine(const std::wstring &text);
