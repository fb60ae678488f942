#include "base/platform_win.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/ansi_text.h"
#include "base/ini_file.h"
#include "tests/win32/app/temp_folder_win.h"

namespace {

class ProfileReaderWinTest : public ::testing::Test {
  protected:
    TempFolder folder;
    ProfileReaderWin profile;
};

// The platform reads UTF-16LE files and files in the ANSI code page alike,
// with names in any case and blanks around values dropped.
TEST_F(ProfileReaderWinTest, ReadsUtf16AndAnsiFilesAlike) {
    const std::wstring utf16 = folder.Path() + L"utf16.ini";
    const std::wstring ansi = folder.Path() + L"ansi.ini";
    ASSERT_TRUE(TempFolder::WriteUtf16(
        utf16, L"[Setting]\r\nLanguage = \x4E2D\x6587 \r\n[String]\r\nIDS_50=  Exit?  \r\n"));
    ASSERT_TRUE(TempFolder::WriteBytes(ansi, "[Setting]\r\nLanguage=Fran\xE7"
                                             "ais\r\n[String]\r\nIDS_50 =\tExit? \r\n"));

    EXPECT_EQ(profile.GetString(utf16, L"setting", L"LANGUAGE", 100), L"\x4E2D\x6587");
    EXPECT_EQ(profile.GetString(utf16, L"STRING", L"ids_50", 1000), L"Exit?");
    EXPECT_EQ(profile.GetString(ansi, L"String", L"IDS_50", 1000), L"Exit?");
    if (GetACP() == 1252) {
        EXPECT_EQ(profile.GetString(ansi, L"SETTING", L"language", 100), L"Fran\x00E7"
                                                                         L"ais");
    }
}

TEST_F(ProfileReaderWinTest, MissingFileSectionOrKeyGivesTheDefault) {
    const std::wstring file = folder.Path() + L"s.ini";
    ASSERT_TRUE(TempFolder::WriteBytes(file, "[SYSTEM]\r\nAPPTITLE=QV\r\nEMPTY=\r\n"));
    EXPECT_EQ(profile.GetString(file, L"SYSTEM", L"HOMEPAGE", 260), L"");
    EXPECT_EQ(profile.GetString(file, L"OTHER", L"APPTITLE", 260), L"");
    EXPECT_EQ(profile.GetString(folder.Path() + L"none.ini", L"SYSTEM", L"APPTITLE", 260), L"");
    EXPECT_EQ(profile.GetInt(file, L"SYSTEM", L"EMPTY", 7), 7);
    EXPECT_EQ(profile.GetInt(file, L"SYSTEM", L"MISSING", 0), 0);
}

TEST_F(ProfileReaderWinTest, ValuesAreCutToTheBuffer) {
    const std::wstring file = folder.Path() + L"long.ini";
    ASSERT_TRUE(TempFolder::WriteBytes(file, "[String]\r\nIDS_1=" + std::string(5000, 'x') +
                                                 "\r\nIDS_2=" + std::string(1000, 'y') + "\r\n"));
    EXPECT_EQ(profile.GetString(file, L"String", L"IDS_1", 1000), std::wstring(999, L'x'));
    EXPECT_EQ(profile.GetString(file, L"String", L"IDS_2", 1000), std::wstring(999, L'y'));
    EXPECT_EQ(profile.GetString(file, L"String", L"IDS_2", 1001), std::wstring(1000, L'y'));
}

TEST_F(ProfileReaderWinTest, IntegerSwitchesReadAsThePlatformReadsThem) {
    const std::wstring file = folder.Path() + L"int.ini";
    ASSERT_TRUE(TempFolder::WriteBytes(
        file, "[SYSTEM]\r\nA=1\r\nB= 1 \r\nC=2\r\nD=abc\r\nE=0\r\nF=1abc\r\n"));
    EXPECT_EQ(profile.GetInt(file, L"system", L"a", 0), 1);
    EXPECT_EQ(profile.GetInt(file, L"SYSTEM", L"B", 0), 1);
    EXPECT_EQ(profile.GetInt(file, L"SYSTEM", L"C", 0), 2);
    EXPECT_EQ(profile.GetInt(file, L"SYSTEM", L"D", 0), 0);
    EXPECT_EQ(profile.GetInt(file, L"SYSTEM", L"E", 0), 0);
    EXPECT_EQ(profile.GetInt(file, L"SYSTEM", L"F", 0), 1);
}

TEST(FileSystemWin, OpenForAppendCreatesAndKeepsContent) {
    TempFolder folder;
    FileSystemWin files;
    const std::wstring path = folder.Path() + L"setting.ini";
    ASSERT_TRUE(files.OpenForAppend(path));
    EXPECT_TRUE(files.PathExists(path));
    ASSERT_TRUE(TempFolder::WriteBytes(path, "[SYSTEM]\r\nAPPTITLE=QV\r\n"));
    ASSERT_TRUE(files.OpenForAppend(path));
    EXPECT_EQ(ProfileReaderWin().GetString(path, L"SYSTEM", L"APPTITLE", 260), L"QV");
    EXPECT_FALSE(files.OpenForAppend(folder.Path() + L"no such folder\\setting.ini"));
}

// A read-only settings file refuses appending but is read; a folder of the
// same name is no file to read.
TEST(FileSystemWin, OpenForReadTakesAReadOnlyFile) {
    TempFolder folder;
    FileSystemWin files;
    const std::wstring path = folder.Path() + L"setting.ini";
    EXPECT_FALSE(files.OpenForRead(path));
    ASSERT_TRUE(TempFolder::WriteBytes(path, "[SYSTEM]\r\nERASE_IDB=1\r\n"));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    // Run by an administrator (root under Wine) the attribute alone may not
    // refuse writing; a reader that lets nobody write refuses it everywhere.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(files.OpenForAppend(path));
    EXPECT_TRUE(files.OpenForRead(path));
    ProfileReaderWin profile;
    CIniFile ini(files, profile);
    ASSERT_TRUE(ini.SetFile(path));
    EXPECT_EQ(ini.GetInt(L"SYSTEM", L"ERASE_IDB"), 1);
    CloseHandle(reader);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    const std::wstring sub = folder.Path() + L"Log";
    ASSERT_TRUE(files.MakeDirectory(sub));
    EXPECT_FALSE(files.OpenForRead(sub));
}

TEST(FileSystemWin, FoldersExistHaveAttributesAndAreListedAsFolders) {
    TempFolder folder;
    FileSystemWin files;
    const std::wstring sub = folder.Path() + L"Log";
    EXPECT_FALSE(files.PathExists(sub));
    EXPECT_TRUE(files.MakeDirectory(sub));
    EXPECT_FALSE(files.MakeDirectory(sub));
    EXPECT_TRUE(files.PathExists(sub));
    EXPECT_TRUE(files.HasAttributes(sub));
    EXPECT_FALSE(files.HasAttributes(folder.Path() + L"gone.img"));

    ASSERT_TRUE(files.MakeDirectory(folder.Path() + L"dir.ini"));
    ASSERT_TRUE(TempFolder::WriteBytes(folder.Path() + L"a.ini", ""));
    ASSERT_TRUE(TempFolder::WriteBytes(folder.Path() + L"b.txt", ""));
    std::vector<std::wstring> listed;
    for (const FileEntry &entry : files.FindFiles(folder.Path() + L"*.ini"))
        listed.push_back(entry.name + (entry.isDirectory ? L"/" : L""));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::wstring>{L"a.ini", L"dir.ini/"}));
    EXPECT_TRUE(files.FindFiles(folder.Path() + L"none\\*.ini").empty());

    EXPECT_TRUE(files.RemoveFile(folder.Path() + L"a.ini"));
    EXPECT_FALSE(files.PathExists(folder.Path() + L"a.ini"));
    EXPECT_FALSE(files.RemoveFile(folder.Path() + L"a.ini"));
}

// A path the device library gets must be exact: a character outside the code
// page must fail the conversion instead of turning into '?' or a look-alike.
TEST(TextCodecWin, RefusesCharactersOutsideTheCodePage) {
    TextCodecWin codec;
    std::string ansi = "unchanged";
    EXPECT_TRUE(codec.ToAnsi(L"C:\\QV\\Log", ansi));
    EXPECT_EQ(ansi, "C:\\QV\\Log");
    if (GetACP() == CP_UTF8) GTEST_SKIP() << "every character converts in UTF-8";
    for (const wchar_t *text :
         {L"C:\\\x4E2D\\Log", L"C:\\\x0416\\Log", L"C:\\\x0100\\Log", L"\x221E"}) {
        EXPECT_FALSE(codec.ToAnsi(text, ansi));
        AnsiBuffer buffer;
        EXPECT_FALSE(WideToAnsi(codec, text, buffer));
        EXPECT_EQ(buffer[0], '\0');
    }
}

TEST(TextCodecWin, RoundTripsTheCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
    TextCodecWin codec;
    std::string ansi;
    ASSERT_TRUE(codec.ToAnsi(L"C:\\Caf\x00E9\\\x20AC", ansi));
    EXPECT_EQ(ansi, "C:\\Caf\xE9\\\x80");
    EXPECT_EQ(codec.FromAnsi(ansi), L"C:\\Caf\x00E9\\\x20AC");
    EXPECT_EQ(codec.FromAnsi(""), L"");
}

TEST(ClockWin, TicksMoveAndTimeIsTheCalendar) {
    ClockWin clock;
    const uint64_t before = clock.TickMs();
    // Wine's tick count is refreshed by its server and can trail a loaded
    // machine by a tick or two: a long sleep and a loose floor still tell
    // milliseconds from seconds.
    clock.SleepMs(60);
    EXPECT_GE(clock.TickMs() - before, 30u);
    EXPECT_GT(clock.NowSeconds(), 1600000000);
}

} // namespace
