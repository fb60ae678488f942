#include "station/station_view.h"

#include "res/resource.h"

std::wstring OneLine(const std::wstring &text) {
    std::wstring line;
    for (wchar_t c : text) {
        if (c == L'\r' || c == L'\n' || c == L'\t') {
            if (!line.empty() && line.back() != L' ') line += L' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == L' ')
        line.pop_back();
    return line;
}

std::wstring StationView::Compose(const std::wstring &text, const std::wstring &device) {
    std::wstring line = m_output.TimeStamp();
    const std::wstring &shown = device.empty() ? m_deviceName : device;
    if (!shown.empty()) line += L"  " + shown;
    return line + L"  " + OneLine(text);
}

void StationView::SetItemText(int controlId, const std::wstring &text) {
    std::lock_guard<std::mutex> lock(m_guard);
    // The watcher rewrites the status line at every search without a device:
    // a line is printed when the text changes.
    std::wstring *last = nullptr;
    switch (controlId) {
    case IDC_DEVICE_NAME:
        m_deviceName = text;
        return;
    case IDC_STATUS_LINE:
        last = &m_lastStatus;
        break;
    case IDC_DETAIL_LINE:
        last = &m_lastDetail;
        break;
    default:
        return;
    }
    if (*last == text) return;
    *last = text;
    if (text.empty() || m_muted) return;
    for (const std::wstring &unsaid : m_unsaid)
        if (text == unsaid) return;
    const std::wstring line = Compose(text, L"");
    if (json)
        m_output.Err(line);
    else
        m_output.Out(line);
}

int StationView::ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                             unsigned style) {
    std::function<bool()> ask;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if ((style & mb::kYesNo) == 0) {
            if (m_muted) return mb::kIdOk;
            if (m_takingVerdict) {
                m_verdict = text;
                return mb::kIdOk;
            }
            m_lastRefusal = text;
            m_refusalShown = true;
            const auto reworded = m_reworded.find(text);
            m_output.Err(Compose(reworded == m_reworded.end() ? text : reworded->second, L""));
            return mb::kIdOk;
        }
        // The command line is the user's confirmation; only the loader
        // question, the one box without a caption, has a flag of its own.
        if (m_muted || caption.has_value()) return mb::kIdYes;
        ask = loaderQuestion;
    }
    const bool yes = ask && ask();
    if (!yes) {
        // Kept for the record; the station says what the No means instead
        // of the question nobody was asked.
        std::lock_guard<std::mutex> lock(m_guard);
        m_lastRefusal = text;
        m_refusalShown = true;
    }
    return yes ? mb::kIdYes : mb::kIdNo;
}

void StationView::PostUpgradeResult(int mode, int resultCode) {
    if (postResult) postResult(mode, resultCode);
}

void StationView::Line(const std::wstring &text, const std::wstring &device) {
    std::lock_guard<std::mutex> lock(m_guard);
    const std::wstring line = Compose(text, device);
    if (json)
        m_output.Err(line);
    else
        m_output.Out(line);
}

void StationView::ErrorLine(const std::wstring &text, const std::wstring &device) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_output.Err(Compose(text, device));
}

void StationView::Raw(const std::wstring &text) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_output.Out(text);
}

void StationView::Verdict(const std::wstring &line, bool passed) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_output.Verdict(line, passed, json);
}

void StationView::SetUnsaid(std::vector<std::wstring> texts) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_unsaid = std::move(texts);
}

void StationView::SetReworded(std::map<std::wstring, std::wstring> texts) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_reworded = std::move(texts);
}

void StationView::SetMuted(bool muted) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_muted = muted;
}

void StationView::BeginVerdict() {
    std::lock_guard<std::mutex> lock(m_guard);
    m_takingVerdict = true;
    m_verdict.clear();
}

std::wstring StationView::EndVerdict() {
    std::lock_guard<std::mutex> lock(m_guard);
    m_takingVerdict = false;
    return m_verdict;
}

bool StationView::RefusalShown() {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_refusalShown;
}

std::wstring StationView::LastRefusal() {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_lastRefusal;
}

void StationView::ClearRefusal() {
    std::lock_guard<std::mutex> lock(m_guard);
    m_lastRefusal.clear();
    m_refusalShown = false;
}
