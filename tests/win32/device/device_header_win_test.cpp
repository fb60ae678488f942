// The library header must agree with <windows.h> in either include order.
#include <windows.h>

#include "base/QVAndroidDLL.h"

#include <gtest/gtest.h>

#include <type_traits>

TEST(DeviceHeader, SharesTheWindowHandleTypeWithTheSystemHeaders) {
    static_assert(std::is_same_v<decltype(&SetMainWindowHwnd), int (*)(HWND)>);
    EXPECT_EQ(WM_DEVICE_PROMPT, WM_USER + 88);
    EXPECT_EQ(sizeof(DEVICE_INFO), 552u);
}
