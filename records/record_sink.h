// Where a completed job's record goes: the CSV file beside the program, and
// for a fleet a database that every station shares. Each destination keeps
// what it could not deliver yet in a durable outbox of its own, so handing a
// record over never waits for the file or the server and never loses it.
#pragma once

#include "records/job_record.h"

class IRecordSink {
  public:
    virtual ~IRecordSink() = default;
    // A completed job's record (its jobId set). Returns once the record is
    // kept durably; the delivery may come later, from any thread.
    virtual void Submit(const JobRecordFields &fields) = 0;
    // The record as it stands at the verdict, kept durably but not handed
    // on: Submit of the same jobId completes it. A sink that delivers
    // nothing by itself need not keep it.
    virtual void Hold(const JobRecordFields &) {}
    // Records kept but not yet delivered.
    virtual size_t Waiting() const = 0;
};
