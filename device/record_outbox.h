// Where the outbox hands a kept record: one destination per queue (the record
// file, the database).
#pragma once

#include <string>

#include "device/job_record.h"

enum class DeliveryOutcome { Delivered, AlreadyDelivered, Failed };

class IRecordDestination {
  public:
    virtual ~IRecordDestination() = default;
    // Writes one record. AlreadyDelivered: the destination already holds this
    // jobId (a retry after an unknown outcome), which counts as written.
    // Failed: error says why (never a password).
    virtual DeliveryOutcome Deliver(const JobRecordFields &fields, std::wstring &error) = 0;
    // A short name for messages ("record file", "database").
    virtual std::wstring Name() const = 0;
};
