// A job step that touches the window, the process-wide values or the device
// library runs inside the worker gate, so that the exit procedure can wait for
// it and no step starts after the exit has released them.
#pragma once

#include <utility>

#include "device/device_context.h"
#include "device/job_watch.h"
#include "device/worker_gate.h"

// Runs the step and returns true, or returns false without running it once
// the gate is closed.
template <class Step> bool RunGated(WorkerGate &gate, Step &&step) {
    GateSection section(gate);
    if (!section) return false;
    std::forward<Step>(step)();
    return true;
}

// A job's call into the library, run gated and watched: false without running
// it once the gate is closed.
template <class Call>
bool WatchedCall(DeviceContext &context, const JobStepLimit &step, Call &&call) {
    return RunGated(context.gate, [&] {
        WatchedStep watched(context.watch, step, context.platform.clock.TickMs());
        std::forward<Call>(call)();
    });
}
