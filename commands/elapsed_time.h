// The IDT_ELAPSED tick: the running job's elapsed time in 1018.
#pragma once

#include <cstdint>
#include <string>

#include "commands/command_context.h"

// "mm:ss" with at least two digits of minutes and no upper limit (3725 s is
// "62:05"). A negative time, after the clock was set back, shows "00:00".
std::wstring FormatElapsed(int64_t seconds);

void OnElapsedTick(CommandContext &ctx);
