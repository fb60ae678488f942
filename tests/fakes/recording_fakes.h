// Recording test doubles of the device library and the main view, for tests
// that check which calls are made, with which arguments and in which order.
// Header-only, so that native and Win32 tests can both use it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/device_library.h"
#include "base/main_view.h"

// Records every call by name (with its text or flag argument where it has
// one); every call succeeds (returns 1).
class RecordingLibrary : public IDeviceLibrary {
  public:
    std::vector<std::string> calls;

    int DllInitialize() override { return Record("DllInitialize"); }
    int DllDeInitialize() override { return Record("DllDeInitialize"); }
    int SetLogPath(const char *folder) override {
        return Record(std::string("SetLogPath ") + folder);
    }
    int SetLoaderRestoreFlag(int flag) override {
        return Record("SetLoaderRestoreFlag " + std::to_string(flag));
    }
    int SetEraseUserSection(int flag) override {
        return Record("SetEraseUserSection " + std::to_string(flag));
    }
    int SetMainWindowHwnd(HWND) override { return Record("SetMainWindowHwnd"); }
    int SetVidPid(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) override {
        return Record("SetVidPid");
    }
    int QV_FindDevice(DEVICE_INFO *, int) override { return Record("QV_FindDevice"); }
    int QV_GetDeviceVersion(DEVICE_INFO *, ANDROID_VERSION *) override {
        return Record("QV_GetDeviceVersion");
    }
    int QV_GetImageSize(const char *, uint32_t *) override { return Record("QV_GetImageSize"); }
    int QV_GetLoaderVersion(const char *, uint16_t *) override {
        return Record("QV_GetLoaderVersion");
    }
    int QV_GetSystemVersion(const char *, uint32_t *) override {
        return Record("QV_GetSystemVersion");
    }
    int ExtractLoaderFile(const char *, const char *) override {
        return Record("ExtractLoaderFile");
    }
    int QV_EraseIDB(DEVICE_INFO *, uint16_t, int, const char *) override {
        return Record("QV_EraseIDB");
    }
    int QV_Upgrade(DEVICE_INFO *, uint32_t, uint32_t, uint32_t, const char *, int, int) override {
        return Record("QV_Upgrade");
    }
    int QV_ResetDevice(DEVICE_INFO *) override { return Record("QV_ResetDevice"); }
    int QV_WaitDevice(DEVICE_INFO *, int, uint16_t, int) override {
        return Record("QV_WaitDevice");
    }
    int QV_DownloadImage(DEVICE_INFO *, const char *) override {
        return Record("QV_DownloadImage");
    }
    int QV_SwitchVeskUsb(DEVICE_INFO *) override { return Record("QV_SwitchVeskUsb"); }
    int QVIsVeskUsbPlug() override { return Record("QVIsVeskUsbPlug"); }
    int QVInstallDriver(const char *) override { return Record("QVInstallDriver"); }

  private:
    int Record(const std::string &call) {
        calls.push_back(call);
        return 1;
    }
};

// One message box as the view was asked to show it.
struct ShownMessage {
    std::wstring text;
    std::optional<std::wstring> caption;
    unsigned style;
    bool operator==(const ShownMessage &o) const {
        return text == o.text && caption == o.caption && style == o.style;
    }
};

// Keeps the message boxes; every box is answered OK. Everything else is ignored.
class RecordingView : public IMainView {
  public:
    std::vector<ShownMessage> boxes;
    void SetItemText(int, const std::wstring &) override {}
    void EnableItem(int, bool) override {}
    int ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                    unsigned style) override {
        boxes.push_back(ShownMessage{text, caption, style});
        return mb::kIdOk;
    }
    void StartBusy() override {}
    void StopBusy() override {}
    void ResetBusy() override {}
    void StartTimer(int, unsigned) override {}
    void StopTimer(int) override {}
    void PostUpgradeResult(int, int) override {}
};
