// Starts the driver installer program with CreateProcessW.
#pragma once

#include "device/driver_platform.h"

class ProcessRunnerWin : public IProcessRunner {
  public:
    std::unique_ptr<IRunningProcess> StartHidden(const std::wstring &commandLine) override;
};
