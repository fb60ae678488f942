// The compiled resources against the layout the program promises: every
// template's frame, font and controls in tab order, the pictures' sizes, the
// cursor's hot spot, the manifest and the version.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "res/resource.h"
#include "ui_test_support_win.h"

namespace {

constexpr DWORD kChild = WS_CHILD;
constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
constexpr DWORD kVersionField = kShown | WS_GROUP | SS_RIGHT | SS_CENTERIMAGE;

struct ExpectedItem {
    int id;
    const wchar_t *className;
    short x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
};

void ExpectTemplate(int templateId, DWORD style, DWORD exStyle, short cx, short cy, int fontSize,
                    const std::vector<ExpectedItem> &expected) {
    SCOPED_TRACE("template " + std::to_string(templateId));
    DialogTemplate t;
    ASSERT_TRUE(ReadDialogTemplate(templateId, t));
    EXPECT_EQ(t.style, style);
    EXPECT_EQ(t.exStyle, exStyle);
    EXPECT_EQ(t.cx, cx);
    EXPECT_EQ(t.cy, cy);
    EXPECT_EQ(t.fontSize, fontSize);
    // The shell dialog font: it scales, and falls back for Chinese texts.
    EXPECT_EQ(t.fontName, L"MS Shell Dlg");
    ASSERT_GE(t.items.size(), expected.size());
    // The template's order is the tab order: the expected controls come
    // first, in this order; anything after them is hidden.
    for (size_t i = 0; i < expected.size(); ++i) {
        const ExpectedItem &e = expected[i];
        const TemplateItem &item = t.items[i];
        SCOPED_TRACE("item " + std::to_string(i) + ", id " + std::to_string(e.id));
        EXPECT_EQ(item.id, e.id);
        EXPECT_EQ(_wcsicmp(item.className.c_str(), e.className), 0) << item.className.c_str();
        EXPECT_EQ(item.x, e.x);
        EXPECT_EQ(item.y, e.y);
        EXPECT_EQ(item.cx, e.cx);
        EXPECT_EQ(item.cy, e.cy);
        EXPECT_EQ(item.style, e.style) << std::hex << item.style << " vs " << e.style;
        EXPECT_EQ(item.exStyle, e.exStyle);
    }
    for (size_t i = expected.size(); i < t.items.size(); ++i)
        EXPECT_EQ(t.items[i].style & WS_VISIBLE, 0u) << "extra control " << t.items[i].id;
}

TEST(Resources, MainWindowTemplate) {
    ExpectTemplate(
        IDD_DEVICEMANAGER_DIALOG,
        WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
            DS_SHELLFONT,
        WS_EX_APPWINDOW, 199, 281, 10,
        {
            {IDC_BROWSE, L"Button", 164, 56, 17, 14, kShown | WS_TABSTOP, 0},
            {IDC_FIRMWARE_PATH, L"Edit", 18, 57, 145, 12,
             kShown | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY, 0},
            {IDC_UPGRADE, L"Button", 66, 216, 50, 16, kShown | WS_TABSTOP | BS_PUSHBUTTON, 0},
            {IDC_REPAIR, L"Button", 124, 216, 50, 16, kShown | WS_TABSTOP | BS_PUSHBUTTON, 0},
            {IDC_EXIT, L"Button", 138, 247, 50, 16, kShown | WS_TABSTOP, 0},
            {IDC_DEVICE_NAME, L"Static", 103, 29, 83, 11,
             kShown | WS_GROUP | SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN, 0},
            {IDC_DEVICE_NAME_CAPTION, L"Static", 104, 14, 38, 8, kShown | WS_GROUP, 0},
            {IDC_BUSY_BAR, L"Static", 29, 197, 140, 11, kShown | WS_GROUP, 0},
            {IDC_DETAIL_LINE, L"Static", 29, 156, 140, 32, kShown | WS_GROUP | SS_CENTER, 0},
            {IDC_STATUS_LINE, L"Static", 23, 138, 153, 11,
             kShown | WS_GROUP | SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN, 0},
            {-1, L"Button", 11, 125, 177, 115, kShown | BS_GROUPBOX, 0},
            {IDC_IMAGE_SW_CAPTION, L"Static", 15, 75, 36, 8, kShown | WS_GROUP | SS_RIGHT, 0},
            {IDC_IMAGE_GROUP, L"Button", 11, 45, 177, 45, kShown | BS_GROUPBOX, 0},
            {IDC_IMAGE_SW_VERSION, L"Static", 54, 74, 44, 10, kVersionField, WS_EX_STATICEDGE},
            {IDC_IMAGE_LOADER_CAPTION, L"Static", 104, 75, 30, 8, kShown | WS_GROUP, 0},
            {IDC_IMAGE_LOADER_VERSION, L"Static", 137, 74, 44, 10, kVersionField, WS_EX_STATICEDGE},
            {IDC_DEVICE_SW_CAPTION, L"Static", 15, 108, 36, 8, kShown | WS_GROUP | SS_RIGHT, 0},
            {IDC_DEVICE_GROUP, L"Button", 11, 93, 177, 30, kShown | BS_GROUPBOX, 0},
            {IDC_DEVICE_SW_VERSION, L"Static", 54, 107, 44, 10, kVersionField, WS_EX_STATICEDGE},
            {IDC_DEVICE_LOADER_CAPTION, L"Static", 104, 107, 30, 8, kShown | WS_GROUP, 0},
            {IDC_DEVICE_LOADER_VERSION, L"Static", 137, 106, 44, 10, kVersionField,
             WS_EX_STATICEDGE},
            {IDC_TITLE_PICTURE, L"Static", 11, 7, 86, 33, kChild | SS_BITMAP, 0},
            {IDC_ELAPSED_TIME, L"Static", 25, 219, 31, 9,
             kShown | WS_GROUP | SS_CENTER | SS_CENTERIMAGE, WS_EX_STATICEDGE},
            {IDC_HOMEPAGE_LINK, L"Static", 12, 251, 120, 8, kShown | WS_GROUP | WS_TABSTOP, 0},
        });
}

TEST(Resources, MainWindowTemplateHoldsTheHiddenControls) {
    DialogTemplate t;
    ASSERT_TRUE(ReadDialogTemplate(IDD_DEVICEMANAGER_DIALOG, t));
    for (int id : {IDC_HIDDEN_EDIT, IDC_HIDDEN_CHECK, IDC_HIDDEN_BUTTON1, IDC_HIDDEN_BUTTON2,
                   IDC_HIDDEN_BUTTON3, IDC_HIDDEN_BUTTON4}) {
        bool found = false;
        for (const TemplateItem &item : t.items) {
            if (item.id != id) continue;
            found = true;
            EXPECT_EQ(item.style & WS_VISIBLE, 0u) << id;
        }
        EXPECT_TRUE(found) << id;
    }
}

TEST(Resources, AboutBoxTemplate) {
    ExpectTemplate(
        IDD_ABOUTBOX, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SHELLFONT, 0, 242,
        149, 8,
        {
            {IDC_ABOUT_PICTURE, L"Static", 0, 0, 200, 73, kChild | SS_BITMAP, 0},
            {IDC_ABOUT_TITLE, L"Static", 20, 79, 131, 8, kShown | WS_GROUP | SS_NOPREFIX, 0},
            {IDC_ABOUT_VERSION, L"Static", 20, 94, 142, 8, kShown | WS_GROUP, 0},
            {IDC_ABOUT_NOTICE, L"Static", 20, 108, 170, 8, kShown | WS_GROUP, 0},
            {IDC_ABOUT_SEPARATOR, L"Static", 0, 123, 235, 1, kShown, WS_EX_STATICEDGE},
            {IDOK, L"Button", 140, 129, 50, 15, kShown | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON,
             0},
        });
}

TEST(Resources, SplashTemplate) {
    ExpectTemplate(IDD_SPLASH, WS_POPUP | WS_BORDER | DS_SHELLFONT, 0, 307, 245, 10,
                   {{IDC_SPLASH_PICTURE, L"Static", 0, 0, 280, 228, kChild | SS_BITMAP, 0}});
}

TEST(Resources, PicturesShowTheirBuiltInBitmaps) {
    struct {
        int templateId, controlId, bitmapId;
    } const cases[] = {{IDD_DEVICEMANAGER_DIALOG, IDC_TITLE_PICTURE, IDB_TITLE},
                       {IDD_ABOUTBOX, IDC_ABOUT_PICTURE, IDB_ABOUTTITLE},
                       {IDD_SPLASH, IDC_SPLASH_PICTURE, IDB_STARTUP}};
    for (const auto &c : cases) {
        DialogTemplate t;
        ASSERT_TRUE(ReadDialogTemplate(c.templateId, t));
        bool found = false;
        for (const TemplateItem &item : t.items) {
            if (item.id != c.controlId) continue;
            found = true;
            EXPECT_EQ(item.titleOrdinal, c.bitmapId) << c.controlId;
        }
        EXPECT_TRUE(found) << c.controlId;
    }
}

TEST(Resources, BitmapsAre24BitPicturesOfTheirSize) {
    struct {
        int id, width, height;
    } const cases[] = {{IDB_STARTUP, 353, 238}, {IDB_TITLE, 150, 54}, {IDB_ABOUTTITLE, 300, 100}};
    for (const auto &c : cases) {
        HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(c.id), RT_BITMAP);
        ASSERT_NE(found, nullptr) << c.id;
        const auto *info =
            static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(nullptr, found)));
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->biWidth, c.width) << c.id;
        EXPECT_EQ(info->biHeight, c.height) << c.id;
        EXPECT_EQ(info->biBitCount, 24) << c.id;
    }
}

TEST(Resources, IconAndHandCursor) {
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    EXPECT_NE(icon, nullptr);

    HCURSOR cursor = static_cast<HCURSOR>(LoadImageW(GetModuleHandleW(nullptr),
                                                     MAKEINTRESOURCEW(IDC_HAND_CURSOR),
                                                     IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
    ASSERT_NE(cursor, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, 12u);
    EXPECT_EQ(info.yHotspot, 4u);
    BITMAP mask{};
    GetObjectW(info.hbmMask, sizeof(mask), &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    EXPECT_NE(info.hbmColor, nullptr) << "a 2-colour cursor has no colour bitmap";
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);

    // The file itself: 32 x 32 with the hot spot in its directory entry, in
    // 256 colours (8 bits a pixel), not 2.
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDC_HAND_CURSOR), RT_GROUP_CURSOR);
    ASSERT_NE(found, nullptr);
#pragma pack(push, 2)
    struct GroupEntry {
        WORD width, height, planes, bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    const BYTE *group = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(group, nullptr);
    ASSERT_GE(SizeofResource(nullptr, found), 6u + sizeof(GroupEntry));
    const WORD *header = reinterpret_cast<const WORD *>(group);
    EXPECT_EQ(header[1], 2); // cursors
    ASSERT_EQ(header[2], 1); // one picture
    GroupEntry entry;        // its bit count is the resource compiler's guess: the picture says
    std::memcpy(&entry, group + 6, sizeof entry);

    HRSRC picture = FindResourceW(nullptr, MAKEINTRESOURCEW(entry.id), RT_CURSOR);
    ASSERT_NE(picture, nullptr);
    const BYTE *bytes = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, picture)));
    ASSERT_NE(bytes, nullptr);
    ASSERT_GE(SizeofResource(nullptr, picture), 4u + sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER bitmap; // after the hot spot's two words
    std::memcpy(&bitmap, bytes + 4, sizeof bitmap);
    EXPECT_EQ(bitmap.biWidth, 32);
    EXPECT_EQ(bitmap.biHeight, 64); // colour and mask
    EXPECT_EQ(bitmap.biBitCount, 8);
    EXPECT_EQ(bitmap.biClrUsed == 0 ? 256u : bitmap.biClrUsed, 256u);
    const WORD *hotSpot = reinterpret_cast<const WORD *>(bytes);
    EXPECT_EQ(hotSpot[0], 12);
    EXPECT_EQ(hotSpot[1], 4);
}

TEST(Resources, ManifestAsksForAdministratorAndCommonControls6) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const char *text = static_cast<const char *>(LockResource(LoadResource(nullptr, found)));
    const std::string manifest(text, SizeofResource(nullptr, found));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    // Sharp at any scale: per-monitor aware, v2 where the system has it.
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
}

TEST(Resources, VersionIs1_2_0_3) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_VERSION);
    ASSERT_NE(found, nullptr);
    const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found)));
    const DWORD size = SizeofResource(nullptr, found);
    // VerQueryValueW needs a writable copy.
    std::vector<BYTE> copy(data, data + size);
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(2, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(3, 0));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(2, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(3, 0));
    wchar_t *copyright = nullptr;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\StringFileInfo\\040904b0\\LegalCopyright",
                               reinterpret_cast<void **>(&copyright), &length));
    EXPECT_STREQ(copyright, L"Copyright (C) 2026 QV70 Device Manager developers");
}

} // namespace
