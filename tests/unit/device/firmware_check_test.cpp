#include "device/firmware_check.h"

#include <gtest/gtest.h>

#include <functional>

#include "res/resource.h"
#include "tests/fakes/device_fakes.h"

namespace {

using fakes::Bench;
using Event = fakes::RecordingView::Event;

const std::wstring kImage = L"C:\\Images\\update.img";
const std::wstring kLoaderPath = L"C:\\Temp\\QVBOOT.BIN";

TEST(FirmwareInspection, VersionFormats) {
    struct Case {
        uint16_t loader;
        const wchar_t *text;
    } loaders[] = {{0x0129, L"1.41"},
                   {0x0105, L"1.05"},
                   {0x01FF, L"1.255"},
                   {0x0000, L"0.00"},
                   {0xFFFF, L"255.255"}};
    for (const Case &c : loaders)
        EXPECT_EQ(FormatLoaderVersion(c.loader), c.text) << c.loader;

    struct SystemCase {
        uint32_t version;
        const wchar_t *text;
    } systems[] = {{0x01020003, L"1.2.3"},
                   {0x0A0B0010, L"a.b.10"},
                   {0x00000000, L"0.0.0"},
                   {0xFFFFFFFF, L"ff.ff.ffff"}};
    for (const SystemCase &c : systems)
        EXPECT_EQ(FormatSystemVersion(c.version), c.text) << c.version;
}

TEST(FirmwareInspection, AcceptedImageShowsVersionsAndExtractsTheLoader) {
    Bench b;
    b.library.imageLoaderVersion = 0x0105;
    b.library.imageSystemVersion = 0x0A0B0010;
    b.library.imageSize = 123456789;

    EXPECT_TRUE(InspectFirmware(b.context, kImage));

    EXPECT_EQ(b.view.Calls(), (std::vector<std::wstring>{L"text IDC_IMAGE_LOADER_VERSION 1.05",
                                                         L"text IDC_IMAGE_SW_VERSION a.b.10"}));
    EXPECT_EQ(b.model.m_imageLoaderVersion, 0x0105);
    EXPECT_EQ(b.state.g_imageSize, 123456789u);
    EXPECT_EQ(b.state.g_loaderFilePath, kLoaderPath);
    EXPECT_EQ(b.library.extractTarget, "C:\\Temp\\QVBOOT.BIN");
    EXPECT_EQ(b.library.lastImageAsked, "C:\\Images\\update.img");
}

TEST(FirmwareInspection, ImageWithoutSystemVersionIsStillAccepted) {
    Bench b;
    b.library.systemVersionResult = 0;
    EXPECT_TRUE(InspectFirmware(b.context, kImage));
    EXPECT_EQ(b.view.Shown(IDC_IMAGE_SW_VERSION), L"N/A");
    EXPECT_TRUE(b.view.Of(Event::Message).empty());
    EXPECT_EQ(b.state.g_loaderFilePath, kLoaderPath);
}

// Each refusal: its message, what the image group shows, and that the loader
// path of an earlier image does not survive.
TEST(FirmwareInspection, RefusalsShowTheirMessageAndLeaveNoLoaderPath) {
    struct Case {
        const char *name;
        std::wstring image;
        std::function<void(Bench &)> arrange;
        const wchar_t *message;
        const wchar_t *loaderShown;
        const wchar_t *systemShown;
        bool sizeKept;
    } cases[] = {
        {"empty path", L"", nullptr, L"<IDS_103>", L"?", L"?", true},
        {"path outside the code page", L"C:\\\x0418\x043C\x0430\\update.img", nullptr, L"<IDS_103>",
         L"?", L"?", true},
        {"loader version unreadable", kImage, [](Bench &b) { b.library.loaderVersionResult = 0; },
         L"<IDS_104>", L"N/A", L"?", true},
        {"size unreadable", kImage, [](Bench &b) { b.library.imageSizeResult = 0; }, L"<IDS_106>",
         L"1.41", L"1.2.3", true},
        {"temporary folder outside the code page", kImage,
         [](Bench &b) { b.state.g_tempFolder = L"C:\\\x00C9t\x00E9\\"; }, L"<IDS_107>", L"1.41",
         L"1.2.3", false},
        {"extraction fails (read-only temporary folder)", kImage,
         [](Bench &b) { b.library.extractResult = 0; }, L"<IDS_108>", L"1.41", L"1.2.3", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.state.g_loaderFilePath = L"C:\\Temp\\QVBOOT.BIN"; // from an earlier image
        b.state.g_imageSize = 777;
        if (c.arrange) c.arrange(b);

        EXPECT_FALSE(InspectFirmware(b.context, c.image));

        const std::vector<Event> messages = b.view.Of(Event::Message);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, c.message);
        EXPECT_TRUE(messages[0].caption.has_value());
        EXPECT_EQ(messages[0].caption, L"QV70 Device Manager");
        EXPECT_EQ(messages[0].value, static_cast<int>(mb::kOk | mb::kIconError));
        EXPECT_EQ(b.view.Shown(IDC_IMAGE_LOADER_VERSION), c.loaderShown);
        EXPECT_EQ(b.view.Shown(IDC_IMAGE_SW_VERSION), c.systemShown);
        EXPECT_TRUE(b.state.g_loaderFilePath.empty());
        if (c.sizeKept) {
            EXPECT_EQ(b.state.g_imageSize, 777u);
        }
    }
}

TEST(FirmwareInspection, EmptyPathNeverReachesTheLibrary) {
    Bench b;
    EXPECT_FALSE(InspectFirmware(b.context, L""));
    EXPECT_TRUE(b.library.Calls().empty());
}

TEST(FirmwareInspection, StaleLoaderFileIsDeletedBeforeTheExtraction) {
    Bench b;
    b.files.AddFile(kLoaderPath);
    bool staleAtExtraction = true;
    b.library.onExtract = [&] { staleAtExtraction = b.files.HasFile(kLoaderPath); };

    EXPECT_TRUE(InspectFirmware(b.context, kImage));
    EXPECT_FALSE(staleAtExtraction);
    EXPECT_EQ(b.files.CallsOf(L"RemoveFile"), std::vector<std::wstring>{kLoaderPath});
}

TEST(FirmwareInspection, NoDeletionWhenNoLoaderFileIsThere) {
    Bench b;
    EXPECT_TRUE(InspectFirmware(b.context, kImage));
    EXPECT_TRUE(b.files.CallsOf(L"RemoveFile").empty());
}

} // namespace
