#include "device/job_watch.h"

bool JobClaim::ThreadBegins() {
    int32_t expected = kStarting;
    return m_state.compare_exchange_strong(expected, kThread);
}

bool JobClaim::TakeBack() {
    int32_t expected = kStarting;
    return m_state.compare_exchange_strong(expected, kTakenBack);
}

std::shared_ptr<JobClaim> JobWatch::JobStarting(uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_claim = std::make_shared<JobClaim>();
    m_startingMs = nowMs;
    m_step = nullptr;
    m_stepReported = false;
    return m_claim;
}

void JobWatch::StepBegins(const JobStepLimit &step, uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_step = step.step;
    m_stepSinceMs = nowMs;
    m_stepLimitMs = step.limitMs;
    m_stepReported = false;
}

void JobWatch::StepEnds() {
    std::lock_guard<std::mutex> lock(m_guard);
    m_step = nullptr;
}

void JobWatch::JobEnded() {
    std::lock_guard<std::mutex> lock(m_guard);
    m_claim.reset();
    m_step = nullptr;
}

JobWatch::Finding JobWatch::Check(uint64_t nowMs, Overdue &overdue) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (m_claim && nowMs - m_startingMs >= kJobThreadStartLimitMs) {
            const bool takenBack = m_claim->TakeBack();
            // Begun or taken back, the claim has nothing more to say.
            m_claim.reset();
            if (takenBack) return Finding::ThreadNeverBegan;
        }
        if (m_step == nullptr || m_stepReported || nowMs - m_stepSinceMs < m_stepLimitMs)
            return Finding::None;
        m_stepReported = true;
    }
    StepStillOverdue(nowMs, overdue);
    return Finding::StepOverdue;
}

bool JobWatch::StepStillOverdue(uint64_t nowMs, Overdue &overdue) const {
    std::lock_guard<std::mutex> lock(m_guard);
    if (m_step == nullptr || nowMs - m_stepSinceMs < m_stepLimitMs) return false;
    overdue.step = m_step;
    overdue.runningMs = nowMs - m_stepSinceMs;
    return true;
}

bool StartWatchedJob(JobWatch &watch, uint64_t nowMs,
                     const std::function<bool(std::function<void()>)> &startThread,
                     std::function<void()> job) {
    std::shared_ptr<JobClaim> claim = watch.JobStarting(nowMs);
    const bool started = startThread([claim, job = std::move(job)] {
        if (claim->ThreadBegins()) job();
    });
    if (!started) watch.JobEnded();
    return started;
}
