// The job record's platform half: the file appended with shared access, the
// image's SHA-256 through the system's hash service (BCrypt), the computer's
// name.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "device/job_record.h"

class JobRecordStoreWin : public IJobRecordStore {
  public:
    bool Append(const std::wstring &path, const std::string &header, const std::string &line,
                std::wstring &error) override;
    // Remembers the digest of each file by its size and time of last write,
    // so an image used for device after device is read once.
    bool FileSha256(const std::wstring &path, std::wstring &hex) override;
    std::wstring ComputerName() override;

  private:
    struct Known {
        unsigned long long size = 0;
        unsigned long long written = 0;
        std::wstring hex;
    };
    std::mutex m_guard; // m_known
    std::map<std::wstring, Known> m_known;
};
