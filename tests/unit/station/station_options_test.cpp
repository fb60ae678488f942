// The station's command line: every flag, the defaults, and what is refused.
#include "station/station_options.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::wstring>;

StationOptions Parsed(const Args &args) {
    StationOptions options;
    std::wstring error;
    EXPECT_TRUE(ParseStationArguments(args, options, error))
        << std::string(error.begin(), error.end());
    return options;
}

TEST(StationOptions, OneUpgradeWaitsSixtySecondsAndSaysNoToEveryQuestion) {
    const StationOptions o = Parsed({L"--upgrade", L"C:\\img\\a.img"});
    EXPECT_EQ(o.run, StationOptions::Run::OneJob);
    EXPECT_EQ(o.mode, 0);
    EXPECT_EQ(o.image, L"C:\\img\\a.img");
    EXPECT_EQ(o.waitSeconds, kDefaultWaitSeconds);
    EXPECT_FALSE(o.yesLoader || o.yesContinue || o.yesAnyway || o.json || o.recordGiven ||
                 o.databaseGiven);
}

TEST(StationOptions, EveryFlagInAnyOrder) {
    const StationOptions o =
        Parsed({L"--json", L"--yes-anyway", L"--repair", L"b.img", L"--wait", L"5", L"--yes-loader",
                L"--yes-continue", L"--record", L"D:\\r.csv", L"--station", L"--database",
                L"DSN=fleet;Pwd={a;b}"});
    EXPECT_EQ(o.run, StationOptions::Run::Loop);
    EXPECT_EQ(o.mode, 1);
    EXPECT_EQ(o.image, L"b.img");
    EXPECT_EQ(o.waitSeconds, 5u);
    EXPECT_TRUE(o.yesLoader && o.yesContinue && o.yesAnyway && o.json && o.recordGiven);
    EXPECT_EQ(o.record, L"D:\\r.csv");
    EXPECT_TRUE(o.databaseGiven);
    EXPECT_EQ(o.database, L"DSN=fleet;Pwd={a;b}");
}

TEST(StationOptions, TheDatabaseOptionOverridesTheSettingAndAnEmptyOneTurnsItOff) {
    const std::wstring setting = L"DSN=line";
    EXPECT_EQ(StationDatabaseConnection(Parsed({L"--upgrade", L"a.img"}), setting), setting);
    EXPECT_EQ(StationDatabaseConnection(Parsed({L"--upgrade", L"a.img", L"--database", L"DSN=x"}),
                                        setting),
              L"DSN=x");
    EXPECT_EQ(
        StationDatabaseConnection(Parsed({L"--upgrade", L"a.img", L"--database", L""}), setting),
        L"");
}

TEST(StationOptions, TheStationWaitsForEverUnlessTold) {
    EXPECT_EQ(Parsed({L"--station", L"--upgrade", L"a.img"}).waitSeconds, 0u);
    EXPECT_EQ(Parsed({L"--station", L"--upgrade", L"a.img", L"--wait", L"30"}).waitSeconds, 30u);
}

TEST(StationOptions, HelpWinsOverEverythingElse) {
    EXPECT_EQ(Parsed({L"--help"}).run, StationOptions::Run::Help);
    EXPECT_EQ(Parsed({L"--upgrade", L"a.img", L"-h"}).run, StationOptions::Run::Help);
    EXPECT_EQ(Parsed({L"/?"}).run, StationOptions::Run::Help);
}

TEST(StationOptions, WhatMakesNoRunIsRefusedWithAReason) {
    const Args refused[] = {
        {},
        {L"--station"},
        {L"--upgrade"},
        {L"--upgrade", L""},
        {L"--upgrade", L"a.img", L"--repair", L"b.img"},
        {L"--upgrade", L"a.img", L"--upgrade", L"a.img"},
        {L"--upgrade", L"a.img", L"--wait"},
        {L"--upgrade", L"a.img", L"--wait", L"-1"},
        {L"--upgrade", L"a.img", L"--wait", L"ten"},
        {L"--upgrade", L"a.img", L"--wait", L"99999999"},
        {L"--upgrade", L"a.img", L"--record"},
        {L"--upgrade", L"a.img", L"--database"},
        {L"--upgrade", L"a.img", L"--yes"},
        {L"a.img"},
        {L"--import-records"},
        {L"--import-records", L""},
        {L"--import-records", L"old.csv", L"--upgrade", L"a.img"},
    };
    for (const Args &args : refused) {
        StationOptions options;
        std::wstring error;
        EXPECT_FALSE(ParseStationArguments(args, options, error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
}

// An error quotes the argument it could not take; a connection string among
// the arguments never shows its password there.
TEST(StationOptions, AnErrorNeverShowsTheDatabasePassword) {
    const struct {
        Args args;
        std::wstring secret, error;
    } cases[] = {
        {{L"--upgrade", L"a.img", L"--database=DSN=x;PWD=s3cret"},
         L"s3cret",
         L"unknown argument --database=DSN=x;PWD=***"},
        {{L"--upgrade", L"--database", L"Driver={PostgreSQL Unicode};Server=db;Pwd={s3;cret}"},
         L"s3;cret",
         L"unknown argument Driver={PostgreSQL Unicode};Server=db;Pwd=***"},
        {{L"--upgrade", L"a.img", L"--wait", L"DSN=x;PWD=s3cret"},
         L"s3cret",
         L"--wait takes whole seconds, not DSN=x;PWD=***"},
        // The password pasted alone, after its connection string.
        {{L"--upgrade", L"a.img", L"--database", L"DSN=x;Password=hunter2", L"--wait", L"hunter2"},
         L"hunter2",
         L"--wait takes whole seconds, not ***"},
    };
    for (const auto &c : cases) {
        StationOptions options;
        std::wstring error;
        EXPECT_FALSE(ParseStationArguments(c.args, options, error));
        EXPECT_EQ(error.find(c.secret), std::wstring::npos)
            << std::string(error.begin(), error.end());
        EXPECT_EQ(error, c.error);
    }
}

TEST(StationOptions, TheUsageNamesEveryFlag) {
    const std::wstring usage = StationUsage();
    for (const wchar_t *flag :
         {L"--upgrade", L"--repair", L"--station", L"--wait", L"--yes-loader", L"--yes-continue",
          L"--yes-anyway", L"--json", L"--record", L"--database", L"--records", L"--resend-refused",
          L"--import-records", L"--help"})
        EXPECT_NE(usage.find(flag), std::wstring::npos) << std::wstring(flag).size();
}

} // namespace
