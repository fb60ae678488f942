// A main window without a window: a view that logs every call in order and
// answers message boxes from a script, and fakes for the rest of the
// command context.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ui/command_context.h"

// Every call as one line: "text 1010 IDS_44", "enable 1002 0",
// "box IDS_111IDS_93 | IDS_53 | 16", "busy start", "timer start 1 200".
// A box without a caption shows "-" in its place.
class RecordingView : public IMainView {
  public:
    void SetItemText(int id, const std::wstring &text) override {
        Log(L"text " + std::to_wstring(id) + L" " + text);
    }
    void EnableItem(int id, bool enable) override {
        Log(L"enable " + std::to_wstring(id) + (enable ? L" 1" : L" 0"));
    }
    int ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                    unsigned style) override {
        Log(L"box " + text + L" | " + caption.value_or(L"-") + L" | " + std::to_wstring(style));
        if (whileBoxShows) whileBoxShows();
        std::lock_guard<std::mutex> lock(mutex_);
        if (answers.empty() && (style & 0xF) == mb::kOk) return mb::kIdOk;
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected message box";
            return mb::kIdNo;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void StartBusy() override { Log(L"busy start"); }
    void StopBusy() override { Log(L"busy stop"); }
    void ResetBusy() override { Log(L"busy reset"); }
    void StartTimer(int id, unsigned ms) override {
        Log(L"timer start " + std::to_wstring(id) + L" " + std::to_wstring(ms));
    }
    void StopTimer(int id) override { Log(L"timer stop " + std::to_wstring(id)); }
    void PostUpgradeResult(int mode, int code) override {
        Log(L"post " + std::to_wstring(mode) + L" " + std::to_wstring(code));
    }

    std::vector<std::wstring> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

    // The user's buttons for the questions, in order; a box with only OK is
    // closed with OK when the script has nothing left.
    std::deque<int> answers;
    // Runs while a box is open, before the user answers: what the rest of
    // the program sees meanwhile.
    std::function<void()> whileBoxShows;

  private:
    void Log(const std::wstring &line) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(line);
    }
    std::mutex mutex_;
    std::vector<std::wstring> calls_;
};

// Each text is its own key, so the log shows which text went where.
class KeyTexts : public ILanguageTexts {
  public:
    std::wstring Text(const std::wstring &key) override { return key; }
};

class FakeClock : public IClock {
  public:
    void SleepMs(uint32_t) override {}
    int64_t NowSeconds() override { return now; }
    uint64_t TickMs() override { return 0; }
    int64_t now = 1000000;
};

class FakeFiles : public IFileSystem {
  public:
    bool OpenForAppend(const std::wstring &) override { return true; }
    bool OpenForRead(const std::wstring &path) override { return PathExists(path); }
    bool PathExists(const std::wstring &path) override { return existing.count(path) != 0; }
    bool HasAttributes(const std::wstring &path) override { return PathExists(path); }
    bool RemoveFile(const std::wstring &path) override {
        deleted.push_back(path);
        return existing.erase(path) != 0;
    }
    bool MakeDirectory(const std::wstring &) override { return true; }
    std::vector<FileEntry> FindFiles(const std::wstring &) override { return {}; }

    std::set<std::wstring> existing;
    std::vector<std::wstring> deleted;
};

// The context over the fakes, with a device shown, an image chosen and both
// loader versions equal: a click that is confirmed starts a job.
struct CommandBench {
    CommandBench() {
        state.settings.APPTITLE = L"Title";
        state.settings.FIRMWARE = L"C:\\fw\\update.img";
        state.g_findResult = 1;
        state.g_deviceInfo.identity = 7;
        state.g_deviceInfo.deviceType = QV_DEVICE_MSC;
        model.m_deviceLoaderVersion = 0x0102;
        model.m_imageLoaderVersion = 0x0102;
    }

    ProcessState state;
    MainWindowModel model;
    RecordingView view;
    KeyTexts texts;
    FakeClock clock;
    FakeFiles files;
    WorkerGate gate;

    bool jobStarts = true;
    std::vector<int> jobsStarted;
    bool imageUsable = true;
    std::vector<std::wstring> inspected;
    bool watcherStarts = true;
    int watchersStarted = 0;
    int libraryReleases = 0;

    CommandContext ctx{state,
                       model,
                       view,
                       texts,
                       clock,
                       files,
                       gate,
                       {},
                       [this](int mode) {
                           jobsStarted.push_back(mode);
                           return jobStarts;
                       },
                       [this](const std::wstring &path) {
                           inspected.push_back(path);
                           return imageUsable;
                       },
                       [this] {
                           ++watchersStarted;
                           return watcherStarts;
                       },
                       [this] { ++libraryReleases; },
                       {},
                       kWatchIdleWaitMs};
};
