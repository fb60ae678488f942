#include "device/store_record_sink.h"

void StoreRecordSink::SetFile(const std::wstring &path) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_file = path;
}

std::wstring StoreRecordSink::File() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_file;
}

void StoreRecordSink::Submit(const JobRecordFields &fields) {
    const std::wstring file = File();
    if (file.empty()) return;
    std::wstring reason;
    const bool written = m_store.Append(file, JobRecordHeaderLine(), JobRecordLine(fields), reason);
    bool report = false;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        report = !written && !m_failureReported;
        m_failureReported = !written;
    }
    if (report && onWriteFailed) onWriteFailed(file + L": " + reason);
}
