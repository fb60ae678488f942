// The commands of the real program on the bench: the refusals before a job,
// the loader question and the library's own questions, Browse with its Open
// dialog, the exit during a job and the second copy of the program.
#include <gtest/gtest.h>

#include <fstream>

#include "res/resource.h"
#include "tests/e2e/program_run_win.h"

namespace {

using namespace e2e;

qvsim::DeviceSetup Device(int id, int kind, const char *loader = "2.05") {
    qvsim::DeviceSetup setup;
    setup.id = id;
    setup.kind = kind;
    setup.loaderVersion = loader;
    return setup;
}

std::wstring Formatted(std::wstring text, const std::wstring &value) {
    const size_t at = text.find(L"%s");
    if (at != std::wstring::npos) text.replace(at, 2, value);
    return text;
}

// The name the window gives a mass-storage device: [MSC_ID] NAME.
std::wstring MassStorageName(ProgramRun &run) {
    wchar_t text[260] = L"";
    GetPrivateProfileStringW(L"MSC_ID", L"NAME", L"", text, 260,
                             (run.Folder() + L"setting.ini").c_str());
    return text;
}

// Refusals are boxes under the program's title with the exclamation icon.
void ExpectRefusal(ProgramRun &run, int button, const wchar_t *key, const std::string &shot) {
    run.Robot().Click(button);
    run.ExpectAndAnswer(run.Text(key), run.AppTitle(), Icon::Exclamation, false, IDOK, shot);
}

// The library's questions and the loader question have no caption of their
// own: the box shows the program's name.
void ExpectQuestion(ProgramRun &run, const wchar_t *key, int answer, const std::string &shot) {
    run.ExpectAndAnswer(run.Text(key), run.ProgramName(), Icon::Information, true, answer, shot);
}

bool Browse(ProgramRun &run, const std::wstring &path, const std::string &shot) {
    run.Robot().Click(IDC_BROWSE);
    HWND open = run.Robot().WaitForOpenDialog(milliseconds(10000));
    if (!open) {
        ADD_FAILURE() << "no Open dialog";
        return false;
    }
    Sleep(300);
    run.Shot(shot);
    if (path.empty()) {
        UiRobot::CancelDialog(open);
    } else {
        UiRobot::ChooseFile(open, path);
        UiRobot::WaitUntil([&] { return !IsWindow(open) || !IsWindowVisible(open); },
                           milliseconds(5000));
    }
    return true;
}

void ExpectImageShown(UiRobot &robot, const std::wstring &path, const std::wstring &system,
                      const std::wstring &loader) {
    EXPECT_TRUE(UiRobot::WaitUntil([&] { return robot.Text(IDC_FIRMWARE_PATH) == path; },
                                   milliseconds(5000)))
        << "path shown: " << robot.Text(IDC_FIRMWARE_PATH).size() << " characters";
    EXPECT_EQ(robot.Text(IDC_IMAGE_SW_VERSION), system);
    EXPECT_EQ(robot.Text(IDC_IMAGE_LOADER_VERSION), loader);
}

std::wstring CorruptedCopy(ProgramRun &run) {
    const std::wstring path = run.Folder() + L"damaged.img";
    std::vector<unsigned char> bytes = ReadAll(run.SampleImage());
    bytes[bytes.size() / 2] ^= 0x5A;
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Refusals in the order the checks meet them, Browse with cancel, a good
// image and a damaged one, and the mask-ROM device that only Repair takes.
TEST(EndToEndCommands, RefusalsBrowseAndTheMaskRomDevice) {
    ProgramSetup setup;
    setup.withImage = false;
    ProgramRun run("refusals-browse", setup);
    ASSERT_TRUE(run.Start());
    UiRobot &robot = run.Robot();
    qvsim::Bench &bench = run.Bench();
    ASSERT_TRUE(UiRobot::WaitUntil(
        [&] { return robot.Text(IDC_STATUS_LINE) == run.Text(L"IDS_38"); }, milliseconds(5000)));

    // Neither device nor image: the missing device is named first. The
    // buttons are disabled; the click comes as a command, as from a keyboard
    // shortcut or another program.
    ExpectRefusal(run, IDC_UPGRADE, L"IDS_110", "no-device-upgrade");
    ExpectRefusal(run, IDC_REPAIR, L"IDS_110", "no-device-repair");

    ASSERT_NE(bench.Plug(Device(1, 4)), 0);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    ExpectRefusal(run, IDC_UPGRADE, L"IDS_47", "no-image-upgrade");
    ExpectRefusal(run, IDC_REPAIR, L"IDS_47", "no-image-repair");
    EXPECT_TRUE(robot.NoMessageBoxFor(milliseconds(300)));

    // Browse: cancel changes nothing; a good image is shown with its versions.
    ASSERT_TRUE(Browse(run, L"", "open-dialog"));
    EXPECT_EQ(robot.Text(IDC_FIRMWARE_PATH), L"");
    ASSERT_TRUE(Browse(run, run.SampleImage(), "open-dialog-choose"));
    ExpectImageShown(robot, run.SampleImage(), L"1.2.3", L"2.05");
    ASSERT_TRUE(Browse(run, L"", "open-dialog-cancel"));
    ExpectImageShown(robot, run.SampleImage(), L"1.2.3", L"2.05");
    run.Shot("image-kept");

    // A damaged image is refused with its message and forgets the choice.
    ASSERT_TRUE(Browse(run, CorruptedCopy(run), "open-dialog-damaged"));
    run.ExpectAndAnswer(run.Text(L"IDS_104"), run.AppTitle(), Icon::Error, false, IDOK,
                        "damaged-image");
    EXPECT_TRUE(UiRobot::WaitUntil(
        [&] {
            return robot.Text(IDC_FIRMWARE_PATH).empty() &&
                   robot.Text(IDC_IMAGE_SW_VERSION).empty() &&
                   robot.Text(IDC_IMAGE_LOADER_VERSION).empty();
        },
        milliseconds(3000)));
    run.Shot("damaged-image-cleared");
    ExpectRefusal(run, IDC_UPGRADE, L"IDS_47", "no-image-after-damaged");
    ASSERT_TRUE(Browse(run, run.SampleImage(), "open-dialog-again"));
    ExpectImageShown(robot, run.SampleImage(), L"1.2.3", L"2.05");

    // Two devices: the window says so, and both commands refuse.
    ASSERT_NE(bench.Plug(Device(2, 4)), 0);
    ASSERT_TRUE(UiRobot::WaitUntil(
        [&] {
            return robot.Text(IDC_STATUS_LINE) == run.Text(L"IDS_28") &&
                   !robot.Enabled(IDC_UPGRADE);
        },
        milliseconds(5000)));
    run.Shot("two-devices");
    ExpectRefusal(run, IDC_UPGRADE, L"IDS_109", "two-devices-upgrade");
    ExpectRefusal(run, IDC_REPAIR, L"IDS_109", "two-devices-repair");

    // The second is pulled out: the first, which the window held before the
    // two, is left and must be announced again as a device ready for a job.
    ASSERT_TRUE(bench.Unplug(2));
    EXPECT_TRUE(run.WaitForDevice(milliseconds(3000))) << "the device left is not announced";
    // The detail line is emptied once the versions are read.
    EXPECT_TRUE(UiRobot::WaitUntil([&] { return robot.Text(IDC_DETAIL_LINE).empty(); },
                                   milliseconds(1000)));
    run.Shot("one-device-left");
    const std::wstring name = MassStorageName(run);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(robot.Text(IDC_DEVICE_NAME), name);
    EXPECT_EQ(robot.Text(IDC_STATUS_LINE), Formatted(run.Text(L"IDS_30"), name));
    EXPECT_EQ(robot.Text(IDC_DEVICE_LOADER_VERSION), L"2.05");
    EXPECT_TRUE(robot.Enabled(IDC_UPGRADE));
    EXPECT_TRUE(robot.Enabled(IDC_REPAIR));
    // And a click goes as far as the final question.
    robot.Click(IDC_UPGRADE);
    run.ExpectAndAnswer(run.Text(L"IDS_88"), run.AppTitle(), Icon::Exclamation, true, IDNO,
                        "one-device-left-upgrade");
    ASSERT_TRUE(bench.UnplugAll());
    ASSERT_TRUE(run.WaitForNoDevice(milliseconds(5000)));

    // A mask-ROM device: Upgrade refuses, Repair asks and repairs it.
    ASSERT_NE(bench.Plug(Device(3, 1)), 0);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000), false));
    EXPECT_EQ(robot.Text(IDC_DEVICE_NAME), L"QV70 MaskRom");
    EXPECT_EQ(robot.Text(IDC_DEVICE_SW_VERSION), L"N/A");
    ExpectRefusal(run, IDC_UPGRADE, L"IDS_102", "mask-rom-upgrade");
    ASSERT_TRUE(run.StartJob(IDC_REPAIR, "mask-rom-repair-question"));
    run.ExpectSuccess(IDC_REPAIR, "mask-rom-repair-verdict");
    // It comes back as a mass-storage device with the image's system.
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    EXPECT_EQ(robot.Text(IDC_DEVICE_SW_VERSION), L"1.2.3");
    EXPECT_EQ(ReadAll(bench.StoragePath(3)), SystemPayload(run.SampleImage()));

    // A damaged image refused after a good one leaves the good one's loader
    // file in the temporary folder; the exit removes it all the same.
    const std::wstring loaderFile = run.Temp() + L"QVBOOT.BIN";
    EXPECT_NE(GetFileAttributesW(loaderFile.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(Browse(run, CorruptedCopy(run), "open-dialog-damaged-last"));
    run.ExpectAndAnswer(run.Text(L"IDS_104"), run.AppTitle(), Icon::Error, false, IDOK,
                        "damaged-image-last");
    EXPECT_NE(GetFileAttributesW(loaderFile.c_str()), INVALID_FILE_ATTRIBUTES);
    run.ExitThroughButton();
    EXPECT_EQ(GetFileAttributesW(loaderFile.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the loader file outlived the program";
}

// The loader question before a job, and the questions the library asks
// during one.
TEST(EndToEndCommands, LoaderQuestionAndTheLibrarysQuestions) {
    ProgramRun run("questions");
    ASSERT_TRUE(run.Start());
    UiRobot &robot = run.Robot();
    qvsim::Bench &bench = run.Bench();

    // The device's loader is newer than the image's: No abandons the click.
    ASSERT_NE(bench.Plug(Device(1, 4, "2.10")), 0);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    EXPECT_EQ(robot.Text(IDC_DEVICE_LOADER_VERSION), L"2.10");
    const std::wstring statusBefore = robot.Text(IDC_STATUS_LINE);
    robot.Click(IDC_UPGRADE);
    ExpectQuestion(run, L"IDS_128", IDNO, "loader-question-no");
    EXPECT_TRUE(robot.NoMessageBoxFor(milliseconds(500)));
    EXPECT_TRUE(robot.Enabled(IDC_UPGRADE));
    EXPECT_TRUE(robot.Enabled(IDC_BROWSE));
    EXPECT_EQ(robot.Text(IDC_STATUS_LINE), statusBefore);

    // No to the final question leaves every control as it was.
    robot.Click(IDC_UPGRADE);
    ExpectQuestion(run, L"IDS_128", IDYES, "loader-question-before-no");
    run.ExpectAndAnswer(run.Text(L"IDS_88"), run.AppTitle(), Icon::Exclamation, true, IDNO,
                        "upgrade-question-no");
    EXPECT_TRUE(robot.NoMessageBoxFor(milliseconds(500)));
    EXPECT_TRUE(robot.Enabled(IDC_UPGRADE));
    EXPECT_TRUE(robot.Enabled(IDC_REPAIR));
    EXPECT_EQ(robot.Text(IDC_STATUS_LINE), statusBefore);
    EXPECT_EQ(robot.Text(IDC_ELAPSED_TIME), L"");

    // Yes: the library's own loader question is answered without a box, so
    // the next box is the verdict.
    robot.Click(IDC_UPGRADE);
    ExpectQuestion(run, L"IDS_128", IDYES, "loader-question-yes");
    run.ExpectAndAnswer(run.Text(L"IDS_88"), run.AppTitle(), Icon::Exclamation, true, IDYES,
                        "upgrade-question");
    run.ExpectSuccess(IDC_UPGRADE, "loader-upgrade-verdict");
    EXPECT_EQ(CountOf(bench.ReadLog(), "question 0 (loader 2.05 replaces 2.10) answered yes"), 1);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    EXPECT_EQ(robot.Text(IDC_DEVICE_LOADER_VERSION), L"2.05");

    // A device in loader mode has no versions to compare: the library asks
    // during the job, and the user sees the question.
    ASSERT_TRUE(bench.UnplugAll());
    ASSERT_TRUE(run.WaitForNoDevice(milliseconds(5000)));
    ASSERT_NE(bench.Plug(Device(2, 2, "2.10")), 0);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000), false));
    ASSERT_TRUE(run.StartJob(IDC_UPGRADE, "loader-mode-question"));
    ExpectQuestion(run, L"IDS_128", IDYES, "library-loader-question");
    run.ExpectSuccess(IDC_UPGRADE, "library-loader-verdict");

    // The library's other questions, both answered Yes. The click comes
    // twice, as from an impatient user: one question, one job.
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    bench.UpdateSettings([](qvsim::BenchSettings &s) { s.questions = {1, 2}; });
    robot.Click(IDC_REPAIR);
    ASSERT_TRUE(run.StartJob(IDC_REPAIR, "repair-question"));
    ExpectQuestion(run, L"IDS_129", IDYES, "question-1");
    ExpectQuestion(run, L"IDS_130", IDYES, "question-2");
    run.ExpectSuccess(IDC_REPAIR, "questions-verdict");
    EXPECT_TRUE(robot.NoMessageBoxFor(milliseconds(500)));
    EXPECT_EQ(CountOf(bench.ReadLog(), "question 1 (write the loader) answered"), 1);

    // No to the loader-writing question ends the job with -3 (no suffix), and
    // No to the download question with -9: the verdict says that the answer
    // stopped it, not that the device refused or the cable failed.
    const auto saysItWasDeclined = [&](int code) {
        const std::wstring text = run.FailureText(code);
        EXPECT_NE(text.find(L"answered No"), std::wstring::npos) << code;
        EXPECT_EQ(text.find(L"refused"), std::wstring::npos) << code;
        EXPECT_EQ(text.find(L"\n\nCheck the USB cable"), std::wstring::npos) << code;
    };
    saysItWasDeclined(-3);
    saysItWasDeclined(-9);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    bench.UpdateSettings([](qvsim::BenchSettings &s) { s.questions = {1}; });
    ASSERT_TRUE(run.StartJob(IDC_UPGRADE, "question-1-no-start"));
    ExpectQuestion(run, L"IDS_129", IDNO, "question-1-no");
    run.ExpectFailure(IDC_UPGRADE, -3, "question-1-no-verdict");

    // The device was left in its VeskUsb mode, where no versions are read.
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000), false));
    bench.UpdateSettings([](qvsim::BenchSettings &s) { s.questions = {2}; });
    ASSERT_TRUE(run.StartJob(IDC_REPAIR, "question-2-no-start"));
    ExpectQuestion(run, L"IDS_130", IDNO, "question-2-no");
    run.ExpectFailure(IDC_REPAIR, -9, "question-2-no-verdict");
    run.ExitThroughButton();
}

// Exit during a job: No lets the job finish with its verdict; Yes ends the
// program at once and cleanly.
TEST(EndToEndCommands, ExitDuringAJob) {
    ProgramRun run("exit-during-job");
    ASSERT_TRUE(run.Start());
    UiRobot &robot = run.Robot();
    run.Bench().UpdateSettings([](qvsim::BenchSettings &s) { s.upgradeMs = 1500; });
    ASSERT_NE(run.Bench().Plug(Device(1, 4)), 0);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));

    ASSERT_TRUE(run.StartJob(IDC_UPGRADE, "upgrade-question"));
    ASSERT_TRUE(UiRobot::WaitUntil([&] { return !robot.Enabled(IDC_BROWSE); }, milliseconds(3000)));
    robot.Click(IDC_EXIT);
    run.ExpectAndAnswer(run.Text(L"IDS_49"), run.AppTitle(), Icon::Exclamation, true, IDNO,
                        "exit-question-no");
    run.ExpectSuccess(IDC_UPGRADE, "verdict-after-no");
    EXPECT_TRUE(run.Running());

    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    // Long enough that the job is still writing the loader when Yes comes.
    run.Bench().UpdateSettings([](qvsim::BenchSettings &s) { s.upgradeMs = 3000; });
    ASSERT_TRUE(run.StartJob(IDC_REPAIR, "repair-question"));
    ASSERT_TRUE(UiRobot::WaitUntil(
        [&] { return robot.Text(IDC_DETAIL_LINE) == run.Text(L"IDS_89"); }, milliseconds(5000)));
    const auto asked = std::chrono::steady_clock::now();
    run.ExitThroughButton(run.Text(L"IDS_49"));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_LT(seconds, 8.0);
    // The job went no further than the step it was in: no download.
    EXPECT_EQ(CountOf(run.Bench().ReadLog(), "system 1.2.3 written"), 1);
}

TEST(EndToEndCommands, ASecondCopyEndsAtOnce) {
    ProgramRun first("second-copy");
    ASSERT_TRUE(first.Start());
    ProgramRun second("second-copy-other");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(second.Start(false));
    EXPECT_EQ(second.WaitForEnd(milliseconds(10000)), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(5000));
    first.Shot("first-copy-still-running");
    EXPECT_TRUE(first.Running());
    first.ExitThroughButton();
}

} // namespace
