// What the main window's commands and handlers work on: the device context
// that the watcher and the job share, plus what only the window can do for
// the commands. The Win32 main window builds one for its lifetime; tests
// build one over fakes.
#pragma once

#include <string>

#include "device/device_context.h"
#include "device/job_codes.h"
#include "device/worker_gate.h"

// The window's part in the commands: it owns the worker threads and the
// device context the inspection runs on.
class ICommandHost {
  public:
    virtual ~ICommandHost() = default;
    // Starts UpgradeThread in the mode; false when the thread could not be
    // started.
    virtual bool StartJob(JobMode mode) = 0;
    // Starts DeviceWatchThread; false when the thread could not be started.
    virtual bool StartWatcher() = 0;
    // InspectFirmware: true when the image is usable. It reports its own
    // errors to the user.
    virtual bool InspectImage(const std::wstring &path) = 0;
};

struct CommandContext : DeviceContext {
    ICommandHost &host;
    // Keeps handling sent messages while the UI thread waits on a worker;
    // without one the waits only sleep.
    WorkerGate::Pump pump;
    // Keeps the whole window working (painting, input, timers) while a click
    // waits for a watcher cycle under way; without one the click waits with
    // pump. Whatever it runs may click again meanwhile.
    WorkerGate::Pump windowPump;
    // How long a click waits for that cycle before it is given up.
    uint32_t watchIdleWaitMs = kWatchIdleWaitMs;
    // The job was confirmed before the click (the station's command line):
    // the confirmation box is not asked, so a language file without its text
    // does not refuse every job. The loader question is asked all the same.
    bool confirmedBeforehand = false;
};

// The pump to wait with: the context's, or a plain sleep on its clock.
WorkerGate::Pump WaitPump(CommandContext &ctx);
