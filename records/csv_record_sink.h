// The job record's CSV file as a record destination, behind its outbox: the
// sink the window and the station hand every completed job to.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "records/record_outbox.h"

// The CSV file through the platform.
class IRecordFile {
  public:
    virtual ~IRecordFile() = default;
    // The file's bytes from offset, at most `limit` of them, and its size
    // now. True with nothing when there is no file yet; false with the
    // reason when it cannot be read.
    virtual bool ReadFrom(const std::wstring &path, uint64_t offset, uint64_t limit,
                          std::string &bytes, uint64_t &size, std::wstring &error) = 0;
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
    // The folders of the file's path are there, or are made now.
    virtual bool MakeFolderOf(const std::wstring &path, std::wstring &error) = 0;
};

// CSV bytes (RFC 4180) as lines of fields, unquoted: a quoted field keeps
// its commas and line breaks, and "" inside it is one quotation mark. A last
// line without its line break is left unless takeUnended. Returns the bytes
// used.
size_t SplitCsvLines(const std::string &bytes, std::vector<std::vector<std::string>> &lines,
                     bool takeUnended);

// The job_id of each whole line of CSV bytes (a line of every column, or of
// the columns up to job_id as an earlier version wrote it); a line not yet
// ended is left. Returns the bytes used.
size_t ScanRecordJobIds(const std::string &bytes, std::set<std::wstring> &ids);

// A successful job whose device came back with the image's software, as a
// line of the record file tells it.
struct VerifiedPass {
    std::wstring imageSha256;
    std::wstring end; // as the line has it: "2026-12-08T13:28:42Z"
    std::wstring computer;
};
// The verified passes of the device with this serial number in CSV bytes
// (whole lines only).
std::vector<VerifiedPass> ScanVerifiedPasses(const std::string &bytes, const std::wstring &serial);
// How much of the record file's end is read for a device's verified passes:
// some 40,000 lines, so that a record of years costs a device no more than
// a moment.
inline constexpr uint64_t kVerifiedScanBytes = 16u << 20;
// The same from the end of the record file; none when the serial number is
// empty or the file cannot be read.
std::vector<VerifiedPass> ReadVerifiedPasses(IRecordFile &file, const std::wstring &path,
                                             const std::wstring &serial);

// The header line of a file begun before the job_id column, of every
// earlier version (that one first), and of one begun now, each with the
// byte-order mark every record file starts with.
std::string EarlierRecordStart();
std::vector<std::string> EarlierRecordStarts();
std::string RecordStart();

// How much of a record file's end the first delivery of a run reads for the
// job ids it holds (some 2,500 lines): a record whose delivery was cut off
// is offered again at the next start, and its line is there near the end,
// while a file of years of lines costs no more to open than a new one.
inline constexpr uint64_t kRecordTailScanBytes = 1u << 20;
inline constexpr uint64_t kReadToTheEnd = UINT64_MAX;

class CsvRecordDestination : public IRecordDestination {
  public:
    CsvRecordDestination(IRecordFile &file, std::wstring path);
    // A record whose jobId the file already holds is not appended again. A
    // line never joins a last line left without its line break. A file
    // begun before the job_id column gets that column's name in its header
    // first. Refused when the path is a folder: no line ever goes there
    // while it stays.
    DeliveryOutcome Deliver(const JobRecordFields &fields, std::wstring &error) override;
    bool Probe(std::wstring &error) override;
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
    // The file's size as this run last saw it, its own lines included.
    uint64_t m_knownSize = 0;
    // The earlier header the file begins with, while its rewrite is still
    // to be tried in this run; empty when none.
    std::string m_earlierStart;
};

// Where the earlier version kept the queue of a record file: beside it, or,
// while the record's folder could not hold it, in the Log folder.
std::wstring OutboxPathBeside(const std::wstring &recordPath);
std::wstring OutboxPathIn(const std::wstring &folder, const std::wstring &recordPath);

class CsvRecordSink : public IRecordSink {
  public:
    CsvRecordSink(IRecordFile &file, IQueueFiles &queueFiles, IClock &clock,
                  const std::wstring &queueRoot, const std::wstring &owner,
                  std::wstring recordPath);
    void Hold(const JobRecordFields &fields) override { m_outbox.Hold(fields); }
    void Submit(const JobRecordFields &fields) override { m_outbox.Submit(fields); }
    size_t Waiting() const override { return m_outbox.Waiting(); }
    RecordOutbox &Outbox() { return m_outbox; }
    const std::wstring &RecordPath() const { return m_destination.Path(); }

  private:
    CsvRecordDestination m_destination;
    RecordOutbox m_outbox;
};

// The sink of a record file, its records waiting in the program folder's
// queue; the earlier version's queue files of that record are carried over.
std::unique_ptr<CsvRecordSink> MakeCsvRecordSink(IRecordFile &file, IQueueFiles &queueFiles,
                                                 IClock &clock, const std::wstring &recordPath,
                                                 const std::wstring &programFolder,
                                                 const std::wstring &owner);
