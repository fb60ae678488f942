// The first tick of IDT_START, once the main window is up: inspect the
// configured image, then start the device watcher.
#pragma once

#include "commands/command_context.h"

// Returns whether the device watcher has started.
bool OnStartTick(CommandContext &ctx);
