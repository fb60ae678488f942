// The job record's CSV file as a record destination, behind its outbox: the
// sink the window and the station hand every completed job to.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "device/record_outbox.h"

// The CSV file through the platform.
class IRecordFile {
  public:
    virtual ~IRecordFile() = default;
    // The file's bytes from offset to its end and its size now. True with
    // nothing when there is no file yet; false with the reason when it
    // cannot be read.
    virtual bool ReadFrom(const std::wstring &path, uint64_t offset, std::string &bytes,
                          uint64_t &size, std::wstring &error) = 0;
    // Appends the line; a new or empty file first gets a UTF-8 byte-order
    // mark and the header. Missing folders are made. False with a reason a
    // user can act on.
    virtual bool Append(const std::wstring &path, const std::string &header,
                        const std::string &line, std::wstring &error) = 0;
    // The file with its first bytes `before` replaced by `after`, the rest
    // kept byte for byte. Written as a copy beside it that takes its place
    // in one step: a failure at any point leaves the file as it was. False,
    // the file untouched, when it no longer begins with `before` or a step
    // fails.
    virtual bool ReplaceStart(const std::wstring &path, const std::string &before,
                              const std::string &after, std::wstring &error) = 0;
    // A folder stands at the path.
    virtual bool IsFolder(const std::wstring &path) = 0;
};

// The job_id of each whole line of CSV bytes (the last field of a line of
// every column); a line not yet ended is left. Returns the bytes used.
size_t ScanRecordJobIds(const std::string &bytes, std::set<std::wstring> &ids);

// The header line of a file begun before the job_id column, and of one
// begun now, each with the byte-order mark every record file starts with.
std::string EarlierRecordStart();
std::string RecordStart();

class CsvRecordDestination : public IRecordDestination {
  public:
    CsvRecordDestination(IRecordFile &file, std::wstring path);
    // A record whose jobId the file already holds is not appended again. A
    // line never joins a last line left without its line break. A file
    // begun before the job_id column gets that column's name in its header
    // first. Refused when the path is a folder: no line ever goes there
    // while it stays.
    DeliveryOutcome Deliver(const JobRecordFields &fields, std::wstring &error) override;
    std::wstring Name() const override;
    const std::wstring &Path() const { return m_path; }

  private:
    // The outcome of a read or write of the file that did not go.
    DeliveryOutcome Failure();

    IRecordFile &m_file;
    const std::wstring m_path;
    // The job ids of the file as far as it has been read; the rest is read
    // before each line, so another program's lines count too.
    std::set<std::wstring> m_ids;
    uint64_t m_scanned = 0;
    // The file begins with the earlier header, and its rewrite is still to
    // be tried in this run.
    bool m_earlierHeader = false;
};

// The queue file of a record file: beside it.
std::wstring OutboxPathBeside(const std::wstring &recordPath);
// Where the queue goes while the record's folder cannot hold it (a share
// away, a path too long): a local folder, named after the record's path.
std::wstring OutboxPathIn(const std::wstring &folder, const std::wstring &recordPath);

class CsvRecordSink : public IRecordSink {
  public:
    // outboxPath: OutboxPathBeside, or OutboxPathIn a local folder when the
    // record's own cannot be written; the other is taken in when found.
    CsvRecordSink(IRecordFile &file, IOutboxFile &outboxFile, IClock &clock,
                  std::wstring recordPath, std::wstring outboxPath);
    void Submit(const JobRecordFields &fields) override { m_outbox.Submit(fields); }
    size_t Waiting() const override { return m_outbox.Waiting(); }
    RecordOutbox &Outbox() { return m_outbox; }
    const std::wstring &RecordPath() const { return m_destination.Path(); }

  private:
    CsvRecordDestination m_destination;
    RecordOutbox m_outbox;
};

// The sink of a record file: its queue beside it when the record's folder can
// hold one, else in localFolder; a queue left in the other place by an
// earlier run is taken in.
std::unique_ptr<CsvRecordSink> MakeCsvRecordSink(IRecordFile &file, IOutboxFile &outboxFile,
                                                 IClock &clock, const std::wstring &recordPath,
                                                 const std::wstring &localFolder);
