// The fleet database's portable half: the setting, the connection string and
// its secrets, the table's shape and SQL (names only, never values), one
// row's values, and how failures read and repeat.
#include "records/job_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "tests/fakes/ini_profile_fake.h"

namespace {

const std::wstring kConnection =
    L"Driver={PostgreSQL Unicode};Server=db.line;Port=5432;Database=fleet;Uid=station;"
    L"Pwd={s3cr;et!};";

TEST(JobDatabaseSetting, EmptyOrMissingMeansOffAndALongOneIsTakenWhole) {
    FakeFileSystem files;
    IniProfileFake profile{files};
    CIniFile ini{files, profile};
    const std::wstring settings = L"C:\\QV\\setting.ini";

    files.AddTextFile(settings, L"[SYSTEM]\r\nJOB_RECORD=Log\\jobs.csv\r\n");
    ASSERT_TRUE(ini.SetFile(settings));
    EXPECT_EQ(ReadJobDatabaseConnection(ini), L"");

    files.AddTextFile(settings, L"[SYSTEM]\r\nJOB_DATABASE=   \r\n");
    EXPECT_EQ(ReadJobDatabaseConnection(ini), L"");

    const std::wstring longOne = L"Driver={PostgreSQL Unicode};Server=" + std::wstring(400, L's') +
                                 L";Database=fleet;Pwd=x;";
    files.AddTextFile(settings, L"[system]\r\njob_database=" + longOne + L"\r\n");
    EXPECT_EQ(ReadJobDatabaseConnection(ini), longOne);

    files.AddTextFile(settings, L"[SYSTEM]\r\nJOB_DATABASE=DSN=QV Fleet\r\n");
    EXPECT_EQ(ReadJobDatabaseConnection(ini), L"DSN=QV Fleet");
}

TEST(JobDatabaseConnection, PairsKeepBracedValuesWhole) {
    const auto pairs = ParseConnectionString(L"Driver={PostgreSQL Unicode};Server=h; Pwd={a;b}}c};"
                                             L"junk;Uid=u");
    ASSERT_EQ(pairs.size(), 4u);
    EXPECT_EQ(pairs[0].first, L"Driver");
    EXPECT_EQ(pairs[0].second, L"PostgreSQL Unicode");
    EXPECT_EQ(pairs[2].first, L"Pwd");
    EXPECT_EQ(pairs[2].second, L"a;b}c");
    EXPECT_EQ(pairs[3].second, L"u");
}

TEST(JobDatabaseConnection, EveryPasswordIsMaskedWhereverItAppears) {
    struct Case {
        std::wstring connection, text, expected;
    };
    const Case cases[] = {
        // The connection string itself, in a message.
        {kConnection, L"cannot connect with " + kConnection,
         L"cannot connect with Driver={PostgreSQL Unicode};Server=db.line;Port=5432;"
         L"Database=fleet;Uid=station;Pwd=***;"},
        // Either key, any case, a braced value with a semicolon in it.
        {L"DSN=fleet;PASSWORD={p;w}}d}", L"DSN=fleet;PASSWORD={p;w}}d};x=1",
         L"DSN=fleet;PASSWORD=***;x=1"},
        {L"DSN=fleet", L"dsn=fleet;password = hunter2", L"dsn=fleet;password =***"},
        // A driver quoting the password back without its key.
        {kConnection, L"FATAL: role rejected s3cr;et! for station",
         L"FATAL: role rejected *** for station"},
        {L"DSN=fleet;Password={hunter 2}", L"FATAL: hunter 2 is not the password",
         L"FATAL: *** is not the password"},
        // A key that only ends in "pwd" is not a password.
        {L"DSN=x", L"oldpwd=keep", L"oldpwd=keep"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MaskSecrets(c.text, c.connection), c.expected)
            << std::string(c.text.begin(), c.text.end());
}

TEST(JobDatabaseTable, HoldsEveryRecordColumnUnderItsNameWithTheJobIdAsKey) {
    const auto &columns = JobTableColumns();
    auto has = [&](const std::wstring &name) {
        return std::any_of(columns.begin(), columns.end(),
                           [&](const JobColumn &c) { return name == c.name; });
    };
    for (const char *name : JobRecordColumns())
        EXPECT_TRUE(has(std::wstring(name, name + std::char_traits<char>::length(name)))) << name;
    EXPECT_TRUE(has(L"job_id"));
    EXPECT_TRUE(has(L"station"));

    const std::wstring create = CreateJobTableSql();
    EXPECT_EQ(create.find(L"CREATE TABLE IF NOT EXISTS qv_jobs ("), 0u);
    EXPECT_NE(create.find(L"\"job_id\" text NOT NULL PRIMARY KEY"), std::wstring::npos);
    EXPECT_NE(create.find(L"\"start\" timestamp with time zone"), std::wstring::npos);
    EXPECT_NE(create.find(L"\"end\" timestamp with time zone"), std::wstring::npos);
    EXPECT_NE(create.find(L"\"duration_s\" numeric(12,3)"), std::wstring::npos);
    EXPECT_NE(create.find(L"\"result_code\" integer"), std::wstring::npos);
    EXPECT_NE(create.find(L"\"image_size\" bigint"), std::wstring::npos);

    // One placeholder per column and not one value.
    const std::wstring insert = InsertJobSql();
    EXPECT_EQ(static_cast<size_t>(std::count(insert.begin(), insert.end(), L'?')), columns.size());
    EXPECT_EQ(insert.find(L'\''), std::wstring::npos);

    // Columns that came later take rows without a value.
    EXPECT_NE(create.find(L"\"time_download_s\" numeric(12,3),"), std::wstring::npos);
    EXPECT_NE(create.find(L"\"start_local\" timestamp without time zone)"), std::wstring::npos);
    const std::vector<std::wstring> indexes = CreateJobIndexesSql();
    ASSERT_EQ(indexes.size(), 2u);
    EXPECT_EQ(indexes[0], L"CREATE INDEX IF NOT EXISTS qv_jobs_start ON qv_jobs (\"start\")");
    EXPECT_EQ(indexes[1],
              L"CREATE INDEX IF NOT EXISTS qv_jobs_device_serial ON qv_jobs (\"device_serial\")");
}

// A table of an earlier version: what it lacks is added, nullable, or left
// out of the insert, and named with the statement that adds it.
TEST(JobDatabaseTable, MissingColumnsAreAddedOrLeftOutOfTheInsertNeverHoldingARow) {
    std::vector<std::pair<std::wstring, std::wstring>> catalogue;
    for (const JobColumn &c : JobTableColumns())
        if (std::wstring(c.name) != L"operator" && std::wstring(c.name) != L"start_local" &&
            std::wstring(c.name) != L"device_serial")
            catalogue.emplace_back(c.name, CatalogTypeName(c.type));
    EXPECT_EQ(WrongColumnTypes(catalogue), L"");
    const std::vector<bool> present = PresentColumns(catalogue);
    EXPECT_EQ(MissingColumnNames(present), L"device_serial, operator, start_local");
    EXPECT_EQ(AddColumnsSql(present),
              L"ALTER TABLE qv_jobs ADD COLUMN IF NOT EXISTS \"device_serial\" text,"
              L" ADD COLUMN IF NOT EXISTS \"operator\" text,"
              L" ADD COLUMN IF NOT EXISTS \"start_local\" timestamp without time zone");
    const std::wstring message = MissingColumnsMessage(present);
    EXPECT_NE(message.find(L"device_serial, operator, start_local"), std::wstring::npos);
    EXPECT_NE(message.find(AddColumnsSql(present)), std::wstring::npos);

    const std::wstring insert = InsertJobSql(present);
    EXPECT_EQ(static_cast<size_t>(std::count(insert.begin(), insert.end(), L'?')),
              JobTableColumns().size() - 3);
    EXPECT_EQ(insert.find(L"\"operator\""), std::wstring::npos);
    EXPECT_NE(insert.find(L"\"time_switch_s\""), std::wstring::npos);

    EXPECT_EQ(AddColumnsSql(PresentColumns({})).find(L"NOT NULL"), std::wstring::npos);
    catalogue.emplace_back(L"operator", L"integer");
    EXPECT_EQ(WrongColumnTypes(catalogue), L"column operator is integer, not text");
}

TEST(JobDatabaseTable, AForeignShapeIsNamedExtraColumnsAreAllowed) {
    std::vector<std::pair<std::wstring, std::wstring>> catalogue;
    for (const JobColumn &c : JobTableColumns())
        catalogue.emplace_back(c.name, CatalogTypeName(c.type));
    EXPECT_EQ(CompareTableShape(catalogue), L"");

    catalogue.emplace_back(L"line", L"text");
    EXPECT_EQ(CompareTableShape(catalogue), L"");

    catalogue.erase(catalogue.begin() + 1); // station
    for (auto &[name, type] : catalogue)
        if (name == L"result_code") type = L"text";
    EXPECT_EQ(CompareTableShape(catalogue),
              L"column station (text) is missing; column result_code is text, not integer");
}

TEST(JobDatabaseRow, NumbersAsNumbersTimesInUtcTextsAsTheyAre) {
    JobRecordFields f;
    // Each text its own value, so that one bound to a neighbour's column shows.
    const std::pair<const wchar_t *, std::wstring JobRecordFields::*> texts[] = {
        {L"computer", &JobRecordFields::computer},
        {L"program_version", &JobRecordFields::programVersion},
        {L"mode", &JobRecordFields::mode},
        {L"device_name", &JobRecordFields::deviceName},
        {L"device_serial", &JobRecordFields::deviceSerial},
        {L"device_software_before", &JobRecordFields::deviceSoftwareBefore},
        {L"device_loader_before", &JobRecordFields::deviceLoaderBefore},
        {L"image_file", &JobRecordFields::imageFile},
        {L"image_software", &JobRecordFields::imageSoftware},
        {L"image_loader", &JobRecordFields::imageLoader},
        {L"image_sha256", &JobRecordFields::imageSha256},
        {L"verdict_key", &JobRecordFields::verdictKey},
        {L"device_software_after", &JobRecordFields::deviceSoftwareAfter},
        {L"verified", &JobRecordFields::verified},
    };
    for (const auto &[name, field] : texts)
        f.*field = std::wstring(L"value of ") + name;
    f.jobId = L"0123456789abcdef0123456789abcdef";
    f.startSeconds = 1796732819; // 2026-12-08T12:26:59Z
    f.endSeconds = 1796732822;
    f.durationMs = 3079;
    f.computer = L"BENCH-PC";
    f.deviceKind = 4;
    f.imageSize = 4000000000u;
    f.resultCode = -9;
    f.verdictText = L"x'; DROP TABLE qv_jobs; --\r\n\x5347\x7ea7";
    const auto values = JobRowValues(f, L"");
    ASSERT_EQ(values.size(), JobTableColumns().size());
    auto at = [&](const std::wstring &name) {
        for (size_t i = 0; i < values.size(); ++i)
            if (name == JobTableColumns()[i].name) return values[i];
        return JobRowValue{};
    };
    for (const auto &[name, field] : texts)
        EXPECT_EQ(at(name).text, f.*field);
    EXPECT_EQ(at(L"job_id").text, f.jobId);
    EXPECT_EQ(at(L"station").text, L"BENCH-PC") << "the computer's name when none is given";
    EXPECT_EQ(JobRowValues(f, L"LINE-3")[1].text, L"LINE-3");
    EXPECT_EQ(at(L"start").text, L"2026-12-08T12:26:59Z");
    EXPECT_EQ(at(L"end").text, L"2026-12-08T12:27:02Z");
    EXPECT_EQ(at(L"duration_s").text, L"3.079");
    EXPECT_EQ(at(L"device_kind").number, 4);
    EXPECT_EQ(at(L"image_size").number, 4000000000);
    EXPECT_EQ(at(L"result_code").number, -9);
    EXPECT_EQ(at(L"verdict_text").text, f.verdictText);
    EXPECT_TRUE(at(L"time_switch_s").null) << "a phase not reached has no time";
    EXPECT_TRUE(at(L"start_local").null) << "a record queued before the column";
    EXPECT_EQ(at(L"operator").text, L"");
    EXPECT_FALSE(at(L"operator").null);

    f.phases.downloadMs = 2345;
    f.startLocal = L"2026-12-08 20:26:59";
    f.operatorName = L"Li Wei";
    const auto later = JobRowValues(f, L"");
    EXPECT_EQ(later[later.size() - 2].text, L"2.345");
    EXPECT_FALSE(later[later.size() - 2].null);
    EXPECT_EQ(later.back().text, L"2026-12-08 20:26:59");
    EXPECT_FALSE(later.back().null);
    EXPECT_EQ(later[later.size() - 6].text, L"Li Wei");
}

TEST(JobDatabaseFailure, SaysWhatWithEachSqlStateAndNoPasswordOncePerKind) {
    const std::wstring text = DescribeDatabaseFailure(
        L"cannot connect",
        {{L"28P01", 101, L"FATAL:  password authentication failed for user \"station\"\n"},
         {L"01000", 0, L"while connecting with " + kConnection}},
        kConnection);
    EXPECT_EQ(text.find(L"s3cr"), std::wstring::npos);
    EXPECT_EQ(text.find(L"cannot connect: [28P01] FATAL:  password authentication failed"), 0u);
    EXPECT_NE(text.find(L"; [01000] while connecting"), std::wstring::npos);

    FailureOnce once;
    EXPECT_TRUE(once.Take(L"connect"));
    EXPECT_FALSE(once.Take(L"connect"));
    EXPECT_TRUE(once.Take(L"shape"));
    EXPECT_TRUE(once.Take(L"connect"));
    once.Clear(); // a row went through
    EXPECT_TRUE(once.Take(L"connect"));
}

// Only the server's rules refuse a row for good; a duplicate key means the
// row is there, and what may pass (a connection, a time-out, a deadlock, a
// full disk, a shutdown) leaves it waiting.
TEST(JobDatabaseFailure, ARowIsRefusedForGoodOnlyByTheServersRules) {
    const struct {
        std::vector<const wchar_t *> states;
        bool refused;
    } cases[] = {
        {{L"22001"}, true},            // a text too long for its column
        {{L"22007"}, true},            // a time that is none
        {{L"23514"}, true},            // a check constraint
        {{L"23502"}, true},            // a value missing where one is needed
        {{L"23505"}, false},           // already there
        {{L"42501"}, true},            // no right to insert
        {{L"44000"}, true},            // a view's check option
        {{L"01000", L"23514"}, true},  // a warning before the error
        {{L"23514", L"08S01"}, false}, // the connection broke as well
        {{L"08001"}, false},
        {{L"57014"}, false}, // the query time-out
        {{L"57P01"}, false}, // the server shut down
        {{L"40P01"}, false}, // a deadlock
        {{L"53100"}, false}, // the server's disk is full
        {{L"HYT00"}, false},
        {{L"HY000"}, false},
        {{}, false},
    };
    for (const auto &c : cases) {
        std::vector<DatabaseDiagnostic> diagnostics;
        std::string said;
        for (const wchar_t *state : c.states) {
            diagnostics.push_back({state, 0, L"ERROR"});
            said += std::string(state, state + std::char_traits<wchar_t>::length(state)) + " ";
        }
        EXPECT_EQ(IsRefusedForGood(diagnostics), c.refused) << said;
    }
}

} // namespace
