#include "station/station_loop.h"

#include "station/station_codes.h"

StationLoop::StationLoop(IStationActions &actions, bool loop, uint64_t waitMs, uint64_t nowMs,
                         int count)
    : m_actions(actions), m_loop(loop), m_waitMs(waitMs), m_enteredMs(nowMs), m_waitStartMs(nowMs),
      m_count(count) {}

void StationLoop::Start(uint64_t nowMs) {
    m_state = StationState::WaitingForDevice;
    m_enteredMs = nowMs;
    m_waitStartMs = nowMs;
}

void StationLoop::Finish(int exitCode, uint64_t nowMs) {
    m_state = StationState::Finished;
    m_exitCode = exitCode;
    if (!m_loop) return;
    EndCycle(nowMs);
    m_actions.Notify(StationNotice::Summary);
}

void StationLoop::EndCycle(uint64_t nowMs) {
    if (!m_tally.CycleOpen()) return;
    m_tally.CycleEnded(nowMs);
    m_actions.Notify(StationNotice::Progress);
}

int StationLoop::LoopExitCode() const {
    // A loop that never saw a device did nothing it could call a success.
    if (m_jobsRun == 0 && m_refused == 0 && m_alreadyDone == 0) return station_exit::kNoDevice;
    // A refused device was not done either.
    return m_jobsFailed > 0 || m_refused > 0 ? station_exit::kSomeJobsFailed
                                             : station_exit::kSuccess;
}

void StationLoop::Track(const StationObservation &seen) {
    if (seen.findResult >= 2) return; // who is there is not known
    for (auto it = m_done.begin(); it != m_done.end();) {
        const bool here = seen.findResult == 1 && it->first == seen.device;
        if (here) {
            it->second.back = true;
            ++it;
        } else if (it->second.back) {
            it = m_done.erase(it); // back, then taken away: free again
        } else if (it->second.failed && seen.nowMs - it->second.endedMs >= kReturnAfterJobMs) {
            it = m_done.erase(it); // failed, and not back within its minute
        } else {
            ++it;
        }
    }
}

void StationLoop::ForgetFailedNeverBack() {
    for (auto it = m_done.begin(); it != m_done.end();) {
        if (it->second.failed && !it->second.back)
            it = m_done.erase(it);
        else
            ++it;
    }
}

void StationLoop::Announced(const StationObservation &seen) {
    if (m_done.count(seen.device) != 0) {
        m_announcementsSeen = seen.announcements;
        if (m_state != StationState::WaitingForRemoval)
            Enter(StationState::WaitingForRemoval, seen);
        return;
    }
    TryJob(seen);
}

void StationLoop::Enter(StationState state, const StationObservation &seen) {
    m_state = state;
    m_enteredMs = seen.nowMs;
    switch (state) {
    case StationState::WaitingForDevice:
        if (m_loop) EndCycle(seen.nowMs);
        if (CountReached()) {
            Finish(LoopExitCode(), seen.nowMs);
            return;
        }
        // Only a device announced from now on is the next one.
        m_announcementsSeen = seen.announcements;
        m_waitStartMs = seen.nowMs;
        m_actions.Notify(StationNotice::WaitingForDevice);
        break;
    case StationState::WaitingForRemoval:
        m_actions.Notify(StationNotice::RemoveDevice);
        break;
    case StationState::SeveralDevices:
        m_alone = false;
        break;
    default:
        break;
    }
}

void StationLoop::TryJob(const StationObservation &seen) {
    if (CountReached()) {
        // Plugged in before the last device of the count was taken away.
        Finish(LoopExitCode(), seen.nowMs);
        return;
    }
    const unsigned announcementsBefore = m_announcementsSeen;
    m_announcementsSeen = seen.announcements;
    m_jobDevice = seen.device;
    switch (m_actions.CheckAndStartJob()) {
    case JobStart::Started:
        ++m_jobsRun;
        if (m_loop) {
            EndCycle(seen.nowMs); // the one before went unseen, or is restarting still
            m_tally.CycleStarted(seen.device, seen.nowMs);
        }
        // The operator has gone on to this device: a failed one that never
        // came back was taken away, to be started again when plugged in.
        ForgetFailedNeverBack();
        Enter(StationState::JobRunning, seen);
        break;
    case JobStart::SeveralDevices:
        Enter(StationState::SeveralDevices, seen);
        break;
    case JobStart::NoDevice:
        m_state = StationState::WaitingForDevice; // quietly: the operator sees no change
        break;
    case JobStart::Busy:
        m_announcementsSeen = announcementsBefore; // the same device is tried at the next tick
        break;
    case JobStart::AlreadyDone:
        // Done before, and proven: neither a job nor a failure. A one-job
        // run ends as for a pass; the loop goes on once it is taken away.
        ++m_alreadyDone;
        if (!m_loop) {
            Finish(station_exit::kSuccess, seen.nowMs);
        } else {
            if (!m_jobDevice.empty()) m_done[m_jobDevice].back = true;
            Enter(StationState::WaitingForRemoval, seen);
        }
        break;
    case JobStart::Refused:
        ++m_refused;
        m_tally.Refused(m_jobDevice);
        if (!m_loop) {
            Finish(station_exit::kJobRefused, seen.nowMs);
        } else {
            // Refused again only after it has been taken away.
            if (!m_jobDevice.empty()) m_done[m_jobDevice].back = true;
            Enter(StationState::WaitingForRemoval, seen);
        }
        break;
    }
}

void StationLoop::Tick(const StationObservation &seen) {
    if (m_state == StationState::Finished) return;

    if (seen.stopRequested && m_state != StationState::JobRunning) {
        m_actions.Notify(StationNotice::Stopped);
        Finish(m_loop ? LoopExitCode() : station_exit::kStopped, seen.nowMs);
        return;
    }

    const bool waiting =
        m_state == StationState::WaitingForDevice || m_state == StationState::SeveralDevices;
    if (waiting && m_waitMs != 0 && seen.nowMs - m_waitStartMs >= m_waitMs) {
        if (m_state == StationState::SeveralDevices) {
            // Not "no device": the operator has to take devices away.
            m_actions.Notify(StationNotice::SeveralStayed);
            const bool nothingDone = m_jobsRun == 0 && m_refused == 0;
            Finish(m_loop && !nothingDone ? LoopExitCode() : station_exit::kSeveralStayed,
                   seen.nowMs);
            return;
        }
        m_actions.Notify(StationNotice::NoDeviceInTime);
        Finish(m_loop ? LoopExitCode() : station_exit::kNoDevice, seen.nowMs);
        return;
    }

    if (m_state != StationState::JobRunning) Track(seen);
    const bool announced = seen.findResult == 1 && seen.announcements != m_announcementsSeen;

    switch (m_state) {
    case StationState::WaitingForDevice:
        if (seen.findResult >= 2)
            TryJob(seen); // refused as the window refuses, once
        else if (announced)
            Announced(seen);
        break;
    case StationState::SeveralDevices:
        if (seen.findResult <= 0) {
            m_state = StationState::WaitingForDevice;
            m_announcementsSeen = seen.announcements;
        } else if (seen.findResult >= 2) {
            m_alone = false;
        } else if (!m_alone) {
            m_alone = true;
            m_aloneSinceMs = seen.nowMs;
        } else if (seen.nowMs - m_aloneSinceMs >= kSettleAfterSeveralMs) {
            Announced(seen); // a device done already is only to be taken away
        }
        break;
    case StationState::JobRunning:
        if (seen.stopRequested && seen.stepOverdue) {
            // A verdict that may never come is not waited for.
            ++m_jobsFailed;
            m_actions.Notify(StationNotice::StepNotReturned);
            Finish(station_exit::kStepNotReturned, seen.nowMs);
            break;
        }
        if (seen.stopRequested && !m_stopAfterJob) {
            m_stopAfterJob = true;
            m_actions.Notify(StationNotice::Finishing);
        }
        break;
    case StationState::WaitingForReturn:
        if (announced) {
            Announced(seen); // back (take it away), or another device: its job at once
        } else if (seen.findResult >= 2) {
            TryJob(seen); // refused as the window refuses, once
        } else if (seen.nowMs - m_enteredMs >= kReturnAfterJobMs) {
            if (seen.findResult == 1 && m_done.count(seen.device) != 0)
                Enter(StationState::WaitingForRemoval, seen);
            else
                Enter(StationState::WaitingForDevice, seen);
        }
        break;
    case StationState::WaitingForRemoval:
        if (seen.findResult <= 0)
            Enter(StationState::WaitingForDevice, seen);
        else if (announced)
            Announced(seen); // another device, plugged in before this one went
        break;
    case StationState::Finished:
        break;
    }
}

void StationLoop::JobNotVerified() {
    ++m_jobsFailed;
    m_tally.NotVerified();
    // The run may have ended already: a one-job run waits for the device's
    // return after its verdict, and the loop writes the last line at its end.
    if (Finished() && m_exitCode == station_exit::kSuccess)
        m_exitCode = m_loop ? LoopExitCode() : station_exit::kWrittenNotVerified;
}

void StationLoop::JobEnded(int32_t code, const StationObservation &seen) {
    if (m_state != StationState::JobRunning) return;
    if (code != 0) ++m_jobsFailed;
    m_tally.JobEnded(code);
    if (!m_loop) {
        Finish(code, seen.nowMs);
        return;
    }
    if (m_stopAfterJob || seen.stopRequested) {
        Finish(LoopExitCode(), seen.nowMs);
        return;
    }
    m_announcementsSeen = seen.announcements;
    // Not written again until it has come back and been taken away.
    if (!m_jobDevice.empty()) m_done[m_jobDevice] = DoneDevice{false, code != 0, seen.nowMs};
    Enter(StationState::WaitingForReturn, seen);
}
