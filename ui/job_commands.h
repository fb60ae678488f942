// Upgrade and Repair (buttons 1002 and 1006), the job's result
// (WM_UPGRADE_RESULT) and the device library's questions (WM_DEVICE_PROMPT).
// Every function runs on the UI thread.
#pragma once

#include <cstdint>

#include "ui/command_context.h"

// The job's mode: UpgradeThread's argument and WM_UPGRADE_RESULT's wParam.
inline constexpr int kModeUpgrade = 0;
inline constexpr int kModeRepair = 1;

// The result shown when the job thread could not be started at all. It has
// no row of its own in the verdict table, so it reads as an unexpected
// failure.
inline constexpr int kJobNotStartedCode = -100;

// Check, confirm and start a job. True when the job thread is running; false
// when the click was abandoned (the window is as it was) or the thread could
// not be started (its failure has been shown and the window has returned to
// the watcher).
bool OnUpgrade(CommandContext &ctx);
bool OnRepair(CommandContext &ctx);

// Shows the verdict for the job's result code, then clears the job's traces
// and hands the device back to the watcher. Any mode but 0 counts as repair.
void OnUpgradeResult(CommandContext &ctx, unsigned mode, int32_t code);

// Answers a question of the device library: 1 for yes, 0 for no. A null
// answer has nowhere to go, so nothing is asked.
void OnDevicePrompt(CommandContext &ctx, unsigned kind, int32_t *answer);
