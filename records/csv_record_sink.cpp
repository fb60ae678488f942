#include "records/csv_record_sink.h"

#include <algorithm>
#include <cstdio>

namespace {

// Back from UTF-8 for the job ids (plain hexadecimal in practice; anything
// else is kept byte by byte, which still tells ids apart).
std::wstring WidenBytes(const std::string &bytes) {
    std::wstring out;
    for (char c : bytes)
        out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

// What every record file begins with, so that a spreadsheet reads it as
// UTF-8.
const std::string kUtf8Bom = "\xEF\xBB\xBF";

// The column of the job id: every column after it came later.
size_t JobIdColumn() {
    return JobRecordColumnIndex("job_id");
}

// The start of a file whose header names the first `count` columns.
std::string RecordStartWithColumns(size_t count) {
    std::string header;
    for (size_t i = 0; i < count; ++i)
        header += std::string(i == 0 ? "" : ",") + JobRecordColumns()[i];
    return kUtf8Bom + header + "\r\n";
}

// The earlier start the bytes begin with; empty when none.
std::string EarlierStartOf(const std::string &bytes) {
    for (const std::string &start : EarlierRecordStarts())
        if (bytes.rfind(start, 0) == 0) return start;
    return std::string();
}

} // namespace

size_t SplitCsvLines(const std::string &bytes, std::vector<std::vector<std::string>> &lines,
                     bool takeUnended) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    size_t used = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            lines.push_back(std::move(fields));
            fields.assign(1, std::string());
            used = i + 1;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    // A last line saved without its line break is a line all the same.
    if (takeUnended && used < bytes.size()) {
        lines.push_back(std::move(fields));
        used = bytes.size();
    }
    return used;
}

size_t ScanRecordJobIds(const std::string &bytes, std::set<std::wstring> &ids) {
    const size_t columns = JobRecordColumns().size();
    const size_t idColumn = JobIdColumn();
    std::vector<std::vector<std::string>> lines;
    const size_t used = SplitCsvLines(bytes, lines, false);
    for (const std::vector<std::string> &fields : lines) {
        // A line of every column, or of the columns up to the job id (a line
        // of the version before the later columns); the header's name is no
        // id.
        const bool whole = fields.size() == columns || fields.size() == idColumn + 1;
        if (whole && !fields[idColumn].empty() && fields[idColumn] != JobRecordColumns()[idColumn])
            ids.insert(WidenBytes(fields[idColumn]));
    }
    return used;
}

std::vector<VerifiedPass> ScanVerifiedPasses(const std::string &bytes, const std::wstring &serial) {
    const std::vector<const char *> &names = JobRecordColumns();
    const size_t serialColumn = JobRecordColumnIndex("device_serial"),
                 shaColumn = JobRecordColumnIndex("image_sha256"),
                 codeColumn = JobRecordColumnIndex("result_code"),
                 verifiedColumn = JobRecordColumnIndex("verified"),
                 endColumn = JobRecordColumnIndex("end"),
                 computerColumn = JobRecordColumnIndex("computer");
    const std::string wanted = EncodeUtf8Text(serial);
    const std::string yes = EncodeUtf8Text(kVerifiedYes);
    const std::string success = std::to_string(kJobFinished);
    std::vector<VerifiedPass> passes;
    std::vector<std::vector<std::string>> lines;
    SplitCsvLines(bytes, lines, false);
    for (const std::vector<std::string> &fields : lines) {
        // Only a line of every column can say that its pass was verified.
        if (fields.size() != names.size() || fields[serialColumn] != wanted ||
            fields[codeColumn] != success || fields[verifiedColumn] != yes ||
            fields[shaColumn].empty())
            continue;
        passes.push_back({WidenBytes(fields[shaColumn]), WidenBytes(fields[endColumn]),
                          WidenBytes(fields[computerColumn])});
    }
    return passes;
}

std::vector<VerifiedPass> ReadVerifiedPasses(IRecordFile &file, const std::wstring &path,
                                             const std::wstring &serial) {
    if (serial.empty() || path.empty()) return {};
    std::string bytes;
    uint64_t size = 0;
    std::wstring error;
    if (!file.ReadFrom(path, 0, 0, bytes, size, error)) return {};
    const uint64_t from = size > kVerifiedScanBytes ? size - kVerifiedScanBytes : 0;
    if (!file.ReadFrom(path, from, kVerifiedScanBytes, bytes, size, error)) return {};
    if (from > 0) {
        // Begun inside a line: from the next one.
        const size_t next = bytes.find('\n');
        bytes.erase(0, next == std::string::npos ? bytes.size() : next + 1);
    }
    return ScanVerifiedPasses(bytes, serial);
}

CsvRecordDestination::CsvRecordDestination(IRecordFile &file, std::wstring path)
    : m_file(file), m_path(std::move(path)) {}

bool CsvRecordDestination::Probe(std::wstring &error) {
    if (m_file.IsFolder(m_path)) {
        error = L"it is a folder, not a file";
        return false;
    }
    std::string bytes;
    uint64_t size = 0;
    return m_file.MakeFolderOf(m_path, error) && m_file.ReadFrom(m_path, 0, 0, bytes, size, error);
}

std::wstring CsvRecordDestination::Name() const {
    return m_path;
}

std::string EarlierRecordStart() {
    return RecordStartWithColumns(JobIdColumn());
}

std::vector<std::string> EarlierRecordStarts() {
    return {EarlierRecordStart(), RecordStartWithColumns(JobIdColumn() + 1)};
}

std::string RecordStart() {
    return kUtf8Bom + JobRecordHeaderLine();
}

DeliveryOutcome CsvRecordDestination::Failure() {
    // A folder never becomes the file by waiting: its records are set aside
    // now rather than held up, with everything behind them, until someone
    // moves it. A held file, a share away, a full disk pass by themselves.
    return m_file.IsFolder(m_path) ? DeliveryOutcome::Refused : DeliveryOutcome::Failed;
}

DeliveryOutcome CsvRecordDestination::Deliver(const JobRecordFields &fields, std::wstring &error) {
    std::string bytes;
    uint64_t size = 0;
    bool fromTail = false;
    if (m_scanned == 0) {
        // The start, for its header, and the size, for where the end begins.
        uint64_t head = 0;
        for (const std::string &start : EarlierRecordStarts())
            head = std::max<uint64_t>(head, start.size());
        if (!m_file.ReadFrom(m_path, 0, head, bytes, size, error)) return Failure();
        m_earlierStart = EarlierStartOf(bytes);
        fromTail = size > kRecordTailScanBytes;
        if (fromTail) m_scanned = size - kRecordTailScanBytes;
    }
    if (!m_file.ReadFrom(m_path, m_scanned, kReadToTheEnd, bytes, size, error)) return Failure();
    if (size < std::max(m_scanned, m_knownSize)) {
        // Shorter than it was, counting the lines this run added: another
        // file now (the lines so far archived); read it from the start.
        m_ids.clear();
        m_scanned = 0;
        if (!m_file.ReadFrom(m_path, 0, kReadToTheEnd, bytes, size, error)) return Failure();
        m_earlierStart = EarlierStartOf(bytes);
        fromTail = false;
    }
    if (fromTail) {
        // The end read first begins inside a line: from the next one.
        const size_t next = bytes.find('\n');
        const size_t skip = next == std::string::npos ? bytes.size() : next + 1;
        bytes.erase(0, skip);
        m_scanned += skip;
    }
    const size_t used = ScanRecordJobIds(bytes, m_ids);
    m_scanned += used;
    if (!fields.jobId.empty() && m_ids.count(fields.jobId) != 0)
        return DeliveryOutcome::AlreadyDelivered;

    // A last line left without its line break (the file edited by hand)
    // would take this line into itself, and its job id would be lost.
    const std::string unended = bytes.substr(used);
    std::string line = JobRecordLine(fields);
    if (!unended.empty() && unended != kUtf8Bom)
        line.insert(0, unended.back() == '\r' ? "\n" : "\r\n");

    if (!m_earlierStart.empty()) {
        // Only the header changes, in a copy that replaces the file whole:
        // the lines already there keep their bytes, and the name of the
        // column they lack costs them nothing in a spreadsheet.
        const std::string before = m_earlierStart;
        const std::string after = RecordStart();
        std::wstring ignored;
        if (m_file.ReplaceStart(m_path, before, after, ignored)) {
            m_earlierStart.clear();
            m_scanned += after.size() - before.size();
        }
    }
    m_knownSize = size;
    if (!m_file.Append(m_path, JobRecordHeaderLine(), line, error)) return Failure();
    m_knownSize += line.size();
    // A file that takes a line but not a new header (a folder where no copy
    // can be made) keeps its header for this run, rather than being copied
    // whole before every line.
    m_earlierStart.clear();
    return DeliveryOutcome::Delivered;
}

std::wstring OutboxPathBeside(const std::wstring &recordPath) {
    return recordPath + L".outbox";
}

std::wstring OutboxPathIn(const std::wstring &folder, const std::wstring &recordPath) {
    const size_t slash = recordPath.find_last_of(L"\\/");
    const std::wstring name =
        slash == std::wstring::npos ? recordPath : recordPath.substr(slash + 1);
    wchar_t hash[16];
    std::swprintf(hash, sizeof hash / sizeof hash[0], L"%08x",
                  static_cast<unsigned>(Fnv1aHash(recordPath)));
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    return path + name + L"-" + hash + L".outbox";
}

CsvRecordSink::CsvRecordSink(IRecordFile &file, IQueueFiles &queueFiles, IClock &clock,
                             const std::wstring &queueRoot, const std::wstring &owner,
                             std::wstring recordPath)
    : m_destination(file, std::move(recordPath)),
      m_outbox(queueFiles, queueRoot, FileDestinationName(m_destination.Path()), owner,
               m_destination, clock) {}

std::unique_ptr<CsvRecordSink> MakeCsvRecordSink(IRecordFile &file, IQueueFiles &queueFiles,
                                                 IClock &clock, const std::wstring &recordPath,
                                                 const std::wstring &programFolder,
                                                 const std::wstring &owner) {
    auto sink = std::make_unique<CsvRecordSink>(file, queueFiles, clock,
                                                RecordQueueRoot(programFolder), owner, recordPath);
    sink->Outbox().AdoptQueue(OutboxPathBeside(recordPath));
    std::wstring folder = programFolder;
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    sink->Outbox().AdoptQueue(OutboxPathIn(folder + L"Log\\", recordPath));
    return sink;
}
