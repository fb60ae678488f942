// Upgrade and Repair (buttons 1002 and 1006), the job's result
// (WM_UPGRADE_RESULT) and the device library's questions (WM_DEVICE_PROMPT).
// Every function runs on the UI thread.
#pragma once

#include <cstdint>

#include "commands/command_context.h"
#include "device/job_codes.h"

// Check, confirm and start a job. True when the job thread is running; false
// when the click was abandoned (the window is as it was) or the thread could
// not be started (its failure has been shown and the window has returned to
// the watcher).
bool OnUpgrade(CommandContext &ctx);
bool OnRepair(CommandContext &ctx);

// WM_UPGRADE_RESULT: shows the verdict for the job's result code, then
// clears the job's traces and hands the device back to the watcher. Any mode
// but kModeUpgrade counts as repair.
void ShowJobVerdict(CommandContext &ctx, JobMode mode, int32_t code);

// WM_DEVICE_PROMPT: answers a question of the device library, 1 for yes, 0
// for no. A null answer has nowhere to go, so nothing is asked.
void AnswerDevicePrompt(CommandContext &ctx, uint32_t kind, int32_t *answer);
