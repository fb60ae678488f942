// A job's start as the events tell it: a new job id, the device's and the
// image's facts, and the image's digest of the content the job begins with.
#pragma once

#include <functional>
#include <string>

#include "device/device_context.h"
#include "device/job_codes.h"

// Tells the job's start to context.events and has a worker hash the image
// alongside the job (never the caller's thread, which may be the window's);
// when no worker can be started the record goes without a digest. Returns
// the job's id. Called after the hand-over, before the job's thread starts.
std::wstring TellJobStarted(DeviceContext &context, JobMode mode, IJobIdSource &ids,
                            IJobRecordStore &store,
                            const std::function<bool(std::function<void()>)> &startWorker);

// Tells the job's end to context.events: the job under way, if any.
void TellJobEnded(DeviceContext &context, int32_t code, const std::wstring &verdictKey,
                  const std::wstring &verdictText, const std::wstring &declinedBy = L"");
