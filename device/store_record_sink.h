// A record sink that appends each record at once through the record store,
// as the job record always did: a line that cannot be written is reported
// (once, until a line is written again) and is not kept.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "device/job_record.h"
#include "device/record_sink.h"

class StoreRecordSink : public IRecordSink {
  public:
    explicit StoreRecordSink(IJobRecordStore &store) : m_store(store) {}

    // Empty: no file, nothing written.
    void SetFile(const std::wstring &path);
    std::wstring File() const;

    void Submit(const JobRecordFields &fields) override;
    size_t Waiting() const override { return 0; }

    // Called once for the first record that could not be written (and again
    // only after a record has been written since): the window's detail line,
    // the station's error stream.
    std::function<void(const std::wstring &reason)> onWriteFailed;

  private:
    IJobRecordStore &m_store;
    mutable std::mutex m_guard; // everything below
    std::wstring m_file;
    bool m_failureReported = false;
};
