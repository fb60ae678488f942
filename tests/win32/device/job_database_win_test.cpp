// The fleet database against a real PostgreSQL server through Windows' own
// ODBC: what lands in the table, what is reported, and what is never lost or
// written twice. ctest starts a throwaway server for this program
// (scripts/lib/test_db.sh) and names its folder in QV_TEST_DB_STATE.
#include <winsock2.h>

#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "records/job_database_win.h"

namespace {

std::wstring Widen(const std::string &text) {
    if (text.empty()) return L"";
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring &text) {
    if (text.empty()) return "";
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length,
                        nullptr, nullptr);
    return narrow;
}

std::string Env(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

// The server's folder as Linux names it, and as this program opens it.
std::string StateFolder() {
    return Env("QV_TEST_DB_STATE");
}

std::wstring StateFile(const std::string &leaf) {
    return L"Z:" + Widen(StateFolder() + "/" + leaf);
}

std::wstring ReadText(const std::wstring &path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return Widen(text.str());
}

// The administrator's connection string (a superuser of the throwaway
// server), with another role and password put in when asked.
std::wstring AdminConnection() {
    return ReadText(StateFile("connection.txt"));
}

std::wstring ConnectionAs(const std::wstring &user, const std::wstring &password) {
    std::wstring connection = AdminConnection();
    connection = connection.substr(0, connection.find(L"Uid="));
    return connection + L"Uid=" + user + L";Pwd=" + password + L";";
}

// Stops or starts the server through the Linux script, which Wine runs as a
// Linux process without a handle: its ACTION.done file says it has finished.
bool Server(const std::string &action) {
    const std::wstring done = StateFile(action + ".done");
    DeleteFileW(done.c_str());
    std::wstring command = L"Z:\\bin\\bash " + Widen(Env("QV_TEST_DB_SCRIPT")) + L" " +
                           Widen(action) + L" " + Widen(StateFolder());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    for (int waited = 0; waited < 600; ++waited) {
        if (GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(100);
    }
    return false;
}

// A second connection of our own that looks into the table.
class Admin {
  public:
    // Another role's connection when given: what that login may do.
    explicit Admin(std::wstring connection = AdminConnection()) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        const SQLRETURN rc =
            SQLDriverConnectW(m_dbc, nullptr, reinterpret_cast<SQLWCHAR *>(&connection[0]), SQL_NTS,
                              nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        m_connected = rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
    }
    ~Admin() {
        if (m_connected) SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }
    bool Connected() const { return m_connected; }

    bool Exec(const std::wstring &sql) {
        std::vector<std::vector<std::wstring>> rows;
        return Query(sql, rows);
    }

    // Every row as texts; NULL reads as "<null>".
    std::vector<std::vector<std::wstring>> Rows(const std::wstring &sql) {
        std::vector<std::vector<std::wstring>> rows;
        EXPECT_TRUE(Query(sql, rows)) << Narrow(sql);
        return rows;
    }

    // Statements then wait in one transaction until Commit.
    void BeginTransaction() {
        SQLSetConnectAttrW(m_dbc, SQL_ATTR_AUTOCOMMIT,
                           reinterpret_cast<SQLPOINTER>(uintptr_t{SQL_AUTOCOMMIT_OFF}), 0);
    }
    bool Commit() {
        const bool ok = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, m_dbc, SQL_COMMIT));
        SQLSetConnectAttrW(m_dbc, SQL_ATTR_AUTOCOMMIT,
                           reinterpret_cast<SQLPOINTER>(uintptr_t{SQL_AUTOCOMMIT_ON}), 0);
        return ok;
    }

    std::wstring Value(const std::wstring &sql) {
        const auto rows = Rows(sql);
        return rows.empty() || rows[0].empty() ? L"<none>" : rows[0][0];
    }

  private:
    bool Query(const std::wstring &sql, std::vector<std::vector<std::wstring>> &rows) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt);
        std::wstring text = sql;
        SQLRETURN rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR *>(&text[0]), SQL_NTS);
        const bool ok = rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA;
        SQLSMALLINT columns = 0;
        if (ok) SQLNumResultCols(stmt, &columns);
        while (ok && columns > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) {
            std::vector<std::wstring> row;
            for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                std::wstring value;
                SQLWCHAR part[512];
                SQLLEN length = 0;
                for (;;) {
                    rc = SQLGetData(stmt, c, SQL_C_WCHAR, part, sizeof part, &length);
                    if (!SQL_SUCCEEDED(rc)) break;
                    if (length == SQL_NULL_DATA) {
                        value = L"<null>";
                        break;
                    }
                    value += reinterpret_cast<const wchar_t *>(part);
                    if (rc == SQL_SUCCESS) break;
                }
                row.push_back(value);
            }
            rows.push_back(row);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return ok;
    }

    SQLHENV m_env = SQL_NULL_HENV;
    SQLHDBC m_dbc = SQL_NULL_HDBC;
    bool m_connected = false;
};

JobRecordFields Record(const std::wstring &jobId) {
    JobRecordFields f;
    f.jobId = jobId;
    f.startSeconds = 1796732819; // 2026-12-08T12:26:59Z
    f.endSeconds = 1796732822;
    f.durationMs = 3179;
    f.computer = L"BENCH-PC";
    f.programVersion = L"1.2.0.3";
    f.mode = L"upgrade";
    f.deviceKind = 4;
    f.deviceName = L"QV70 Storage Device";
    f.deviceSerial = L"A0001";
    f.deviceSoftwareBefore = L"1.0.0";
    f.deviceLoaderBefore = L"1.41";
    f.imageFile = L"C:\\images\\QV70-sample.img";
    f.imageSoftware = L"1.2.3";
    f.imageLoader = L"2.05";
    f.imageSize = 3000000000u;
    f.imageSha256 = std::wstring(64, L'e');
    f.resultCode = -9;
    f.verdictKey = L"IDS_118";
    f.verdictText = L"The firmware image was not written to the device.";
    f.deviceSoftwareAfter = L"1.2.3";
    f.operatorName = L"Li Wei";
    f.phases.loaderMs = 2345;
    f.phases.restartMs = 1002;
    f.phases.downloadMs = 52903;
    f.startLocal = L"2026-12-08 20:26:59";
    return f;
}

// The table as the program made it before the operator, the phase times and
// the local start time.
constexpr wchar_t kEarlierTableSql[] =
    L"CREATE TABLE qv_jobs (\"job_id\" text NOT NULL PRIMARY KEY, \"station\" text NOT NULL,"
    L" \"start\" timestamp with time zone NOT NULL, \"end\" timestamp with time zone NOT NULL,"
    L" \"duration_s\" numeric(12,3) NOT NULL, \"computer\" text NOT NULL,"
    L" \"program_version\" text NOT NULL, \"mode\" text NOT NULL,"
    L" \"device_kind\" integer NOT NULL, \"device_name\" text NOT NULL,"
    L" \"device_serial\" text NOT NULL, \"device_software_before\" text NOT NULL,"
    L" \"device_loader_before\" text NOT NULL, \"image_file\" text NOT NULL,"
    L" \"image_software\" text NOT NULL, \"image_loader\" text NOT NULL,"
    L" \"image_size\" bigint NOT NULL, \"image_sha256\" text NOT NULL,"
    L" \"result_code\" integer NOT NULL, \"verdict_key\" text NOT NULL,"
    L" \"verdict_text\" text NOT NULL, \"device_software_after\" text NOT NULL)";
constexpr size_t kEarlierColumns = 22;
constexpr wchar_t kAddedColumns[] =
    L"operator, time_switch_s, time_loader_s, time_restart_s, time_download_s, start_local";

std::wstring JobId(int n) {
    wchar_t text[40];
    swprintf(text, 40, L"%032x", n);
    return text;
}

// The stations' role of these tests (a wrong password, a login that may only
// insert).
constexpr wchar_t kStationRole[] = L"qv_station_test";

class FleetDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(StateFolder().empty())
            << "run through ctest, which starts the test server (QV_TEST_DB_STATE)";
        ASSERT_TRUE(admin.Connected()) << "the test server does not answer";
        ASSERT_TRUE(admin.Exec(L"DROP TABLE IF EXISTS qv_jobs"));
        admin.Exec(L"DROP OWNED BY " + std::wstring(kStationRole));
        admin.Exec(L"DROP ROLE IF EXISTS " + std::wstring(kStationRole));
    }

    // The stations' login of the fleet guide: it may insert into the table
    // there is, nothing else. Its connection string.
    std::wstring InsertOnlyLogin() {
        const std::wstring role = kStationRole;
        EXPECT_TRUE(admin.Exec(L"CREATE ROLE " + role + L" LOGIN PASSWORD 'insert-only'"));
        EXPECT_TRUE(admin.Exec(L"GRANT USAGE ON SCHEMA public TO " + role));
        EXPECT_TRUE(admin.Exec(L"GRANT INSERT ON qv_jobs TO " + role));
        return ConnectionAs(role, L"insert-only");
    }

    long long Count(const std::wstring &where = L"true") {
        return _wtoi64(admin.Value(L"SELECT count(*) FROM qv_jobs WHERE " + where).c_str());
    }

    Admin admin;
};

TEST_F(FleetDatabase, OneRecordBecomesOneRowWithItsFieldsInAMissingTableMadeForIt) {
    ASSERT_EQ(admin.Value(L"SELECT to_regclass('qv_jobs') IS NULL"), L"1");
    DatabaseRecordDestination destination(AdminConnection(), L"LINE-1");
    std::wstring error;
    EXPECT_EQ(destination.Deliver(Record(JobId(1)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    EXPECT_EQ(error, L"");
    EXPECT_EQ(destination.Name(), L"database");

    // Numbers as numbers, times with their zone, the job id as the key.
    const auto types =
        admin.Rows(L"SELECT column_name, data_type FROM information_schema.columns"
                   L" WHERE table_name = 'qv_jobs' AND column_name IN"
                   L" ('start', 'end', 'duration_s', 'device_kind', 'image_size', 'result_code')"
                   L" ORDER BY column_name");
    const std::map<std::wstring, std::wstring> expected = {
        {L"device_kind", L"integer"},          {L"duration_s", L"numeric"},
        {L"end", L"timestamp with time zone"}, {L"image_size", L"bigint"},
        {L"result_code", L"integer"},          {L"start", L"timestamp with time zone"}};
    ASSERT_EQ(types.size(), expected.size());
    for (const auto &row : types)
        EXPECT_EQ(row[1], expected.at(row[0])) << Narrow(row[0]);
    EXPECT_EQ(admin.Value(L"SELECT a.attname FROM pg_index i JOIN pg_attribute a ON"
                          L" a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey)"
                          L" WHERE i.indrelid = 'qv_jobs'::regclass AND i.indisprimary"),
              L"job_id");

    const auto rows = admin.Rows(
        L"SELECT job_id, station, to_char(\"start\" AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS'),"
        L" extract(epoch from \"end\")::bigint, duration_s + 0.001, computer, program_version,"
        L" mode, device_kind + 1, device_name, device_serial, device_software_before,"
        L" device_loader_before, image_file, image_software, image_loader, image_size + 1,"
        L" image_sha256, result_code - 1, verdict_key, verdict_text, device_software_after"
        L" FROM qv_jobs");
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<std::wstring> want = {JobId(1),
                                            L"LINE-1",
                                            L"2026-12-08 12:26:59",
                                            L"1796732822",
                                            L"3.180",
                                            L"BENCH-PC",
                                            L"1.2.0.3",
                                            L"upgrade",
                                            L"5",
                                            L"QV70 Storage Device",
                                            L"A0001",
                                            L"1.0.0",
                                            L"1.41",
                                            L"C:\\images\\QV70-sample.img",
                                            L"1.2.3",
                                            L"2.05",
                                            L"3000000001",
                                            std::wstring(64, L'e'),
                                            L"-10",
                                            L"IDS_118",
                                            L"The firmware image was not written to the device.",
                                            L"1.2.3"};
    EXPECT_EQ(rows[0], want);

    EXPECT_EQ(admin.Value(L"SELECT operator || '|' || coalesce(time_switch_s::text, 'none') || '|'"
                          L" || time_loader_s || '|' || time_download_s || '|' || start_local"
                          L" FROM qv_jobs"),
              L"Li Wei|none|2.345|52.903|2026-12-08 20:26:59");
    EXPECT_EQ(admin.Value(L"SELECT string_agg(indexdef, ' / ' ORDER BY indexname) FROM pg_indexes"
                          L" WHERE tablename = 'qv_jobs' AND indexname <> 'qv_jobs_pkey'"),
              L"CREATE INDEX qv_jobs_device_serial ON public.qv_jobs USING btree (device_serial)"
              L" / CREATE INDEX qv_jobs_start ON public.qv_jobs USING btree (start)");
}

TEST_F(FleetDatabase, HostileTextsAreStoredAsTheyAre) {
    DatabaseRecordDestination destination(AdminConnection(), L"LINE-1");
    const std::vector<std::wstring> texts = {
        L"it's \"quoted\"; isn't it",
        L"'); DROP TABLE qv_jobs; --",
        L"x' OR '1'='1",
        L"line one\r\nline two\nline three",
        L"\x56fa\x4ef6\x5347\x7ea7\x5931\x8d25\xff01", // CJK
        L"back\\slash $1 ? :name %s \t tab",
        L"\xD83D\xDE00 beyond the basic plane", // a surrogate pair
        L"",
    };
    for (size_t i = 0; i < texts.size(); ++i) {
        JobRecordFields f = Record(JobId(100 + static_cast<int>(i)));
        f.verdictText = texts[i];
        f.deviceSerial = texts[i];
        f.imageFile = L"C:\\images\\" + texts[i];
        std::wstring error;
        EXPECT_EQ(destination.Deliver(f, error), DeliveryOutcome::Delivered) << Narrow(error);
    }
    const auto rows =
        admin.Rows(L"SELECT verdict_text, device_serial, image_file FROM qv_jobs ORDER BY job_id");
    ASSERT_EQ(rows.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(rows[i][0], texts[i]) << i;
        EXPECT_EQ(rows[i][1], texts[i]) << i;
        EXPECT_EQ(rows[i][2], L"C:\\images\\" + texts[i]) << i;
    }
}

TEST_F(FleetDatabase, AWrongPasswordIsReportedWithoutItAndTheRowGoesOnceItIsMended) {
    const std::wstring role = kStationRole;
    ASSERT_TRUE(admin.Exec(L"CREATE ROLE " + role + L" LOGIN PASSWORD 'the-old-one'"));
    ASSERT_TRUE(admin.Exec(L"GRANT USAGE, CREATE ON SCHEMA public TO " + role));

    const std::wstring password = L"Wr0ng-But-New";
    DatabaseRecordDestination destination(ConnectionAs(role, password), L"LINE-2");
    std::vector<std::wstring> reported;
    destination.onError = [&](const std::wstring &message) { reported.push_back(message); };
    std::wstring error;
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(destination.Deliver(Record(JobId(7)), error), DeliveryOutcome::Failed);
        EXPECT_EQ(error.find(password), std::wstring::npos) << Narrow(error);
    }
    // PostgreSQL's driver reports the refused login as a failed connection.
    EXPECT_NE(error.find(L"cannot connect: [08001]"), std::wstring::npos) << Narrow(error);
    EXPECT_NE(error.find(L"password authentication failed"), std::wstring::npos) << Narrow(error);
    ASSERT_EQ(reported.size(), 1u) << "once per kind of failure";
    EXPECT_EQ(reported[0], error);

    // The administrator mends the role; the same destination goes on.
    ASSERT_TRUE(admin.Exec(L"ALTER ROLE " + role + L" PASSWORD '" + password + L"'"));
    EXPECT_EQ(destination.Deliver(Record(JobId(7)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    EXPECT_EQ(destination.Deliver(Record(JobId(7)), error), DeliveryOutcome::AlreadyDelivered)
        << Narrow(error);
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(admin.Value(L"SELECT station FROM qv_jobs"), L"LINE-2");
}

TEST_F(FleetDatabase, AStoppedServerFailsAndEachRowArrivesOnceItIsBack) {
    DatabaseRecordDestination destination(AdminConnection(), L"LINE-1");
    std::wstring error;
    // A connection is open from the first row when the server goes away.
    ASSERT_EQ(destination.Deliver(Record(JobId(1)), error), DeliveryOutcome::Delivered)
        << Narrow(error);

    std::vector<std::wstring> reported;
    destination.onError = [&](const std::wstring &message) { reported.push_back(message); };
    ASSERT_TRUE(Server("halt"));
    const DWORD before = GetTickCount();
    EXPECT_EQ(destination.Deliver(Record(JobId(2)), error), DeliveryOutcome::Failed);
    EXPECT_EQ(destination.Deliver(Record(JobId(2)), error), DeliveryOutcome::Failed);
    EXPECT_EQ(reported.size(), 1u) << "once per kind of failure";
    EXPECT_LT(GetTickCount() - before, 2 * kDatabaseLoginTimeoutSeconds * 1000 + 2000u);
    EXPECT_NE(error.find(L"cannot connect: [08"), std::wstring::npos) << Narrow(error);
    EXPECT_EQ(error.find(L"qv-admin-pw"), std::wstring::npos) << Narrow(error);

    ASSERT_TRUE(Server("resume"));
    EXPECT_EQ(destination.Deliver(Record(JobId(2)), error), DeliveryOutcome::Delivered)
        << Narrow(error);

    // Restarted while a connection was open: the next row needs no second try.
    ASSERT_TRUE(Server("halt"));
    ASSERT_TRUE(Server("resume"));
    EXPECT_EQ(destination.Deliver(Record(JobId(3)), error), DeliveryOutcome::Delivered)
        << Narrow(error);

    Admin after;
    ASSERT_TRUE(after.Connected());
    EXPECT_EQ(after.Value(L"SELECT string_agg(right(job_id, 1), ',' ORDER BY job_id) FROM qv_jobs"),
              L"1,2,3");
}

TEST_F(FleetDatabase, ARetryOfARowAlreadyThereCountsAsDelivered) {
    std::wstring error;
    {
        DatabaseRecordDestination first(AdminConnection(), L"LINE-1");
        ASSERT_EQ(first.Deliver(Record(JobId(5)), error), DeliveryOutcome::Delivered);
    }
    // The program ended before it knew; the next run sends the row again.
    DatabaseRecordDestination again(AdminConnection(), L"LINE-1");
    JobRecordFields changed = Record(JobId(5));
    changed.verdictText = L"another text";
    EXPECT_EQ(again.Deliver(changed, error), DeliveryOutcome::AlreadyDelivered) << Narrow(error);
    EXPECT_EQ(again.Deliver(Record(JobId(6)), error), DeliveryOutcome::Delivered) << Narrow(error);
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(Count(L"verdict_text = 'another text'"), 0) << "the first row stays as it was";
}

TEST_F(FleetDatabase, ATableMadeByAnotherStationMeanwhileIsTaken) {
    // Another station has made the table and not yet committed: this one
    // finds none, and its own CREATE waits, then fails on the other's.
    admin.BeginTransaction();
    ASSERT_TRUE(admin.Exec(CreateJobTableSql()));
    DatabaseRecordDestination destination(AdminConnection(), L"LINE-1");
    std::wstring error;
    DeliveryOutcome outcome = DeliveryOutcome::Failed;
    std::thread station([&] { outcome = destination.Deliver(Record(JobId(4)), error); });
    Sleep(1500);
    ASSERT_TRUE(admin.Commit());
    station.join();
    EXPECT_EQ(outcome, DeliveryOutcome::Delivered) << Narrow(error);
    EXPECT_EQ(Count(), 1);
}

TEST_F(FleetDatabase, ATableOfAForeignShapeIsReportedAndLeftAsItIs) {
    ASSERT_TRUE(admin.Exec(L"CREATE TABLE qv_jobs (job_id text PRIMARY KEY, start text,"
                           L" result_code integer, note text)"));
    ASSERT_TRUE(admin.Exec(L"INSERT INTO qv_jobs VALUES ('theirs', 'today', 0, 'kept')"));
    DatabaseRecordDestination destination(AdminConnection(), L"LINE-1");
    std::vector<std::wstring> reported;
    destination.onError = [&](const std::wstring &message) { reported.push_back(message); };
    std::wstring error;
    EXPECT_EQ(destination.Deliver(Record(JobId(9)), error), DeliveryOutcome::Failed);
    EXPECT_EQ(destination.Deliver(Record(JobId(9)), error), DeliveryOutcome::Failed);
    EXPECT_NE(error.find(L"qv_jobs has another shape"), std::wstring::npos) << Narrow(error);
    EXPECT_NE(error.find(L"column start is text, not timestamp with time zone"), std::wstring::npos)
        << Narrow(error);
    EXPECT_NE(error.find(L"column station (text) is missing"), std::wstring::npos) << Narrow(error);
    EXPECT_EQ(reported.size(), 1u);

    EXPECT_EQ(admin.Value(L"SELECT count(*) FROM information_schema.columns"
                          L" WHERE table_name = 'qv_jobs'"),
              L"4");
    EXPECT_EQ(admin.Value(L"SELECT job_id || '/' || note FROM qv_jobs"), L"theirs/kept");
    EXPECT_EQ(Count(), 1);
}

// A table made by the earlier program grows on the first connection of a
// role that may alter it: its rows stay, the new ones carry every column.
TEST_F(FleetDatabase, ATableOfTheEarlierProgramGetsItsNewColumnsOnConnect) {
    ASSERT_TRUE(admin.Exec(kEarlierTableSql));
    DatabaseRecordDestination earlier(AdminConnection(), L"LINE-1");
    ASSERT_TRUE(admin.Exec(L"INSERT INTO qv_jobs SELECT 'earlier', station, \"start\", \"end\","
                           L" duration_s, computer, program_version, mode, device_kind,"
                           L" device_name, device_serial, device_software_before,"
                           L" device_loader_before, image_file, image_software, image_loader,"
                           L" image_size, image_sha256, result_code, verdict_key, verdict_text,"
                           L" device_software_after FROM (SELECT 'LINE-0' AS station,"
                           L" now() AS \"start\", now() AS \"end\", 1.0 AS duration_s,"
                           L" 'PC' AS computer, '1.2.0.2' AS program_version, 'upgrade' AS mode,"
                           L" 4 AS device_kind, 'd' AS device_name, 'A0' AS device_serial,"
                           L" '' AS device_software_before, '' AS device_loader_before,"
                           L" 'i' AS image_file, '' AS image_software, '' AS image_loader,"
                           L" 1 AS image_size, '' AS image_sha256, 0 AS result_code,"
                           L" 'IDS_21' AS verdict_key, '' AS verdict_text,"
                           L" '' AS device_software_after) AS old"));
    std::vector<std::wstring> reported;
    earlier.onError = [&](const std::wstring &message) { reported.push_back(message); };
    std::wstring error;
    EXPECT_EQ(earlier.Deliver(Record(JobId(1)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    EXPECT_TRUE(reported.empty()) << Narrow(reported.front());
    EXPECT_EQ(admin.Value(L"SELECT count(*) FROM information_schema.columns"
                          L" WHERE table_name = 'qv_jobs'"),
              std::to_wstring(JobTableColumns().size()));
    EXPECT_EQ(admin.Value(L"SELECT string_agg(column_name || ':' || is_nullable, ','"
                          L" ORDER BY ordinal_position) FROM information_schema.columns"
                          L" WHERE table_name = 'qv_jobs' AND ordinal_position > " +
                          std::to_wstring(kEarlierColumns)),
              L"verified:YES,operator:YES,time_switch_s:YES,time_loader_s:YES,"
              L"time_restart_s:YES,time_download_s:YES,start_local:YES");
    const auto rows = admin.Rows(L"SELECT job_id, operator, time_switch_s, time_loader_s,"
                                 L" time_restart_s, time_download_s, start_local"
                                 L" FROM qv_jobs ORDER BY job_id");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::wstring>{JobId(1), L"Li Wei", L"<null>", L"2.345",
                                                  L"1.002", L"52.903", L"2026-12-08 20:26:59"}));
    EXPECT_EQ(rows[1], (std::vector<std::wstring>{L"earlier", L"<null>", L"<null>", L"<null>",
                                                  L"<null>", L"<null>", L"<null>"}));
}

// A login that may only insert cannot alter the table: the rows go with the
// columns it has, and one message names the others and how to add them.
TEST_F(FleetDatabase, WithoutTheRightToAlterRowsGoWithTheColumnsThereAndOneMessageSaysSo) {
    ASSERT_TRUE(admin.Exec(kEarlierTableSql));
    const std::wstring login = InsertOnlyLogin();
    DatabaseRecordDestination destination(login, L"LINE-2");
    std::vector<std::wstring> reported;
    std::wstring error;
    for (int n = 1; n <= 2; ++n) {
        EXPECT_EQ(destination.Deliver(Record(JobId(n)), error), DeliveryOutcome::Delivered)
            << Narrow(error);
        if (!error.empty()) reported.push_back(error); // a notice: the row is written
    }
    ASSERT_EQ(reported.size(), 1u) << "said once";
    EXPECT_NE(reported[0].find(kAddedColumns), std::wstring::npos) << Narrow(reported[0]);
    EXPECT_NE(reported[0].find(L"ADD COLUMN IF NOT EXISTS \"operator\" text"), std::wstring::npos)
        << Narrow(reported[0]);
    EXPECT_EQ(Count(L"station = 'LINE-2' AND device_serial = 'A0001'"), 2);
    EXPECT_EQ(admin.Value(L"SELECT count(*) FROM information_schema.columns"
                          L" WHERE table_name = 'qv_jobs'"),
              std::to_wstring(kEarlierColumns));

    // The owner runs the statement the message gave: the next connection
    // fills the new columns too.
    const std::wstring said = reported[0];
    const size_t at = said.find(L"ALTER TABLE");
    ASSERT_TRUE(admin.Exec(said.substr(at, said.rfind(L';') - at)));
    DatabaseRecordDestination after(login, L"LINE-2");
    EXPECT_EQ(after.Deliver(Record(JobId(3)), error), DeliveryOutcome::Delivered) << Narrow(error);
    EXPECT_EQ(admin.Value(L"SELECT operator FROM qv_jobs WHERE job_id = '" + JobId(3) + L"'"),
              L"Li Wei");
}

// The set-up the guide gives: the administrator owns the table, the
// stations' login inserts and can neither read, change nor delete a row.
TEST_F(FleetDatabase, TheStationsLoginAsDocumentedMayInsertOnly) {
    ASSERT_TRUE(admin.Exec(CreateJobTableSql()));
    for (const std::wstring &index : CreateJobIndexesSql())
        ASSERT_TRUE(admin.Exec(index));
    const std::wstring login = InsertOnlyLogin();
    DatabaseRecordDestination destination(login, L"LINE-3");
    std::vector<std::wstring> reported;
    destination.onError = [&](const std::wstring &message) { reported.push_back(message); };
    std::wstring error;
    EXPECT_EQ(destination.Deliver(Record(JobId(1)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(Count(L"station = 'LINE-3'"), 1);

    Admin station(login);
    ASSERT_TRUE(station.Connected());
    EXPECT_FALSE(station.Exec(L"SELECT count(*) FROM qv_jobs"));
    EXPECT_FALSE(station.Exec(L"UPDATE qv_jobs SET result_code = 0"));
    EXPECT_FALSE(station.Exec(L"DELETE FROM qv_jobs"));
    EXPECT_FALSE(station.Exec(L"ALTER TABLE qv_jobs ADD COLUMN note text"));
    EXPECT_EQ(Count(L"result_code = -9"), 1) << "the row is as it was written";
}

// A row the table's own rule rejects is refused for good, by its job and
// SQLSTATE; the row behind it goes on.
TEST_F(FleetDatabase, ARowTheTablesRuleRejectsIsRefusedForGoodAndTheNextGoes) {
    DatabaseRecordDestination destination(AdminConnection(), L"LINE-1");
    std::wstring error;
    ASSERT_EQ(destination.Deliver(Record(JobId(1)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    ASSERT_TRUE(admin.Exec(L"ALTER TABLE qv_jobs ADD CONSTRAINT serial_known"
                           L" CHECK (device_serial <> 'UNKNOWN')"));
    JobRecordFields unknown = Record(JobId(2));
    unknown.deviceSerial = L"UNKNOWN";
    EXPECT_EQ(destination.Deliver(unknown, error), DeliveryOutcome::Refused) << Narrow(error);
    EXPECT_NE(error.find(L"job " + JobId(2)), std::wstring::npos) << Narrow(error);
    EXPECT_NE(error.find(L"[23514]"), std::wstring::npos) << Narrow(error);
    EXPECT_EQ(error.find(L"qv-admin-pw"), std::wstring::npos) << Narrow(error);

    EXPECT_EQ(destination.Deliver(Record(JobId(3)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    EXPECT_EQ(admin.Value(L"SELECT string_agg(right(job_id, 1), ',' ORDER BY job_id) FROM qv_jobs"),
              L"1,3");
}

// A table dropped under a connected station is the table's state, not the
// row's: the table is made again and the row goes.
TEST_F(FleetDatabase, ATableDroppedUnderAConnectionIsMadeAgainAndTheRowNotRefused) {
    DatabaseRecordDestination destination(AdminConnection(), L"LINE-1");
    std::wstring error;
    ASSERT_EQ(destination.Deliver(Record(JobId(1)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    ASSERT_TRUE(admin.Exec(L"DROP TABLE qv_jobs"));
    EXPECT_EQ(destination.Deliver(Record(JobId(2)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    EXPECT_EQ(Count(), 1);
}

TEST_F(FleetDatabase, AServerThatNeverAnswersFailsWithinTheLoginTimeOut) {
    // A port that takes the connection and never says a word.
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET silent = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    int length = sizeof address;
    getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length);
    std::wstring connection = AdminConnection();
    const size_t port = connection.find(L"Port=");
    connection.replace(port, connection.find(L';', port) - port,
                       L"Port=" + std::to_wstring(ntohs(address.sin_port)));

    DatabaseRecordDestination destination(connection, L"LINE-1");
    std::wstring error;
    const DWORD before = GetTickCount();
    EXPECT_EQ(destination.Deliver(Record(JobId(1)), error), DeliveryOutcome::Failed);
    const DWORD waited = GetTickCount() - before;
    EXPECT_LT(waited, kDatabaseLoginTimeoutSeconds * 1000 + 3000u);
    EXPECT_NE(error.find(L"cannot connect"), std::wstring::npos) << Narrow(error);
    closesocket(silent);
    WSACleanup();
}

TEST_F(FleetDatabase, ATableHeldByAnotherFailsWithinTheQueryTimeOutAndIsWrittenOnceFree) {
    DatabaseRecordDestination destination(AdminConnection(), L"LINE-1");
    std::wstring error;
    ASSERT_EQ(destination.Deliver(Record(JobId(1)), error), DeliveryOutcome::Delivered);

    // Someone's long transaction holds the whole table.
    admin.BeginTransaction();
    ASSERT_TRUE(admin.Exec(L"LOCK TABLE qv_jobs IN ACCESS EXCLUSIVE MODE"));
    const DWORD before = GetTickCount();
    EXPECT_EQ(destination.Deliver(Record(JobId(2)), error), DeliveryOutcome::Failed);
    const DWORD waited = GetTickCount() - before;
    EXPECT_GE(waited, kDatabaseQueryTimeoutSeconds * 1000 - 1000u);
    EXPECT_LT(waited, kDatabaseQueryTimeoutSeconds * 1000 + 5000u);
    EXPECT_NE(error.find(L"was refused"), std::wstring::npos) << Narrow(error);
    ASSERT_TRUE(admin.Commit());

    EXPECT_EQ(destination.Deliver(Record(JobId(2)), error), DeliveryOutcome::Delivered)
        << Narrow(error);
    EXPECT_EQ(Count(), 2);
}

// The writer that TwoProcessesWritingAtOnceLeaveEveryRowOnce starts twice.
constexpr int kRowsPerWriter = 60;
constexpr int kSharedRows = 20; // both writers send these: one wins, one meets the key
constexpr wchar_t kWritersGo[] = L"qv-fleet-writers-go";
constexpr wchar_t kWritersReady[] = L"qv-fleet-writers-ready";

TEST(FleetDatabaseWriter, WritesItsRows) {
    const std::string writer = Env("QV_FLEET_WRITER");
    if (writer.empty()) GTEST_SKIP() << "started by TwoProcessesWritingAtOnceLeaveEveryRowOnce";
    DatabaseRecordDestination destination(AdminConnection(), L"WRITER-" + Widen(writer));
    // Both writers begin together, when both are up: by named objects in
    // one Wine prefix, by files across two (each has its own objects).
    const std::wstring goFile = Widen(Env("QV_FLEET_WRITER_GO_FILE"));
    if (goFile.empty()) {
        HANDLE ready = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, kWritersReady);
        HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, kWritersGo);
        ASSERT_TRUE(ready && go);
        ReleaseSemaphore(ready, 1, nullptr);
        CloseHandle(ready);
        ASSERT_EQ(WaitForSingleObject(go, 30000), WAIT_OBJECT_0);
        CloseHandle(go);
    } else {
        const std::wstring readyFile = goFile + L".ready-" + Widen(writer);
        CloseHandle(
            CreateFileW(readyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        int waited = 0;
        for (; waited < 6000 && GetFileAttributesW(goFile.c_str()) == INVALID_FILE_ATTRIBUTES;
             ++waited)
            Sleep(10);
        ASSERT_LT(waited, 6000) << "no go";
    }
    const int base = std::atoi(writer.c_str()) * 1000;
    for (int i = 0; i < kRowsPerWriter; ++i) {
        std::wstring error;
        JobRecordFields f = Record(i < kSharedRows ? JobId(i) : JobId(base + i));
        DeliveryOutcome outcome = destination.Deliver(f, error);
        ASSERT_NE(outcome, DeliveryOutcome::Failed) << Narrow(error);
    }
}

TEST_F(FleetDatabase, TwoProcessesWritingAtOnceLeaveEveryRowOnce) {
    // Neither finds the table: both make it at the same moment.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    // The writers' reports would take this program's report's place.
    wchar_t report[MAX_PATH] = L"";
    const bool reporting = GetEnvironmentVariableW(L"GTEST_OUTPUT", report, MAX_PATH) > 0;
    SetEnvironmentVariableW(L"GTEST_OUTPUT", nullptr);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, kWritersGo);
    HANDLE ready = CreateSemaphoreW(nullptr, 0, 2, kWritersReady);
    ASSERT_TRUE(go && ready);
    HANDLE processes[2] = {};
    for (int writer = 1; writer <= 2; ++writer) {
        SetEnvironmentVariableW(L"QV_FLEET_WRITER", std::to_wstring(writer).c_str());
        std::wstring command =
            L"\"" + std::wstring(self) + L"\" --gtest_filter=FleetDatabaseWriter.WritesItsRows";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process));
        CloseHandle(process.hThread);
        processes[writer - 1] = process.hProcess;
    }
    SetEnvironmentVariableW(L"QV_FLEET_WRITER", nullptr);
    if (reporting) SetEnvironmentVariableW(L"GTEST_OUTPUT", report);
    for (int writer = 0; writer < 2; ++writer)
        ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0) << "a writer did not start";
    SetEvent(go);
    CloseHandle(ready);
    ASSERT_EQ(WaitForMultipleObjects(2, processes, TRUE, 40000), WAIT_OBJECT_0);
    CloseHandle(go);
    for (HANDLE process : processes) {
        DWORD code = 1;
        GetExitCodeProcess(process, &code);
        EXPECT_EQ(code, 0u) << "a writer failed";
        CloseHandle(process);
    }
    const long long expected = kSharedRows + 2 * (kRowsPerWriter - kSharedRows);
    EXPECT_EQ(Count(), expected);
    EXPECT_EQ(_wtoi64(admin.Value(L"SELECT count(DISTINCT job_id) FROM qv_jobs").c_str()),
              expected);
    EXPECT_EQ(Count(L"station = 'WRITER-1'") + Count(L"station = 'WRITER-2'"), expected);
}

} // namespace
