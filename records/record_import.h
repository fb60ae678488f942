// A job record file brought into the fleet database after the fact: the
// history a station kept before the database was switched on, or while it
// pointed at another one. Each line goes once, however often the file is
// imported, because the database refuses a job_id it already holds.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "records/job_record.h"
#include "records/record_outbox.h"

// One line of a record file as read for the import.
struct ImportLine {
    // Where a spreadsheet shows it: the header is line 1.
    size_t line = 0;
    JobRecordFields fields;
    // Why the line cannot be read: more fields than its header names, or a
    // number or a time that does not read (the column named).
    enum class Problem { None, TooManyFields, Unreadable };
    Problem problem = Problem::None;
    std::wstring column;
};

struct RecordFileContents {
    std::vector<ImportLine> lines;
    // The first line names none of the record's columns: no job record.
    bool notARecord = false;
};

// The file's bytes (UTF-8, with or without its byte-order mark) read by the
// names of its header, so a file begun by an earlier version, with fewer
// columns, reads as well as a new one; a column it lacks stays empty (0 for
// a number), a name the record does not know is passed over. A line without
// a job_id gets one from its content (DerivedJobId).
RecordFileContents ReadRecordFileForImport(const std::string &bytes);

// 32 lower-case hexadecimal characters, like every job id, from the line's
// fields other than job_id in their file's order: the same line gives the same
// id at every import, whether or not its header has the job_id column yet.
std::wstring DerivedJobId(const std::vector<std::string> &fieldsWithoutJobId);

struct ImportTally {
    size_t sent = 0;
    size_t alreadyThere = 0;
    // The lines the database refused for good: the line and why.
    std::vector<std::pair<size_t, std::wstring>> refused;
    // A failure that may pass (the server away) stops the import there: the
    // lines left and why.
    size_t notSent = 0;
    std::wstring notSentReason;
    // What the destination said while it took the lines (see Deliver).
    std::wstring notice;
};

// Every line that reads, in the file's order, to the destination.
ImportTally ImportRecordLines(const std::vector<ImportLine> &lines,
                              IRecordDestination &destination);
