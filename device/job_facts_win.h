// A job's facts on the platform: the image's SHA-256 through the system's hash
// service (BCrypt), the computer's name, the job ids.
#pragma once

#include <string>

#include "device/job_events.h"

class JobRecordStoreWin : public IJobRecordStore {
  public:
    bool FileSha256(const std::wstring &path, std::wstring &hex) override;
    std::wstring ComputerName() override;
};

// Job ids from the system's preferred random number generator.
class JobIdSourceWin : public IJobIdSource {
  public:
    std::wstring NewJobId() override;
};
