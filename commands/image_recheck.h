// The image shown is the image written: a release file overwritten in place
// after it was chosen must not be written with the old file's loader and
// size while the window shows the old versions.
#pragma once

#include <string>

#include "commands/command_context.h"

// Inspects the image and, when it is usable, remembers the file's size and
// last-write time as they were before the inspection read it.
bool InspectAndRemember(CommandContext &ctx, const std::wstring &path);

// At an Upgrade or Repair click: true when the chosen image is still the file
// that was inspected, or was inspected again and is usable (the image fields
// then show its versions). False when the new file is refused: its refusal
// has been shown, no image is chosen any more, and the click is abandoned.
// With no image chosen there is nothing to check.
bool ImageStillInspected(CommandContext &ctx);
