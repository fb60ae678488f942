// The fleet database: every station's job records in one table of a shared
// database server, reached through the system's ODBC driver manager. This is
// the portable half: the connection string, the table's shape and the SQL
// texts (which never carry a value: every value is a bound parameter), the
// values of one row, and the wording of failures. The ODBC calls are in
// job_database_win.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/ini_file.h"
#include "records/job_record.h"

// The table every station writes to.
inline constexpr wchar_t kJobTable[] = L"qv_jobs";

// The database's own outbox, relative to the program folder: a queue per
// destination, so the record file and the server wait independently.
inline constexpr const wchar_t *kDatabaseOutboxFile = L"Log\\database.outbox";

// Bounds of the waits on the server, so that a server that does not answer
// holds the delivery thread (never a verdict) for seconds, not minutes.
inline constexpr uint32_t kDatabaseLoginTimeoutSeconds = 5;
inline constexpr uint32_t kDatabaseConnectionTimeoutSeconds = 5;
inline constexpr uint32_t kDatabaseQueryTimeoutSeconds = 15;

// SQLSTATE of a row whose primary key is already in the table.
inline constexpr wchar_t kSqlStateUniqueViolation[] = L"23505";

// SQLSTATE classes (a state's first two characters) of an insert that the
// server refuses by its rules: the same row meets the same rules at every
// later try.
inline constexpr wchar_t kSqlClassDataException[] = L"22";
inline constexpr wchar_t kSqlClassIntegrityConstraint[] = L"23";
inline constexpr wchar_t kSqlClassSyntaxOrAccessRule[] = L"42";
inline constexpr wchar_t kSqlClassCheckOption[] = L"44";
// The connection broke: whatever else is said, the row may go at a next try.
inline constexpr wchar_t kSqlClassConnection[] = L"08";

// [SYSTEM] JOB_DATABASE: an ODBC connection string; empty (or missing): no
// database. Read whole (a connection string may be long), surrounding blanks
// dropped.
std::wstring ReadJobDatabaseConnection(CIniFile &ini);

// [SYSTEM] STATION_NAME, the station column of the database's rows; the
// computer's name when missing or blank.
std::wstring ReadStationName(CIniFile &ini, const std::wstring &computer);

// The key=value pairs of an ODBC connection string, in order; a value in
// braces keeps its semicolons ("Pwd={a;b}"), "}}" inside braces is one "}".
std::vector<std::pair<std::wstring, std::wstring>>
ParseConnectionString(const std::wstring &connection);

// The text with every secret of the connection string replaced by "***":
// the values of PWD= and Password= wherever they appear as key=value, and the
// connection's own password values wherever they appear at all (a driver may
// quote them back in a message).
std::wstring MaskSecrets(const std::wstring &text, const std::wstring &connection);

// The table's columns: job_id (the primary key), station, then the record's
// columns under their names. The columns that came after the first table are
// nullable: they are added to tables that hold rows already, and a phase the
// job did not reach has no time.
enum class ColumnType { Text, Integer, BigInteger, Decimal, Timestamp, LocalTimestamp };
struct JobColumn {
    const wchar_t *name;
    ColumnType type;
    bool nullable = false;
};
const std::vector<JobColumn> &JobTableColumns();

// The type's name as the server's catalogue (information_schema) reports it.
std::wstring CatalogTypeName(ColumnType type);

// The SQL texts; names only, no value.
std::wstring CreateJobTableSql();
// The indexes the station makes with its table: the queries by day and by
// device look rows up by "start" and device_serial.
std::vector<std::wstring> CreateJobIndexesSql();
// One "?" per column present (all when none is given), in JobTableColumns()
// order.
std::wstring InsertJobSql(const std::vector<bool> &present = {});
std::wstring TableColumnsSql(); // one "?": the table's name; rows: name, type

using CatalogColumns = std::vector<std::pair<std::wstring, std::wstring>>;

// What is wrong with the table's shape as the catalogue lists it (column
// name and type, in any order): empty when it fits. Extra columns are
// allowed; a missing column or one of another type is named.
std::wstring CompareTableShape(const CatalogColumns &columns);
// The columns the table has of another type than ours, named; empty when
// none. Such a table is left as it is and its rows wait.
std::wstring WrongColumnTypes(const CatalogColumns &columns);
// For each of JobTableColumns(): whether the table has it.
std::vector<bool> PresentColumns(const CatalogColumns &columns);
// The names of the columns not present, "operator, start_local".
std::wstring MissingColumnNames(const std::vector<bool> &present);
// The statement that adds the columns not present, each nullable, so that it
// runs on a table that holds rows and twice without harm.
std::wstring AddColumnsSql(const std::vector<bool> &present);
// What a station says, once, when it may not add them itself.
std::wstring MissingColumnsMessage(const std::vector<bool> &present);

// One row's values, each as the bound parameter carries it: numbers as
// numbers, times as ISO 8601 texts in UTC, the duration as a decimal text.
struct JobRowValue {
    ColumnType type;
    std::wstring text;  // Text, Decimal, Timestamp, LocalTimestamp
    int64_t number = 0; // Integer, BigInteger
    bool null = false;  // no value: a phase not reached, a start time not known
};
std::vector<JobRowValue> JobRowValues(const JobRecordFields &fields, const std::wstring &station);

// One diagnostic record of the driver.
struct DatabaseDiagnostic {
    std::wstring sqlState;
    int32_t nativeError = 0;
    std::wstring message;
};

// Some diagnostic is of this SQLSTATE class.
bool HasSqlClass(const std::vector<DatabaseDiagnostic> &diagnostics, const wchar_t *sqlClass);

// A failed insert's diagnostics say the server will never take the row: a
// data exception, a broken integrity constraint (a duplicate key aside: the
// row is there already), a syntax or access rule, a view's check option. A
// broken connection said alongside leaves the row to a later try.
bool IsRefusedForGood(const std::vector<DatabaseDiagnostic> &diagnostics);

// "cannot connect: [08001] could not connect to server ..." with every
// diagnostic, the driver manager's prefixes ("[unixODBC][Driver]...") kept as
// the driver wrote them, and every secret masked.
std::wstring DescribeDatabaseFailure(const std::wstring &what,
                                     const std::vector<DatabaseDiagnostic> &diagnostics,
                                     const std::wstring &connection);

// Reports a failure once per kind: the same kind again stays quiet until a
// record has been delivered (Clear) or another kind came in between.
class FailureOnce {
  public:
    // True when this failure is to be reported.
    bool Take(const std::wstring &kind);
    void Clear();

  private:
    std::wstring m_last;
};
