// What must hold however the device library answers: the checks shared by
// the chaos tests with and without real threads.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_watcher.h"
#include "res/resource.h"
#include "tests/fakes/device_fakes.h"

namespace chaos {

// Versions and names come from fixed-size texts of the library: whatever it
// leaves in them, the window never gets more than the text can hold.
inline constexpr size_t kLongestLibraryText = 511;

// The window never shows a device that the last search did not return, and
// a device that the last search returned is shown (once it has a name).
inline void ExpectWindowFollowsTheSearch(fakes::Bench &b, const std::string &where) {
    const int found = b.state.g_findResult.load();
    fakes::RecordingView &view = b.view;
    const std::wstring name = view.Shown(IDC_DEVICE_NAME);
    if (found != 1 || b.state.g_deviceInfo.identity == 0) {
        EXPECT_TRUE(name == L"?" || name.empty()) << where << " found=" << found;
        EXPECT_NE(view.Enabled(IDC_UPGRADE), 1) << where << " found=" << found;
        EXPECT_NE(view.Enabled(IDC_REPAIR), 1) << where << " found=" << found;
    } else {
        EXPECT_EQ(name, DeviceNameForKind(b.state.g_settings, b.state.g_deviceInfo.deviceType))
            << where;
        EXPECT_EQ(view.Enabled(IDC_UPGRADE), 1) << where;
        EXPECT_EQ(view.Enabled(IDC_REPAIR), 1) << where;
    }
    for (int id : {IDC_DEVICE_SW_VERSION, IDC_DEVICE_LOADER_VERSION})
        EXPECT_LE(view.Shown(id).size(), kLongestLibraryText) << where;
}

// Whether a call's result counts as the step's success.
inline bool ReportedSuccess(const std::string &call, int result) {
    if (call == "QV_Upgrade") return result == 0;
    if (call == "QVInstallDriver") return result == 0 || result == 1;
    return result != 0;
}

// A job's result 0 means that every step reported success: the last call of
// each kind (an earlier wait for the switched device may fail before the
// driver is installed) succeeded, and the image was downloaded.
inline void ExpectSuccessOnlyWhenEveryStepSucceeded(const std::vector<std::string> &calls,
                                                    const std::vector<int> &results, size_t from,
                                                    int code, const std::string &where) {
    if (code != 0) return;
    std::vector<std::pair<std::string, int>> last;
    bool downloaded = false;
    for (size_t i = from; i < calls.size(); ++i) {
        // The result of a reset is the library's own business.
        if (calls[i] == "QV_ResetDevice") continue;
        if (calls[i] == "QV_DownloadImage") downloaded = true;
        bool replaced = false;
        for (auto &entry : last) {
            if (entry.first == calls[i]) {
                entry.second = results[i];
                replaced = true;
            }
        }
        if (!replaced) last.emplace_back(calls[i], results[i]);
    }
    EXPECT_TRUE(downloaded) << where;
    for (const auto &entry : last)
        EXPECT_TRUE(ReportedSuccess(entry.first, entry.second))
            << where << ": " << entry.first << " returned " << entry.second;
}

// An image is accepted only when the library read its loader version and
// size and extracted its loader, whatever else it said.
inline void ExpectImageAcceptedOnlyWhenReadWhole(const std::vector<std::string> &calls,
                                                 const std::vector<int> &results, size_t from,
                                                 bool accepted, const std::string &where) {
    if (!accepted) return;
    int needed = 0;
    for (size_t i = from; i < calls.size(); ++i) {
        for (const char *step :
             {"QV_GetLoaderVersion ", "QV_GetImageSize ", "ExtractLoaderFile "}) {
            if (calls[i].rfind(step, 0) == 0) {
                EXPECT_NE(results[i], 0) << where << ": " << calls[i];
                ++needed;
            }
        }
    }
    EXPECT_EQ(needed, 3) << where;
}

} // namespace chaos
