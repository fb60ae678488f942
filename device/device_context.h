// Everything a device operation works with, bundled so that the watcher, the
// inspection and the job take one argument. The main window builds one for
// the process; tests build one over fakes.
#pragma once

#include "base/language_texts.h"
#include "base/main_view.h"
#include "base/main_window_model.h"
#include "base/platform.h"
#include "base/process_state.h"
#include "device/device_library.h"
#include "device/job_events.h"
#include "device/job_watch.h"
#include "device/worker_gate.h"

struct DeviceContext {
    ProcessState &state;
    MainWindowModel &model;
    IDeviceLibrary &library;
    IMainView &view;
    ILanguageTexts &texts;
    const Platform &platform;
    WorkerGate &gate;
    // Where the watcher, the inspection and the job tell what happened; none
    // in tests that do not listen.
    JobEventHub *events = nullptr;
    // Where the job says which library call it is in; none in tests that do
    // not watch.
    JobWatch *watch = nullptr;
};
