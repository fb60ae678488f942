// Everything a device operation works with, bundled so that the watcher, the
// inspection and the job take one argument. The main window builds one for
// the process; tests build one over fakes.
#pragma once

#include <climits>

#include "app/language_texts.h"
#include "app/platform.h"
#include "app/process_state.h"
#include "device/device_library.h"
#include "device/worker_gate.h"
#include "ui/main_view.h"
#include "ui/main_window_model.h"

struct DeviceContext {
    ProcessState &state;
    MainWindowModel &model;
    IDeviceLibrary &library;
    IMainView &view;
    ILanguageTexts &texts;
    const Platform &platform;
    WorkerGate &gate;
};

// Returned by a job step when the exit procedure has closed the gate: the job
// then ends without touching the window, the values or the library, and posts
// nothing. Never a result code of the window's table.
inline constexpr int kStoppedAtExit = INT_MIN;
