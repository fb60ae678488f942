// The program's loader against real files: the built library, a copy of it,
// one that lacks an export, none at all, and a file that is no library.
#include "device/device_library_win.h"
#include "tests/win32/sim/win_test_support.h"

#include <gtest/gtest.h>

using qvsim_test::TempFolder;
using qvsim_win_test::ProgramFolder;

namespace {

std::wstring FolderOf(const TempFolder &folder) {
    return folder.Path().wstring() + L"\\";
}

TEST(DeviceLibraryLoader, ResolvesEveryExportOfTheBuiltLibrary) {
    std::wstring error;
    auto library = LoadedDeviceLibrary::Load(ProgramFolder(), error);
    ASSERT_TRUE(library) << std::string(error.begin(), error.end());
    EXPECT_TRUE(error.empty());
    for (const char *name : LoadedDeviceLibrary::kExportNames)
        EXPECT_NE(GetProcAddress(library->Module(), name), nullptr) << name;
    // A call goes through to the library.
    uint32_t size = 0;
    EXPECT_EQ(library->QV_GetImageSize(nullptr, &size), 0);
}

TEST(DeviceLibraryLoader, LoadsByFullPathNotBySearchPath) {
    TempFolder folder;
    std::filesystem::copy_file(std::filesystem::path(ProgramFolder()) / L"QVAndroidDLL.dll",
                               folder / "QVAndroidDLL.dll");
    std::wstring error;
    auto copy = LoadedDeviceLibrary::Load(FolderOf(folder), error);
    ASSERT_TRUE(copy);
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(copy->Module(), path, MAX_PATH);
    EXPECT_EQ(std::filesystem::path(path).parent_path(), folder.Path());
    // Also without the trailing backslash.
    auto again = LoadedDeviceLibrary::Load(folder.Path().wstring(), error);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Module(), copy->Module());
    // The loader keeps its modules for the process's life; the test lets go
    // of this one so that its folder can be removed.
    FreeLibrary(again->Module());
    FreeLibrary(copy->Module());
}

TEST(DeviceLibraryLoader, NamesAMissingLibraryAndWhereItWasLookedFor) {
    TempFolder folder;
    std::wstring error;
    EXPECT_FALSE(LoadedDeviceLibrary::Load(FolderOf(folder), error));
    EXPECT_NE(error.find(L"QVAndroidDLL.dll is missing"), std::wstring::npos);
    EXPECT_NE(error.find(folder.Path().wstring()), std::wstring::npos);
}

TEST(DeviceLibraryLoader, NamesTheMissingExport) {
    std::wstring error;
    EXPECT_FALSE(LoadedDeviceLibrary::Load(ProgramFolder() + L"tests\\partial-library\\", error));
    EXPECT_NE(error.find(L"lacks the export QV_DownloadImage."), std::wstring::npos)
        << std::string(error.begin(), error.end());
}

TEST(DeviceLibraryLoader, SaysWhenTheFileIsNoLibrary) {
    TempFolder folder;
    ASSERT_TRUE(qvsim::WriteFileAtomically(folder / "QVAndroidDLL.dll", "not a library"));
    std::wstring error;
    EXPECT_FALSE(LoadedDeviceLibrary::Load(FolderOf(folder), error));
    EXPECT_NE(error.find(L"could not be loaded"), std::wstring::npos);
}

} // namespace
