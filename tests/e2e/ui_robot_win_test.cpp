// The robot itself, against a message box of this very process: the
// end-to-end scenarios trust what it reads.
#include "tests/e2e/ui_robot_win.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

struct BoxCase {
    UINT style;
    MessageBoxInfo::Icon icon;
    bool yesNo;
    int answer;
    int defaultButton; // what Enter would press
};

class RobotBoxes : public ::testing::TestWithParam<BoxCase> {};

TEST_P(RobotBoxes, ReadsTextCaptionIconAndAnswers) {
    const BoxCase c = GetParam();
    int result = 0;
    std::thread asker(
        [&] { result = MessageBoxW(nullptr, L"Line one\nLine two", L"Caption", c.style); });
    UiRobot robot(GetCurrentProcessId());
    MessageBoxInfo box;
    ASSERT_TRUE(robot.WaitForMessageBox(box, 10s));
    EXPECT_EQ(box.caption, L"Caption");
    EXPECT_EQ(box.text, L"Line one\nLine two");
    EXPECT_EQ(box.icon, c.icon);
    EXPECT_EQ(box.hasYesNo, c.yesNo);
    EXPECT_EQ(box.defaultButton, c.defaultButton);
    robot.Answer(box, c.answer);
    asker.join();
    EXPECT_EQ(result, c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, RobotBoxes,
    ::testing::Values(BoxCase{MB_OK | MB_ICONERROR, MessageBoxInfo::Icon::Error, false, IDOK, IDOK},
                      BoxCase{MB_OK | MB_ICONINFORMATION, MessageBoxInfo::Icon::Information, false,
                              IDOK, IDOK},
                      BoxCase{MB_YESNO | MB_ICONEXCLAMATION, MessageBoxInfo::Icon::Exclamation,
                              true, IDNO, IDYES},
                      BoxCase{MB_YESNO | MB_ICONINFORMATION, MessageBoxInfo::Icon::Information,
                              true, IDYES, IDYES},
                      BoxCase{MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2,
                              MessageBoxInfo::Icon::Exclamation, true, IDYES, IDNO}));

TEST(Robot, SeesNoBoxWhenNoneShows) {
    UiRobot robot(GetCurrentProcessId());
    EXPECT_TRUE(robot.NoMessageBoxFor(100ms));
}

} // namespace
