#include "records/job_database.h"

#include <cwctype>

namespace {

constexpr wchar_t kMask[] = L"***";

std::wstring Lower(std::wstring text) {
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Trim(const std::wstring &text) {
    const size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return L"";
    const size_t last = text.find_last_not_of(L" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool IsSecretKey(const std::wstring &key) {
    const std::wstring lower = Lower(Trim(key));
    return lower == L"pwd" || lower == L"password";
}

std::wstring Widen(const std::string &ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring DecimalSeconds(uint64_t ms) {
    std::wstring fraction = std::to_wstring(ms % 1000);
    fraction.insert(0, 3 - fraction.size(), L'0');
    return std::to_wstring(ms / 1000) + L"." + fraction;
}

void ReplaceAll(std::wstring &text, const std::wstring &what, const std::wstring &with) {
    if (what.empty()) return;
    for (size_t at = text.find(what); at != std::wstring::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// Masks the value after every "pwd=" or "password=" that starts a key (at
// the text's start or after a separator), up to the next ";" or the end of a
// braced value.
std::wstring MaskKeyValues(const std::wstring &text) {
    const std::wstring lower = Lower(text);
    std::wstring out;
    size_t copied = 0;
    for (size_t at = 0; at < lower.size(); ++at) {
        if (at > 0 && std::iswalnum(lower[at - 1])) continue;
        size_t valueStart = std::wstring::npos;
        for (const wchar_t *key : {L"pwd", L"password"}) {
            const std::wstring k = key;
            if (lower.compare(at, k.size(), k) != 0) continue;
            size_t after = at + k.size();
            while (after < lower.size() && lower[after] == L' ')
                ++after;
            if (after < lower.size() && lower[after] == L'=') valueStart = after + 1;
        }
        if (valueStart == std::wstring::npos) continue;
        size_t valueEnd = valueStart;
        if (valueEnd < text.size() && text[valueEnd] == L'{') {
            // A braced value ends at a "}" that is not doubled.
            ++valueEnd;
            while (valueEnd < text.size()) {
                if (text[valueEnd] == L'}') {
                    if (valueEnd + 1 < text.size() && text[valueEnd + 1] == L'}') {
                        valueEnd += 2;
                        continue;
                    }
                    ++valueEnd;
                    break;
                }
                ++valueEnd;
            }
        } else {
            while (valueEnd < text.size() && text[valueEnd] != L';' && text[valueEnd] != L'\r' &&
                   text[valueEnd] != L'\n')
                ++valueEnd;
        }
        out += text.substr(copied, valueStart - copied);
        out += kMask;
        copied = valueEnd;
        at = valueEnd > 0 ? valueEnd - 1 : 0;
    }
    return out + text.substr(copied);
}

} // namespace

std::wstring ReadJobDatabaseConnection(CIniFile &ini) {
    // Connection strings with a long server name, options and a password
    // outgrow the usual 259 characters; cut, the string would connect
    // elsewhere or fail for a reason nobody could see.
    constexpr size_t kLongestConnectionChars = 4096;
    return Trim(ini.GetString(L"SYSTEM", L"JOB_DATABASE", kLongestConnectionChars));
}

std::wstring ReadStationName(CIniFile &ini, const std::wstring &computer) {
    const std::wstring name = Trim(ini.GetString(L"SYSTEM", L"STATION_NAME"));
    return name.empty() ? computer : name;
}

std::vector<std::pair<std::wstring, std::wstring>>
ParseConnectionString(const std::wstring &connection) {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    size_t at = 0;
    while (at < connection.size()) {
        const size_t equals = connection.find(L'=', at);
        const size_t semicolon = connection.find(L';', at);
        if (equals == std::wstring::npos ||
            (semicolon != std::wstring::npos && semicolon < equals)) {
            // A part without "=": not a pair; skipped.
            if (semicolon == std::wstring::npos) break;
            at = semicolon + 1;
            continue;
        }
        std::wstring key = Trim(connection.substr(at, equals - at));
        size_t valueAt = equals + 1;
        std::wstring value;
        if (valueAt < connection.size() && connection[valueAt] == L'{') {
            ++valueAt;
            while (valueAt < connection.size()) {
                if (connection[valueAt] == L'}') {
                    if (valueAt + 1 < connection.size() && connection[valueAt + 1] == L'}') {
                        value += L'}';
                        valueAt += 2;
                        continue;
                    }
                    ++valueAt;
                    break;
                }
                value += connection[valueAt++];
            }
            const size_t next = connection.find(L';', valueAt);
            at = next == std::wstring::npos ? connection.size() : next + 1;
        } else {
            const size_t next = connection.find(L';', valueAt);
            const size_t end = next == std::wstring::npos ? connection.size() : next;
            value = connection.substr(valueAt, end - valueAt);
            at = next == std::wstring::npos ? connection.size() : next + 1;
        }
        if (!key.empty()) pairs.emplace_back(key, value);
    }
    return pairs;
}

std::wstring MaskSecrets(const std::wstring &text, const std::wstring &connection) {
    std::wstring masked = text;
    // The literal values first: a driver may quote the password in a message
    // without its key.
    for (const auto &[key, value] : ParseConnectionString(connection))
        if (IsSecretKey(key)) ReplaceAll(masked, value, kMask);
    return MaskKeyValues(masked);
}

const std::vector<JobColumn> &JobTableColumns() {
    static const std::vector<JobColumn> columns = {
        {L"job_id", ColumnType::Text},
        {L"station", ColumnType::Text},
        {L"start", ColumnType::Timestamp},
        {L"end", ColumnType::Timestamp},
        {L"duration_s", ColumnType::Decimal},
        {L"computer", ColumnType::Text},
        {L"program_version", ColumnType::Text},
        {L"mode", ColumnType::Text},
        {L"device_kind", ColumnType::Integer},
        {L"device_name", ColumnType::Text},
        {L"device_serial", ColumnType::Text},
        {L"device_software_before", ColumnType::Text},
        {L"device_loader_before", ColumnType::Text},
        {L"image_file", ColumnType::Text},
        {L"image_software", ColumnType::Text},
        {L"image_loader", ColumnType::Text},
        {L"image_size", ColumnType::BigInteger},
        {L"image_sha256", ColumnType::Text},
        {L"result_code", ColumnType::Integer},
        {L"verdict_key", ColumnType::Text},
        {L"verdict_text", ColumnType::Text},
        {L"device_software_after", ColumnType::Text},
        {L"verified", ColumnType::Text, true},
        {L"operator", ColumnType::Text, true},
        {L"time_switch_s", ColumnType::Decimal, true},
        {L"time_loader_s", ColumnType::Decimal, true},
        {L"time_restart_s", ColumnType::Decimal, true},
        {L"time_download_s", ColumnType::Decimal, true},
        {L"start_local", ColumnType::LocalTimestamp, true},
    };
    return columns;
}

std::wstring CatalogTypeName(ColumnType type) {
    switch (type) {
    case ColumnType::Text:
        return L"text";
    case ColumnType::Integer:
        return L"integer";
    case ColumnType::BigInteger:
        return L"bigint";
    case ColumnType::Decimal:
        return L"numeric";
    case ColumnType::Timestamp:
        return L"timestamp with time zone";
    case ColumnType::LocalTimestamp:
        return L"timestamp without time zone";
    }
    return L"";
}

namespace {

// Names are quoted: "end" is a reserved word.
std::wstring Quoted(const wchar_t *name) {
    return L"\"" + std::wstring(name) + L"\"";
}

std::wstring DeclaredType(ColumnType type) {
    switch (type) {
    case ColumnType::Decimal:
        return L"numeric(12,3)";
    default:
        return CatalogTypeName(type);
    }
}

// How a bound parameter becomes the column's value: texts go in as they are,
// the two kinds the ODBC types do not carry exactly are cast on the server.
std::wstring Placeholder(ColumnType type) {
    switch (type) {
    case ColumnType::Decimal:
        return L"CAST(? AS numeric(12,3))";
    case ColumnType::Timestamp:
        return L"CAST(? AS timestamp with time zone)";
    case ColumnType::LocalTimestamp:
        return L"CAST(? AS timestamp without time zone)";
    default:
        return L"?";
    }
}

std::wstring ColumnDefinition(const JobColumn &column) {
    return Quoted(column.name) + L" " + DeclaredType(column.type) +
           (column.nullable ? L"" : L" NOT NULL");
}

bool IsPresent(const std::vector<bool> &present, size_t i) {
    return present.empty() || (i < present.size() && present[i]);
}

} // namespace

std::wstring CreateJobTableSql() {
    std::wstring sql = L"CREATE TABLE IF NOT EXISTS " + std::wstring(kJobTable) + L" (";
    bool first = true;
    for (const JobColumn &column : JobTableColumns()) {
        if (!first) sql += L", ";
        first = false;
        sql += ColumnDefinition(column);
        if (std::wstring(column.name) == L"job_id") sql += L" PRIMARY KEY";
    }
    return sql + L")";
}

std::vector<std::wstring> CreateJobIndexesSql() {
    const std::wstring table = kJobTable;
    std::vector<std::wstring> statements;
    for (const wchar_t *column : {L"start", L"device_serial"})
        statements.push_back(L"CREATE INDEX IF NOT EXISTS " + table + L"_" + column + L" ON " +
                             table + L" (" + Quoted(column) + L")");
    return statements;
}

std::wstring InsertJobSql(const std::vector<bool> &present) {
    std::wstring names, values;
    const auto &columns = JobTableColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
        if (!IsPresent(present, i)) continue;
        const JobColumn &column = columns[i];
        if (!names.empty()) {
            names += L", ";
            values += L", ";
        }
        names += Quoted(column.name);
        values += Placeholder(column.type);
    }
    return L"INSERT INTO " + std::wstring(kJobTable) + L" (" + names + L") VALUES (" + values +
           L")";
}

std::wstring TableColumnsSql() {
    return L"SELECT column_name, data_type FROM information_schema.columns"
           L" WHERE table_schema = current_schema() AND table_name = ?";
}

std::wstring WrongColumnTypes(const CatalogColumns &columns) {
    std::wstring problems;
    for (const JobColumn &expected : JobTableColumns()) {
        const std::wstring want = CatalogTypeName(expected.type);
        for (const auto &[name, type] : columns) {
            if (Lower(name) != expected.name || Lower(type) == want) continue;
            if (!problems.empty()) problems += L"; ";
            problems +=
                L"column " + std::wstring(expected.name) + L" is " + type + L", not " + want;
        }
    }
    return problems;
}

std::vector<bool> PresentColumns(const CatalogColumns &columns) {
    std::vector<bool> present;
    for (const JobColumn &expected : JobTableColumns()) {
        bool found = false;
        for (const auto &entry : columns)
            found = found || Lower(entry.first) == expected.name;
        present.push_back(found);
    }
    return present;
}

std::wstring MissingColumnNames(const std::vector<bool> &present) {
    std::wstring names;
    const auto &columns = JobTableColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
        if (IsPresent(present, i)) continue;
        if (!names.empty()) names += L", ";
        names += columns[i].name;
    }
    return names;
}

std::wstring AddColumnsSql(const std::vector<bool> &present) {
    std::wstring clauses;
    const auto &columns = JobTableColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
        if (IsPresent(present, i)) continue;
        JobColumn added = columns[i];
        added.nullable = true; // rows already there have no value for it
        if (!clauses.empty()) clauses += L",";
        clauses += L" ADD COLUMN IF NOT EXISTS " + ColumnDefinition(added);
    }
    return clauses.empty() ? L"" : L"ALTER TABLE " + std::wstring(kJobTable) + clauses;
}

std::wstring MissingColumnsMessage(const std::vector<bool> &present) {
    return L"the table " + std::wstring(kJobTable) + L" has no column " +
           MissingColumnNames(present) +
           L"; the rows go without them until the table's owner adds them: " +
           AddColumnsSql(present) + L";";
}

std::wstring CompareTableShape(const CatalogColumns &columns) {
    std::wstring problems;
    auto add = [&](const std::wstring &problem) {
        if (!problems.empty()) problems += L"; ";
        problems += problem;
    };
    for (const JobColumn &expected : JobTableColumns()) {
        const std::wstring want = CatalogTypeName(expected.type);
        bool found = false;
        for (const auto &[name, type] : columns) {
            if (Lower(name) != expected.name) continue;
            found = true;
            if (Lower(type) != want)
                add(L"column " + std::wstring(expected.name) + L" is " + type + L", not " + want);
        }
        if (!found) add(L"column " + std::wstring(expected.name) + L" (" + want + L") is missing");
    }
    return problems;
}

std::vector<JobRowValue> JobRowValues(const JobRecordFields &f, const std::wstring &station) {
    auto text = [](const std::wstring &value) { return JobRowValue{ColumnType::Text, value, 0}; };
    auto phase = [](int64_t ms) {
        if (ms < 0) return JobRowValue{ColumnType::Decimal, L"", 0, true};
        return JobRowValue{ColumnType::Decimal, DecimalSeconds(static_cast<uint64_t>(ms)), 0};
    };
    auto integer = [](int64_t value) { return JobRowValue{ColumnType::Integer, L"", value}; };
    return {text(f.jobId),
            text(station.empty() ? f.computer : station),
            {ColumnType::Timestamp, Widen(FormatUtcIso8601(f.startSeconds)), 0},
            {ColumnType::Timestamp, Widen(FormatUtcIso8601(f.endSeconds)), 0},
            {ColumnType::Decimal, DecimalSeconds(f.durationMs), 0},
            text(f.computer),
            text(f.programVersion),
            text(f.mode),
            integer(f.deviceKind),
            text(f.deviceName),
            text(f.deviceSerial),
            text(f.deviceSoftwareBefore),
            text(f.deviceLoaderBefore),
            text(f.imageFile),
            text(f.imageSoftware),
            text(f.imageLoader),
            {ColumnType::BigInteger, L"", static_cast<int64_t>(f.imageSize)},
            text(f.imageSha256),
            integer(f.resultCode),
            text(f.verdictKey),
            text(f.verdictText),
            text(f.deviceSoftwareAfter),
            text(f.verified),
            text(f.operatorName),
            phase(f.phases.switchMs),
            phase(f.phases.loaderMs),
            phase(f.phases.restartMs),
            phase(f.phases.downloadMs),
            {ColumnType::LocalTimestamp, f.startLocal, 0, f.startLocal.empty()}};
}

std::wstring DescribeDatabaseFailure(const std::wstring &what,
                                     const std::vector<DatabaseDiagnostic> &diagnostics,
                                     const std::wstring &connection) {
    std::wstring text = what;
    if (diagnostics.empty()) text += L" (the driver gave no reason)";
    for (size_t i = 0; i < diagnostics.size(); ++i) {
        const DatabaseDiagnostic &d = diagnostics[i];
        text += i == 0 ? L": " : L"; ";
        text += L"[" + d.sqlState + L"] " + Trim(d.message);
    }
    return MaskSecrets(text, connection);
}

namespace {

bool InSqlClass(const std::wstring &sqlState, const wchar_t *sqlClass) {
    const std::wstring wanted = sqlClass;
    return sqlState.compare(0, wanted.size(), wanted) == 0;
}

} // namespace

bool HasSqlClass(const std::vector<DatabaseDiagnostic> &diagnostics, const wchar_t *sqlClass) {
    for (const DatabaseDiagnostic &d : diagnostics)
        if (InSqlClass(d.sqlState, sqlClass)) return true;
    return false;
}

bool IsRefusedForGood(const std::vector<DatabaseDiagnostic> &diagnostics) {
    if (HasSqlClass(diagnostics, kSqlClassConnection)) return false;
    for (const DatabaseDiagnostic &d : diagnostics) {
        if (d.sqlState == kSqlStateUniqueViolation) continue;
        for (const wchar_t *sqlClass : {kSqlClassDataException, kSqlClassIntegrityConstraint,
                                        kSqlClassSyntaxOrAccessRule, kSqlClassCheckOption})
            if (InSqlClass(d.sqlState, sqlClass)) return true;
    }
    return false;
}

bool FailureOnce::Take(const std::wstring &kind) {
    if (kind == m_last) return false;
    m_last = kind;
    return true;
}

void FailureOnce::Clear() {
    m_last.clear();
}
