// The running job as its owner sees it on each tick of its clock: a thread
// that never began ends the job with the verdict of an unexpected failure,
// and a library call far past its normal time is named.
#pragma once

#include <cstdint>
#include <string>

#include "commands/command_context.h"

// Looks at ctx.watch. A job whose thread never began gets its result posted
// as a job's own (kJobThreadNotStarted), so that it ends as any job ends.
// Returns the text that names a step just found past its limit (once per
// step), empty otherwise.
std::wstring CheckRunningJob(CommandContext &ctx, uint64_t nowMs);

// A step past its limit as the texts name it: "QV_Upgrade (1234 s)".
std::wstring OverdueStepName(const JobWatch::Overdue &overdue);
