#include "device/job_start.h"

#include "device/device_watcher.h"

std::wstring TellJobStarted(DeviceContext &context, JobMode mode, IJobIdSource &ids,
                            IJobRecordStore &store,
                            const std::function<bool(std::function<void()>)> &startWorker) {
    JobStartedFacts job = JobStartFacts(context, mode, ids.NewJobId());
    job.startSeconds = context.platform.clock.NowSeconds();
    JobEventHub *events = context.events;
    if (events == nullptr) return job.jobId;
    events->OnJobStarted(job);
    if (job.image.path.empty()) return job.jobId;
    const bool hashing = startWorker([events, &store, id = job.jobId, path = job.image.path] {
        std::wstring hex;
        if (!store.FileSha256(path, hex)) hex.clear();
        events->OnImageHashed(id, hex);
    });
    if (!hashing) events->OnImageHashed(job.jobId, L"");
    return job.jobId;
}

void TellJobEnded(DeviceContext &context, int32_t code, const std::wstring &verdictKey,
                  const std::wstring &verdictText, const std::wstring &declinedBy) {
    if (context.events == nullptr) return;
    JobEndedFacts ended;
    ended.jobId = context.events->RunningJob();
    if (ended.jobId.empty()) return;
    ended.code = code;
    ended.verdictKey = verdictKey;
    ended.verdictText = verdictText;
    ended.declinedBy = declinedBy;
    context.events->OnJobEnded(ended);
}
