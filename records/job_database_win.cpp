#include "records/job_database_win.h"

#include <windows.h>

#include "records/odbc_api_win.h"

#include <vector>

namespace {

// Every call comes after Connect has loaded the API (a handle exists only
// then), so the load here never fails.
const OdbcApi &Odbc() {
    std::wstring ignored;
    return *LoadOdbcApi(ignored);
}

SQLWCHAR *Sql(const std::wstring &text) {
    return reinterpret_cast<SQLWCHAR *>(const_cast<wchar_t *>(text.c_str()));
}

bool Succeeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

std::vector<DatabaseDiagnostic> Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::vector<DatabaseDiagnostic> out;
    if (!handle) return out;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc =
            Odbc().GetDiagRecW(handleType, handle, record, state, &native, message,
                               static_cast<SQLSMALLINT>(std::size(message)), &length);
        if (!Succeeded(rc)) break;
        DatabaseDiagnostic d;
        d.sqlState = reinterpret_cast<const wchar_t *>(state);
        d.nativeError = native;
        d.message = reinterpret_cast<const wchar_t *>(message);
        out.push_back(d);
    }
    return out;
}

bool HasState(const std::vector<DatabaseDiagnostic> &diagnostics, const std::wstring &state) {
    for (const DatabaseDiagnostic &d : diagnostics)
        if (d.sqlState == state) return true;
    return false;
}

// The connection itself is gone (class 08: connection exception; 57P01 and
// friends: the server shut down): worth one new connection at once.
bool ConnectionLost(const std::vector<DatabaseDiagnostic> &diagnostics) {
    if (HasSqlClass(diagnostics, kSqlClassConnection)) return true;
    for (const DatabaseDiagnostic &d : diagnostics)
        if (d.sqlState.compare(0, 3, L"57P") == 0) return true;
    return false;
}

std::wstring FirstState(const std::vector<DatabaseDiagnostic> &diagnostics) {
    return diagnostics.empty() ? L"" : diagnostics.front().sqlState;
}

} // namespace

struct DatabaseRecordDestination::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT insert = SQL_NULL_HSTMT;
    bool connected = false;
    bool tableReady = false;
    // The columns of JobTableColumns() the table has: the insert names these.
    std::vector<bool> present;
};

DatabaseRecordDestination::DatabaseRecordDestination(std::wstring connection, std::wstring station)
    : m_connection(std::move(connection)), m_station(std::move(station)),
      m_handles(std::make_unique<Handles>()) {}

DatabaseRecordDestination::~DatabaseRecordDestination() {
    std::lock_guard<std::mutex> lock(m_guard);
    Disconnect();
}

std::wstring DatabaseRecordDestination::Name() const {
    return L"database";
}

void DatabaseRecordDestination::Disconnect() {
    Handles &h = *m_handles;
    if (h.insert) Odbc().FreeHandle(SQL_HANDLE_STMT, h.insert);
    if (h.connected) Odbc().Disconnect(h.dbc);
    if (h.dbc) Odbc().FreeHandle(SQL_HANDLE_DBC, h.dbc);
    if (h.env) Odbc().FreeHandle(SQL_HANDLE_ENV, h.env);
    h = Handles();
}

DeliveryOutcome DatabaseRecordDestination::Fail(const std::wstring &kind,
                                                const std::wstring &message, std::wstring &error) {
    // The outbox names the destination before the reason: the reason alone.
    error = message;
    Disconnect();
    if (m_reported.Take(kind) && onError) onError(error);
    return DeliveryOutcome::Failed;
}

DeliveryOutcome DatabaseRecordDestination::Refuse(const std::wstring &kind,
                                                  const std::wstring &message,
                                                  std::wstring &error) {
    // The connection is sound: the rows behind this one go on it.
    error = message;
    if (m_reported.Take(kind) && onError) onError(error);
    return DeliveryOutcome::Refused;
}

bool DatabaseRecordDestination::Connect(std::wstring &kind, std::wstring &error) {
    Handles &h = *m_handles;
    if (h.connected) return true;
    Disconnect();
    kind = L"connect";
    std::wstring notLoaded;
    if (LoadOdbcApi(notLoaded) == nullptr) {
        error = DescribeDatabaseFailure(
            L"the system's ODBC driver manager is not usable: " + notLoaded, {}, m_connection);
        return false;
    }
    if (!Succeeded(Odbc().AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.env)) ||
        !Succeeded(Odbc().SetEnvAttr(h.env, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
        !Succeeded(Odbc().AllocHandle(SQL_HANDLE_DBC, h.env, &h.dbc))) {
        error = DescribeDatabaseFailure(L"the system's ODBC driver manager is not usable",
                                        Diagnostics(SQL_HANDLE_ENV, h.env), m_connection);
        return false;
    }
    Odbc().SetConnectAttrW(h.dbc, SQL_ATTR_LOGIN_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(uintptr_t{kDatabaseLoginTimeoutSeconds}),
                           0);
    Odbc().SetConnectAttrW(
        h.dbc, SQL_ATTR_CONNECTION_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(uintptr_t{kDatabaseConnectionTimeoutSeconds}), 0);
    SQLWCHAR completed[1024] = {};
    SQLSMALLINT completedLength = 0;
    const SQLRETURN rc = Odbc().DriverConnectW(
        h.dbc, nullptr, Sql(m_connection), SQL_NTS, completed,
        static_cast<SQLSMALLINT>(std::size(completed)), &completedLength, SQL_DRIVER_NOPROMPT);
    // The completed string holds the password: wiped, never kept.
    SecureZeroMemory(completed, sizeof completed);
    if (!Succeeded(rc)) {
        const std::vector<DatabaseDiagnostic> diagnostics = Diagnostics(SQL_HANDLE_DBC, h.dbc);
        error = DescribeDatabaseFailure(L"cannot connect", diagnostics, m_connection);
        // A server that is down and a password that is refused share their
        // SQLSTATE; the driver's words tell the two apart.
        kind += L" " + error;
        return false;
    }
    h.connected = true;
    return true;
}

bool DatabaseRecordDestination::PrepareTable(std::wstring &kind, std::wstring &error) {
    Handles &h = *m_handles;
    if (h.tableReady) return true;

    // The table's columns as the catalogue lists them; none: no table.
    auto readColumns = [&](std::vector<std::pair<std::wstring, std::wstring>> &columns,
                           std::vector<DatabaseDiagnostic> &diagnostics) {
        columns.clear();
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (!Succeeded(Odbc().AllocHandle(SQL_HANDLE_STMT, h.dbc, &stmt))) {
            diagnostics = Diagnostics(SQL_HANDLE_DBC, h.dbc);
            return false;
        }
        Odbc().SetStmtAttrW(stmt, SQL_ATTR_QUERY_TIMEOUT,
                            reinterpret_cast<SQLPOINTER>(uintptr_t{kDatabaseQueryTimeoutSeconds}),
                            0);
        const std::wstring table = kJobTable;
        SQLLEN tableLength = static_cast<SQLLEN>(table.size() * sizeof(wchar_t));
        bool ok = Succeeded(Odbc().BindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                                 SQL_WVARCHAR, table.size(), 0, Sql(table),
                                                 tableLength, &tableLength)) &&
                  Succeeded(Odbc().ExecDirectW(stmt, Sql(TableColumnsSql()), SQL_NTS));
        while (ok) {
            const SQLRETURN rc = Odbc().Fetch(stmt);
            if (rc == SQL_NO_DATA) break;
            if (!Succeeded(rc)) {
                ok = false;
                break;
            }
            SQLWCHAR name[256] = {}, type[256] = {};
            SQLLEN nameLength = 0, typeLength = 0;
            Odbc().GetData(stmt, 1, SQL_C_WCHAR, name, sizeof name, &nameLength);
            Odbc().GetData(stmt, 2, SQL_C_WCHAR, type, sizeof type, &typeLength);
            columns.emplace_back(reinterpret_cast<const wchar_t *>(name),
                                 reinterpret_cast<const wchar_t *>(type));
        }
        if (!ok) diagnostics = Diagnostics(SQL_HANDLE_STMT, stmt);
        Odbc().FreeHandle(SQL_HANDLE_STMT, stmt);
        return ok;
    };

    // A statement whose failure says nothing the catalogue read after it
    // does not: its diagnostics are kept for when the catalogue disagrees.
    auto run = [&](const std::wstring &sql, std::vector<DatabaseDiagnostic> &failed) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (!Succeeded(Odbc().AllocHandle(SQL_HANDLE_STMT, h.dbc, &stmt))) return;
        Odbc().SetStmtAttrW(stmt, SQL_ATTR_QUERY_TIMEOUT,
                            reinterpret_cast<SQLPOINTER>(uintptr_t{kDatabaseQueryTimeoutSeconds}),
                            0);
        if (!Succeeded(Odbc().ExecDirectW(stmt, Sql(sql), SQL_NTS)))
            failed = Diagnostics(SQL_HANDLE_STMT, stmt);
        Odbc().FreeHandle(SQL_HANDLE_STMT, stmt);
    };

    const std::wstring table = kJobTable;
    CatalogColumns columns;
    std::vector<DatabaseDiagnostic> diagnostics;
    kind = L"table";
    if (!readColumns(columns, diagnostics)) {
        error = DescribeDatabaseFailure(L"cannot read the columns of the table " + table,
                                        diagnostics, m_connection);
        return false;
    }
    if (columns.empty()) {
        std::vector<DatabaseDiagnostic> createDiagnostics;
        run(CreateJobTableSql(), createDiagnostics);
        // Another station may have made it at the same moment (the server
        // then refuses this one's CREATE): what counts is the table now.
        if (!readColumns(columns, diagnostics) || columns.empty()) {
            error = DescribeDatabaseFailure(
                L"cannot create the table " + table,
                createDiagnostics.empty() ? diagnostics : createDiagnostics, m_connection);
            return false;
        }
        // An index the server refuses slows the queries, never the rows.
        std::vector<DatabaseDiagnostic> ignored;
        for (const std::wstring &index : CreateJobIndexesSql())
            run(index, ignored);
    }
    // A column of another type would take values it cannot hold, or change
    // them: the table is left to its owner and the rows wait.
    if (!WrongColumnTypes(columns).empty()) {
        kind = L"shape";
        error = L"the table " + table +
                L" has another shape and is left as it is; the records wait: " +
                CompareTableShape(columns);
        return false;
    }
    h.present = PresentColumns(columns);
    if (!MissingColumnNames(h.present).empty()) {
        // A table of an earlier version grows when this role may alter it;
        // when it may not, the rows go with the columns it has.
        std::vector<DatabaseDiagnostic> ignored;
        run(AddColumnsSql(h.present), ignored);
        if (!readColumns(columns, diagnostics)) {
            error = DescribeDatabaseFailure(L"cannot read the columns of the table " + table,
                                            diagnostics, m_connection);
            return false;
        }
        h.present = PresentColumns(columns);
        const std::wstring missing = MissingColumnNames(h.present);
        if (!missing.empty() && missing != m_missingReported) {
            m_missingReported = missing;
            m_notice = MissingColumnsMessage(h.present);
        }
    }

    if (!Succeeded(Odbc().AllocHandle(SQL_HANDLE_STMT, h.dbc, &h.insert)) ||
        !Succeeded(Odbc().SetStmtAttrW(
            h.insert, SQL_ATTR_QUERY_TIMEOUT,
            reinterpret_cast<SQLPOINTER>(uintptr_t{kDatabaseQueryTimeoutSeconds}), 0)) ||
        !Succeeded(Odbc().PrepareW(h.insert, Sql(InsertJobSql(h.present)), SQL_NTS))) {
        error = DescribeDatabaseFailure(L"cannot prepare the row's insertion",
                                        h.insert ? Diagnostics(SQL_HANDLE_STMT, h.insert)
                                                 : Diagnostics(SQL_HANDLE_DBC, h.dbc),
                                        m_connection);
        return false;
    }
    h.tableReady = true;
    return true;
}

DeliveryOutcome DatabaseRecordDestination::Deliver(const JobRecordFields &fields,
                                                   std::wstring &error) {
    std::lock_guard<std::mutex> lock(m_guard);
    error.clear();
    if (fields.jobId.empty())
        return Fail(L"record", L"a record without a job id cannot be written", error);

    const std::vector<JobRowValue> values = JobRowValues(fields, m_station);
    // A connection kept from an earlier row may have been cut since (the
    // server restarted): that earns one new connection at once.
    for (int attempt = 0;; ++attempt) {
        const bool reused = m_handles->connected;
        std::wstring kind, message;
        if (!Connect(kind, message) || !PrepareTable(kind, message))
            return Fail(kind, message, error);

        Handles &h = *m_handles;
        Odbc().FreeStmt(h.insert, SQL_RESET_PARAMS);
        std::vector<SQLLEN> lengths(values.size());
        std::vector<int32_t> integers(values.size());
        std::vector<int64_t> bigIntegers(values.size());
        bool bound = true;
        SQLUSMALLINT number = 0;
        for (size_t i = 0; i < values.size() && bound; ++i) {
            if (i < h.present.size() && !h.present[i]) continue;
            const JobRowValue &v = values[i];
            ++number;
            SQLRETURN rc = SQL_ERROR;
            if (v.null) {
                // The column's own type on the server; the text only names none.
                lengths[i] = SQL_NULL_DATA;
                rc = Odbc().BindParameter(h.insert, number, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                          SQL_WVARCHAR, 1, 0, nullptr, 0, &lengths[i]);
                bound = Succeeded(rc);
                continue;
            }
            switch (v.type) {
            case ColumnType::Integer:
                integers[i] = static_cast<int32_t>(v.number);
                lengths[i] = 0;
                rc = Odbc().BindParameter(h.insert, number, SQL_PARAM_INPUT, SQL_C_SLONG,
                                          SQL_INTEGER, 0, 0, &integers[i], 0, &lengths[i]);
                break;
            case ColumnType::BigInteger:
                bigIntegers[i] = v.number;
                lengths[i] = 0;
                rc = Odbc().BindParameter(h.insert, number, SQL_PARAM_INPUT, SQL_C_SBIGINT,
                                          SQL_BIGINT, 0, 0, &bigIntegers[i], 0, &lengths[i]);
                break;
            default:
                lengths[i] = static_cast<SQLLEN>(v.text.size() * sizeof(wchar_t));
                rc = Odbc().BindParameter(h.insert, number, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                          SQL_WVARCHAR, v.text.empty() ? 1 : v.text.size(), 0,
                                          Sql(v.text), lengths[i], &lengths[i]);
                break;
            }
            bound = Succeeded(rc);
        }
        const SQLRETURN rc = bound ? Odbc().Execute(h.insert) : SQL_ERROR;
        if (Succeeded(rc)) {
            m_reported.Clear();
            error.swap(m_notice);
            m_notice.clear();
            return DeliveryOutcome::Delivered;
        }
        const std::vector<DatabaseDiagnostic> diagnostics = Diagnostics(SQL_HANDLE_STMT, h.insert);
        if (HasState(diagnostics, kSqlStateUniqueViolation)) {
            // Written before, by an attempt whose outcome was not known.
            m_reported.Clear();
            error.swap(m_notice);
            m_notice.clear();
            return DeliveryOutcome::AlreadyDelivered;
        }
        if (reused && attempt == 0 && ConnectionLost(diagnostics)) {
            Disconnect();
            continue;
        }
        // Only the insert's own rejection refuses a row: whatever fails
        // before it (the connection, reading, making or preparing the table)
        // is the server's or the table's state, and the rows wait for it to
        // change. A syntax or access rule at the insert is about the table,
        // never the row's values (they are bound parameters), and applies to
        // every row; it is still a refusal, but believed only from a
        // connection that has just checked the table: one dropped or
        // altered since this connection checked it is made again, or found
        // of another shape, and then the rows wait.
        if (reused && attempt == 0 && HasSqlClass(diagnostics, kSqlClassSyntaxOrAccessRule)) {
            Disconnect();
            continue;
        }
        if (IsRefusedForGood(diagnostics))
            return Refuse(L"insert " + FirstState(diagnostics),
                          DescribeDatabaseFailure(L"the row of job " + fields.jobId +
                                                      L" was refused for good",
                                                  diagnostics, m_connection),
                          error);
        return Fail(L"insert " + FirstState(diagnostics),
                    DescribeDatabaseFailure(L"the row of job " + fields.jobId + L" was refused",
                                            diagnostics, m_connection),
                    error);
    }
}

bool DatabaseRecordDestination::Probe(std::wstring &error) {
    std::lock_guard<std::mutex> lock(m_guard);
    std::wstring kind;
    if (Connect(kind, error) && PrepareTable(kind, error)) {
        error.swap(m_notice);
        m_notice.clear();
        return true;
    }
    Disconnect();
    return false;
}

std::unique_ptr<DatabaseRecordDestination> MakeDatabaseDestination(const std::wstring &connection,
                                                                   const std::wstring &station) {
    if (connection.empty()) return nullptr;
    return std::make_unique<DatabaseRecordDestination>(connection, station);
}
