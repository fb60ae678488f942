// What the main window's commands and handlers work on. The Win32 main
// window builds one for its lifetime and hands it to every handler; tests
// build one over fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/language_texts.h"
#include "app/platform.h"
#include "app/process_state.h"
#include "device/worker_gate.h"
#include "ui/main_view.h"
#include "ui/main_window_model.h"

struct CommandContext {
    ProcessState &state;
    MainWindowModel &model;
    IMainView &view;
    ILanguageTexts &texts;
    IClock &clock;
    IFileSystem &files;
    WorkerGate &gate;
    // Keeps handling sent messages while the UI thread waits on a worker;
    // without one the waits only sleep.
    WorkerGate::Pump pump;

    // Starts UpgradeThread with the mode; false when the thread could not be
    // started.
    std::function<bool(int mode)> startJob;
    // InspectFirmware: true when the image is usable. It reports its own
    // errors to the user.
    std::function<bool(const std::wstring &path)> inspectFirmware;
    // Starts DeviceWatchThread; false when the thread could not be started.
    std::function<bool()> startWatcher;
    // DllDeInitialize of the device library.
    std::function<void()> releaseLibrary;

    // Keeps the whole window working (painting, input, timers) while a click
    // waits for a watcher cycle under way; without one the click waits with
    // pump. Whatever it runs may click again meanwhile.
    WorkerGate::Pump windowPump;
    // How long a click waits for that cycle before it is given up.
    uint32_t watchIdleWaitMs = kWatchIdleWaitMs;
};

// The pump to wait with: the context's, or a plain sleep on its clock.
WorkerGate::Pump WaitPump(CommandContext &ctx);
