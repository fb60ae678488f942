// The main window as the tests see it: every call recorded in order, message
// boxes answered from a script. Thread-safe, so workers may write to it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/main_view.h"
#include "tests/fakes/control_names.h"

namespace fakes {

// One message box as the view was asked to show it.
struct ShownMessage {
    std::wstring text;
    std::optional<std::wstring> caption;
    unsigned style;
    bool operator==(const ShownMessage &o) const {
        return text == o.text && caption == o.caption && style == o.style;
    }
};

class RecordingView : public IMainView {
  public:
    struct Event {
        enum Kind { Text, Enable, Message, Post, Busy, Timer } kind;
        int id;            // control or timer id; mode for Post
        std::wstring text; // text; message text; "start", "stop", "reset"
        int value;         // enable state; style; result code; timer period
        std::optional<std::wstring> caption;
    };

    // Stands for Enter in a script of answers: the box's default button.
    static constexpr int kPressEnter = -1;

    // The user's buttons for the questions, in order. When the script is
    // empty a box with only OK is closed with OK, and a question is answered
    // with messageAnswer and counted as unexpected.
    std::deque<int> answers;
    int messageAnswer = mb::kIdOk;
    int unexpectedQuestions = 0;
    std::function<void()> onWrite; // runs at every control write (synchronous sends)
    // Runs while a box is open, before the user answers: what the rest of the
    // program sees meanwhile.
    std::function<void()> whileBoxShows;

    void SetItemText(int id, const std::wstring &text) override {
        if (onWrite) onWrite();
        Add({Event::Text, id, text, 0, std::nullopt});
    }
    void EnableItem(int id, bool enable) override {
        if (onWrite) onWrite();
        Add({Event::Enable, id, L"", enable ? 1 : 0, std::nullopt});
    }
    int ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                    unsigned style) override {
        Add({Event::Message, 0, text, static_cast<int>(style), caption});
        if (whileBoxShows) whileBoxShows();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!answers.empty()) {
            const int answer = answers.front();
            answers.pop_front();
            return answer == kPressEnter ? DefaultButton(style) : answer;
        }
        if ((style & 0xF) == mb::kOk) return mb::kIdOk;
        ++unexpectedQuestions;
        return messageAnswer;
    }
    // The button Enter presses in a box of this style, as the platform
    // chooses it.
    static int DefaultButton(unsigned style) {
        if ((style & 0xF) == mb::kOk) return mb::kIdOk;
        return (style & mb::kDefaultButtonMask) == mb::kDefaultButton2 ? mb::kIdNo : mb::kIdYes;
    }
    void StartBusy() override { Add({Event::Busy, 0, L"start", 0, std::nullopt}); }
    void StopBusy() override { Add({Event::Busy, 0, L"stop", 0, std::nullopt}); }
    void ResetBusy() override { Add({Event::Busy, 0, L"reset", 0, std::nullopt}); }
    void StartTimer(int id, unsigned ms) override {
        Add({Event::Timer, id, L"start", static_cast<int>(ms), std::nullopt});
    }
    void StopTimer(int id) override { Add({Event::Timer, id, L"stop", 0, std::nullopt}); }
    void PostUpgradeResult(int mode, int code) override {
        Add({Event::Post, mode, L"", code, std::nullopt});
    }

    std::vector<Event> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
        m_shown.clear();
        m_enabled.clear();
    }

    // Every call as one line: "text IDC_STATUS_LINE <text>", "enable IDC_UPGRADE 0",
    // "box <text> | <caption> | <style>" ("-" for no caption), "busy start",
    // "timer start IDT_ELAPSED 200", "timer stop IDT_START", "post <mode> <code>".
    std::vector<std::wstring> Calls() {
        std::vector<std::wstring> out;
        for (const Event &e : Events())
            out.push_back(Line(e));
        return out;
    }
    std::vector<Event> Of(typename Event::Kind kind) {
        std::vector<Event> out;
        for (const Event &e : Events())
            if (e.kind == kind) out.push_back(e);
        return out;
    }
    std::vector<ShownMessage> Boxes() {
        std::vector<ShownMessage> out;
        for (const Event &e : Of(Event::Message))
            out.push_back(fakes::ShownMessage{e.text, e.caption, static_cast<unsigned>(e.value)});
        return out;
    }
    // The text a control shows after every write so far; "?" if never written.
    std::wstring Shown(int id) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_shown.find(id);
        return it != m_shown.end() ? it->second : L"?";
    }
    // -1 if never written.
    int Enabled(int id) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_enabled.find(id);
        return it != m_enabled.end() ? it->second : -1;
    }

  private:
    static std::wstring Line(const Event &e) {
        switch (e.kind) {
        case Event::Text:
            return L"text " + ControlName(e.id) + L" " + e.text;
        case Event::Enable:
            return L"enable " + ControlName(e.id) + L" " + std::to_wstring(e.value);
        case Event::Message:
            return L"box " + e.text + L" | " + e.caption.value_or(L"-") + L" | " +
                   std::to_wstring(e.value);
        case Event::Post:
            return L"post " + std::to_wstring(e.id) + L" " + std::to_wstring(e.value);
        case Event::Busy:
            return L"busy " + e.text;
        case Event::Timer:
            return L"timer " + e.text + L" " + TimerName(e.id) +
                   (e.text == L"start" ? L" " + std::to_wstring(e.value) : L"");
        }
        return L"?";
    }
    void Add(Event e) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (e.kind == Event::Text) m_shown[e.id] = e.text;
        if (e.kind == Event::Enable) m_enabled[e.id] = e.value;
        m_events.push_back(std::move(e));
    }
    std::mutex m_mutex;
    std::vector<Event> m_events;
    // Kept as they change, so that long runs ask in constant time; guarded
    // by m_mutex, as m_events.
    std::map<int, std::wstring> m_shown;
    std::map<int, int> m_enabled;
};

} // namespace fakes
