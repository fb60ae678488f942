// The one way out of the main window: Exit (1005) and WM_CLOSE.
#pragma once

#include <cstdint>

#include "commands/command_context.h"

// How long the exit waits for a watcher cycle or job step under way.
inline constexpr uint32_t kExitWaitMs = 3000;

// Asks the user; on No returns false and nothing changes (a running job goes
// on). On Yes stops the workers from touching the window, the process-wide
// values and the library, removes the loader file from the temporary folder, releases the
// library, and returns true: the caller then ends the dialog.
bool RunExitProcedure(CommandContext &ctx);
