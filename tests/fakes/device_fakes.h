// Fakes for the device operations: the one scripted device library, the one
// text table, an ASCII-only codec, a profile of integers, and a bench that
// puts them together with the recording view, the in-memory file system and
// the clock. Used by the native tests and by the Win32 tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/language_texts.h"
#include "base/main_view.h"
#include "base/main_window_model.h"
#include "base/platform.h"
#include "base/process_state.h"
#include "device/device_context.h"
#include "device/device_library.h"
#include "device/worker_gate.h"
#include "tests/fakes/chaos_answers.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fakes/recording_view.h"

namespace fakes {

// The platform fakes every test shares, by their names here too.
using ::FakeClock;
using ::FakeFileSystem;

// Every opaque field filled to its last byte, padding included: no text of it
// ends in a zero.
inline DEVICE_INFO MakeFullDevice(int32_t identity, int32_t kind) {
    DEVICE_INFO device;
    unsigned char *bytes = reinterpret_cast<unsigned char *>(&device);
    for (size_t i = 0; i < sizeof device; ++i)
        bytes[i] = static_cast<unsigned char>('A' + i % 26);
    std::memset(device.serialNumber, 'S', sizeof device.serialNumber);
    device.identity = identity;
    device.deviceType = kind;
    return device;
}

// serial: up to 19 characters; empty for a device that reports none.
inline DEVICE_INFO MakeDevice(int32_t identity, int32_t kind, const char *serial = "SN0001") {
    DEVICE_INFO device{};
    device.identity = identity;
    device.deviceType = kind;
    device.usbVid = 0x2207;
    std::strcpy(device.devicePath, "\\\\?\\usb#vid_2207");
    std::strcpy(device.serialNumber, serial);
    device.location = 7;
    return device;
}

// Job ids in turn: "job-1", "job-2", ...
class CountingJobIds : public IJobIdSource {
  public:
    std::wstring NewJobId() override { return L"job-" + std::to_wstring(++m_issued); }

  private:
    int m_issued = 0;
};

// Every call is logged by name (with the arguments that matter); results are
// set per operation, and hooks may stand in for any of them. In chaos mode
// every device and image call answers from a seeded ChaosAnswers instead.
class FakeDeviceLibrary : public IDeviceLibrary {
  public:
    // Seeded, so a failing seed replays exactly. Hooks and scripted answers
    // are ignored from then on.
    ChaosAnswers &EnableChaos(uint64_t seed) {
        m_chaos = std::make_unique<ChaosAnswers>(seed);
        return *m_chaos;
    }

    struct FindAnswer {
        int count;
        DEVICE_INFO device;
    };

    // QV_FindDevice answers these in turn, then repeats the last one.
    std::deque<FindAnswer> finds;
    std::function<void()> onFind; // runs inside each search (slow searches)

    int deviceVersionResult = 1;
    std::string deviceLoaderText = "2.05";
    std::string deviceSystemText = "4.4.2";
    std::deque<int> deviceVersionResults; // first answers, before the default

    int loaderVersionResult = 1;
    uint16_t imageLoaderVersion = 0x0129;
    int systemVersionResult = 1;
    uint32_t imageSystemVersion = 0x01020003;
    int imageSizeResult = 1;
    uint32_t imageSize = 0x20000;
    int extractResult = 1;
    std::function<void()> onExtract;

    int eraseResult = 1;
    int upgradeResult = 0;
    std::function<int()> onUpgrade; // stands in for QV_Upgrade's result
    int downloadResult = 1;
    std::function<int()> onDownload;
    int switchResult = 1;
    std::deque<int> waitResults; // QV_WaitDevice answers in turn, then waitResult
    int waitResult = 1;
    int veskUsbPlugResult = 1;
    int installDriverResult = 0;

    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    void ClearCalls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }
    // What each call returned, in the order of Calls().
    std::vector<int> Results() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results;
    }
    bool Called(const std::string &prefix) {
        for (const std::string &call : Calls())
            if (call.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }

    // The arguments of the last QV_Upgrade call.
    uint32_t upgradeSize = 0, upgradeSizeLow = 0, upgradePartition = 0;
    int upgradeMode = -1, upgradeReserved = -1;
    std::string upgradeLoader, eraseLoader, downloadImage, installInf;
    std::string lastImageAsked, extractTarget;

    // Every record handed to a device operation, as the library saw it.
    std::vector<DEVICE_INFO> Records() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }

    int DllInitialize() override { return Log("DllInitialize", 1); }
    int DllDeInitialize() override { return Log("DllDeInitialize", 1); }
    int SetLogPath(const char *folder) override {
        return Log(std::string("SetLogPath ") + folder, 1);
    }
    int SetLoaderRestoreFlag(int flag) override {
        return Log("SetLoaderRestoreFlag " + std::to_string(flag), 1);
    }
    int SetEraseUserSection(int flag) override {
        return Log("SetEraseUserSection " + std::to_string(flag), 1);
    }
    int SetMainWindowHwnd(HWND) override { return Log("SetMainWindowHwnd", 1); }
    int SetVidPid(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) override {
        return Log("SetVidPid", 1);
    }

    int QV_FindDevice(DEVICE_INFO *device, int usb11) override {
        if (m_chaos) {
            Delay();
            m_chaos->FillDevice(*device);
            return Log("QV_FindDevice usb11=" + std::to_string(usb11), m_chaos->FindCount());
        }
        if (onFind) onFind();
        FindAnswer answer{0, DEVICE_INFO{}};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!finds.empty()) {
                answer = finds.front();
                if (finds.size() > 1) finds.pop_front();
            }
        }
        if (answer.count == 1) *device = answer.device;
        return Log("QV_FindDevice usb11=" + std::to_string(usb11), answer.count);
    }
    int QV_GetDeviceVersion(DEVICE_INFO *device, ANDROID_VERSION *version) override {
        Keep(device);
        if (m_chaos) {
            Delay();
            m_chaos->FillVersionText(version->loaderVersion, sizeof version->loaderVersion);
            m_chaos->FillVersionText(version->systemVersion, sizeof version->systemVersion);
            return Log("QV_GetDeviceVersion id=" + std::to_string(device->identity),
                       m_chaos->Result(1));
        }
        int result = deviceVersionResult;
        if (!deviceVersionResults.empty()) {
            result = deviceVersionResults.front();
            deviceVersionResults.pop_front();
        }
        if (result != 0) {
            // A text of 512 characters or more fills its field with no
            // terminating zero, as a library may leave it.
            FillVersionText(version->loaderVersion, deviceLoaderText);
            FillVersionText(version->systemVersion, deviceSystemText);
        } else {
            std::memset(version, 'x', sizeof *version); // a failed read may leave anything
        }
        return Log("QV_GetDeviceVersion id=" + std::to_string(device->identity), result);
    }
    int QV_GetImageSize(const char *image, uint32_t *size) override {
        if (m_chaos) {
            Delay();
            *size = m_chaos->Number();
            return Log(std::string("QV_GetImageSize ") + image, m_chaos->Result(1));
        }
        if (imageSizeResult != 0)
            *size = imageSize;
        else
            *size = 0xDEAD;
        return Log(std::string("QV_GetImageSize ") + image, imageSizeResult);
    }
    int QV_GetLoaderVersion(const char *image, uint16_t *version) override {
        if (m_chaos) {
            Delay();
            *version = static_cast<uint16_t>(m_chaos->Number());
            return Log(std::string("QV_GetLoaderVersion ") + image, m_chaos->Result(1));
        }
        lastImageAsked = image;
        if (loaderVersionResult != 0) *version = imageLoaderVersion;
        return Log(std::string("QV_GetLoaderVersion ") + image, loaderVersionResult);
    }
    int QV_GetSystemVersion(const char *image, uint32_t *version) override {
        if (m_chaos) {
            Delay();
            *version = m_chaos->Number();
            return Log(std::string("QV_GetSystemVersion ") + image, m_chaos->Result(1));
        }
        if (systemVersionResult != 0) *version = imageSystemVersion;
        return Log(std::string("QV_GetSystemVersion ") + image, systemVersionResult);
    }
    int ExtractLoaderFile(const char *image, const char *loaderFile) override {
        if (m_chaos)
            return Chaotic(std::string("ExtractLoaderFile ") + image + " " + loaderFile, 1);
        extractTarget = loaderFile;
        if (onExtract) onExtract();
        return Log(std::string("ExtractLoaderFile ") + image + " " + loaderFile, extractResult);
    }
    int QV_EraseIDB(DEVICE_INFO *device, uint16_t count, int usb11,
                    const char *loaderFile) override {
        Keep(device);
        if (m_chaos) return Chaotic("QV_EraseIDB count=" + std::to_string(count), 1, device);
        eraseLoader = loaderFile;
        return Log("QV_EraseIDB count=" + std::to_string(count) + " usb11=" + std::to_string(usb11),
                   eraseResult);
    }
    int QV_Upgrade(DEVICE_INFO *device, uint32_t size, uint32_t sizeLow, uint32_t partition,
                   const char *loaderFile, int mode, int reserved) override {
        Keep(device);
        if (m_chaos) return Chaotic("QV_Upgrade", 0, device);
        upgradeSize = size;
        upgradeSizeLow = sizeLow;
        upgradePartition = partition;
        upgradeLoader = loaderFile;
        upgradeMode = mode;
        upgradeReserved = reserved;
        return Log("QV_Upgrade", onUpgrade ? onUpgrade() : upgradeResult);
    }
    int QV_ResetDevice(DEVICE_INFO *device) override {
        Keep(device);
        if (m_chaos) return Chaotic("QV_ResetDevice", 1, device);
        return Log("QV_ResetDevice", 1);
    }
    int QV_WaitDevice(DEVICE_INFO *device, int kind, uint16_t count, int usb11) override {
        Keep(device);
        if (m_chaos) return Chaotic("QV_WaitDevice kind=" + std::to_string(kind), 1, device);
        int result = waitResult;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!waitResults.empty()) {
                result = waitResults.front();
                waitResults.pop_front();
            }
        }
        return Log("QV_WaitDevice kind=" + std::to_string(kind) +
                       " count=" + std::to_string(count) + " usb11=" + std::to_string(usb11),
                   result);
    }
    int QV_DownloadImage(DEVICE_INFO *device, const char *image) override {
        Keep(device);
        if (m_chaos) return Chaotic("QV_DownloadImage", 1, device);
        downloadImage = image;
        return Log("QV_DownloadImage", onDownload ? onDownload() : downloadResult);
    }
    int QV_SwitchVeskUsb(DEVICE_INFO *device) override {
        Keep(device);
        if (m_chaos) return Chaotic("QV_SwitchVeskUsb", 1, device);
        return Log("QV_SwitchVeskUsb", switchResult);
    }
    int QVIsVeskUsbPlug() override {
        if (m_chaos) return Chaotic("QVIsVeskUsbPlug", 1);
        return Log("QVIsVeskUsbPlug", veskUsbPlugResult);
    }
    int QVInstallDriver(const char *inf) override {
        if (m_chaos) return Chaotic("QVInstallDriver", 1);
        installInf = inf;
        return Log("QVInstallDriver", installDriverResult);
    }

  private:
    static void FillVersionText(char (&field)[512], const std::string &text) {
        std::memset(field, 0, sizeof field);
        std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
    }
    int Log(const std::string &call, int result) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
        m_results.push_back(result);
        return result;
    }
    void Delay() {
        const uint32_t ms = m_chaos->DelayMs();
        if (m_chaos->delay) m_chaos->delay(ms);
    }
    int Chaotic(const std::string &call, int success, DEVICE_INFO *device = nullptr) {
        Delay();
        m_chaos->MaybeScribble(device);
        return Log(call, m_chaos->Result(success));
    }
    void Keep(const DEVICE_INFO *device) {
        DEVICE_INFO copy;
        std::memcpy(&copy, device, sizeof copy);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.push_back(copy);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<int> m_results;
    std::vector<DEVICE_INFO> m_records;
    std::unique_ptr<ChaosAnswers> m_chaos;
};

// The one text table: "<IDS_38>" for every key unless the table says
// otherwise, so a recorded call shows which text went where. Tests of the
// commands take the bare key (open and close empty).
class FakeTexts : public ILanguageTexts {
  public:
    std::map<std::wstring, std::wstring> table{{L"IDS_30", L"<IDS_30:%s>"},
                                               {L"IDS_6", L"<IDS_6:%s>"}};
    std::wstring open = L"<";
    std::wstring close = L">";
    // Keys that no language file has: their text is empty.
    std::set<std::wstring> missing;
    std::wstring Text(const std::wstring &key) override {
        if (missing.count(key) != 0) return std::wstring();
        auto it = table.find(key);
        return it != table.end() ? it->second : open + key + close;
    }
    std::wstring MissingTextNotice(const std::wstring &key) override { return L"missing " + key; }
};

// ASCII only: anything else has no ANSI form, as a character outside the
// code page has none on the platform.
class FakeCodec : public ITextCodec {
  public:
    bool ToAnsi(const std::wstring &text, std::string &ansi) override {
        ansi.clear();
        for (wchar_t c : text) {
            if (c > 0x7F) return false;
            ansi += static_cast<char>(c);
        }
        return true;
    }
    std::wstring FromAnsi(const std::string &ansi) override {
        std::wstring out;
        for (char c : ansi)
            out += static_cast<wchar_t>(static_cast<unsigned char>(c));
        return out;
    }
};

class FakeProfile : public IProfileReader {
  public:
    std::map<std::wstring, int> ints; // "section/key"
    std::vector<std::wstring> reads;
    std::wstring GetString(const std::wstring &, const std::wstring &, const std::wstring &,
                           size_t) override {
        return L"";
    }
    int GetInt(const std::wstring &file, const std::wstring &section, const std::wstring &key,
               int defaultValue) override {
        reads.push_back(file + L"|" + section + L"|" + key);
        auto it = ints.find(section + L"/" + key);
        return it != ints.end() ? it->second : defaultValue;
    }
};

// A whole world for one device operation.
struct Bench {
    FakeDeviceLibrary library;
    fakes::RecordingView view;
    FakeTexts texts;
    FakeCodec codec;
    FakeFileSystem files;
    FakeProfile profile;
    FakeClock clock;
    ProcessState state;
    MainWindowModel model;
    WorkerGate gate;
    Platform platform{profile, files, codec, clock};
    DeviceContext context{state, model, library, view, texts, platform, gate};

    Bench() {
        state.g_programFolder = L"C:\\QV\\";
        state.g_tempFolder = L"C:\\Temp\\";
        state.g_settings.APPTITLE = L"QV70 Device Manager";
        state.g_settings.DEVICE_ID_NAME = L"QV70 Loader";
        state.g_settings.MSC_ID_NAME = L"QV70 Tablet";
    }
};

} // namespace fakes
