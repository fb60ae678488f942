// Fakes for the device operations: a scripted device library, a recording
// main view, a language table, files, profile, codec and a clock that takes
// no real time. Used by the native tests and by the Win32 tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/language_texts.h"
#include "app/platform.h"
#include "app/process_state.h"
#include "device/device_context.h"
#include "device/device_library.h"
#include "device/worker_gate.h"
#include "ui/main_view.h"
#include "ui/main_window_model.h"

namespace fakes {

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

inline DEVICE_INFO MakeDevice(int32_t identity, int32_t kind) {
    DEVICE_INFO device{};
    device.identity = identity;
    device.deviceType = kind;
    device.usbVid = 0x2207;
    std::strcpy(device.devicePath, "\\\\?\\usb#vid_2207");
    std::strcpy(device.serialNumber, "SN0001");
    device.location = 7;
    return device;
}

// Every call is logged by name (with the arguments that matter); results are
// set per operation, and hooks may stand in for any of them.
class FakeDeviceLibrary : public IDeviceLibrary {
  public:
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
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
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
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

    int DllInitialize() override { return Log("DllInitialize", 1); }
    int DllDeInitialize() override { return Log("DllDeInitialize", 1); }
    int SetLogPath(const char *) override { return Log("SetLogPath", 1); }
    int SetLoaderRestoreFlag(int) override { return Log("SetLoaderRestoreFlag", 1); }
    int SetEraseUserSection(int) override { return Log("SetEraseUserSection", 1); }
    int SetMainWindowHwnd(HWND) override { return Log("SetMainWindowHwnd", 1); }
    int SetVidPid(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) override {
        return Log("SetVidPid", 1);
    }

    int QV_FindDevice(DEVICE_INFO *device, int usb11) override {
        if (onFind) onFind();
        FindAnswer answer{0, DEVICE_INFO{}};
        {
            std::lock_guard<std::mutex> lock(mutex_);
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
        if (imageSizeResult != 0)
            *size = imageSize;
        else
            *size = 0xDEAD;
        return Log(std::string("QV_GetImageSize ") + image, imageSizeResult);
    }
    int QV_GetLoaderVersion(const char *image, uint16_t *version) override {
        lastImageAsked = image;
        if (loaderVersionResult != 0) *version = imageLoaderVersion;
        return Log(std::string("QV_GetLoaderVersion ") + image, loaderVersionResult);
    }
    int QV_GetSystemVersion(const char *image, uint32_t *version) override {
        if (systemVersionResult != 0) *version = imageSystemVersion;
        return Log(std::string("QV_GetSystemVersion ") + image, systemVersionResult);
    }
    int ExtractLoaderFile(const char *image, const char *loaderFile) override {
        extractTarget = loaderFile;
        if (onExtract) onExtract();
        return Log(std::string("ExtractLoaderFile ") + image + " " + loaderFile, extractResult);
    }
    int QV_EraseIDB(DEVICE_INFO *device, uint16_t count, int usb11,
                    const char *loaderFile) override {
        Keep(device);
        eraseLoader = loaderFile;
        return Log("QV_EraseIDB count=" + std::to_string(count) + " usb11=" + std::to_string(usb11),
                   eraseResult);
    }
    int QV_Upgrade(DEVICE_INFO *device, uint32_t size, uint32_t sizeLow, uint32_t partition,
                   const char *loaderFile, int mode, int reserved) override {
        Keep(device);
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
        return Log("QV_ResetDevice", 1);
    }
    int QV_WaitDevice(DEVICE_INFO *device, int kind, uint16_t count, int usb11) override {
        Keep(device);
        int result = waitResult;
        {
            std::lock_guard<std::mutex> lock(mutex_);
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
        downloadImage = image;
        return Log("QV_DownloadImage", onDownload ? onDownload() : downloadResult);
    }
    int QV_SwitchVeskUsb(DEVICE_INFO *device) override {
        Keep(device);
        return Log("QV_SwitchVeskUsb", switchResult);
    }
    int QVIsVeskUsbPlug() override { return Log("QVIsVeskUsbPlug", veskUsbPlugResult); }
    int QVInstallDriver(const char *inf) override {
        installInf = inf;
        return Log("QVInstallDriver", installDriverResult);
    }

  private:
    static void FillVersionText(char (&field)[512], const std::string &text) {
        std::memset(field, 0, sizeof field);
        std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
    }
    int Log(const std::string &call, int result) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
        return result;
    }
    void Keep(const DEVICE_INFO *device) {
        DEVICE_INFO copy;
        std::memcpy(&copy, device, sizeof copy);
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(copy);
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<DEVICE_INFO> records_;
};

// Records every control write, message box and posted result, in order.
class RecordingView : public IMainView {
  public:
    struct Event {
        enum Kind { Text, Enable, Message, Post, Other } kind;
        int id;            // control id; mode for Post
        std::wstring text; // text; message text
        int value;         // enable state; style; result code
        std::wstring caption;
        bool hasCaption;
    };

    int messageAnswer = mb::kIdOk;
    std::function<void()> onWrite; // runs at every control write (synchronous sends)

    void SetItemText(int id, const std::wstring &text) override {
        if (onWrite) onWrite();
        Add({Event::Text, id, text, 0, L"", false});
    }
    void EnableItem(int id, bool enable) override {
        if (onWrite) onWrite();
        Add({Event::Enable, id, L"", enable ? 1 : 0, L"", false});
    }
    int ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                    unsigned style) override {
        Add({Event::Message, 0, text, static_cast<int>(style), caption.value_or(L""),
             caption.has_value()});
        return messageAnswer;
    }
    void StartBusy() override { Add({Event::Other, 0, L"StartBusy", 0, L"", false}); }
    void StopBusy() override { Add({Event::Other, 0, L"StopBusy", 0, L"", false}); }
    void ResetBusy() override { Add({Event::Other, 0, L"ResetBusy", 0, L"", false}); }
    void StartTimer(int id, unsigned) override {
        Add({Event::Other, id, L"StartTimer", 0, L"", false});
    }
    void StopTimer(int id) override { Add({Event::Other, id, L"StopTimer", 0, L"", false}); }
    void PostUpgradeResult(int mode, int code) override {
        Add({Event::Post, mode, L"", code, L"", false});
    }

    std::vector<Event> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }
    // "text 1010 <IDS_38>", "enable 1002 1", "message <IDS_103>", "post 0 -9".
    std::vector<std::wstring> Script() {
        std::vector<std::wstring> out;
        for (const Event &e : Events()) {
            switch (e.kind) {
            case Event::Text:
                out.push_back(L"text " + std::to_wstring(e.id) + L" " + e.text);
                break;
            case Event::Enable:
                out.push_back(L"enable " + std::to_wstring(e.id) + L" " + std::to_wstring(e.value));
                break;
            case Event::Message:
                out.push_back(L"message " + e.text);
                break;
            case Event::Post:
                out.push_back(L"post " + std::to_wstring(e.id) + L" " + std::to_wstring(e.value));
                break;
            case Event::Other:
                out.push_back(e.text);
                break;
            }
        }
        return out;
    }
    std::vector<Event> Of(Event::Kind kind) {
        std::vector<Event> out;
        for (const Event &e : Events())
            if (e.kind == kind) out.push_back(e);
        return out;
    }
    // The text a control shows after every write so far; "?" if never written.
    std::wstring Shown(int id) {
        std::wstring shown = L"?";
        for (const Event &e : Events())
            if (e.kind == Event::Text && e.id == id) shown = e.text;
        return shown;
    }
    // -1 if never written.
    int Enabled(int id) {
        int enabled = -1;
        for (const Event &e : Events())
            if (e.kind == Event::Enable && e.id == id) enabled = e.value;
        return enabled;
    }

  private:
    void Add(Event e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
    }
    std::mutex mutex_;
    std::vector<Event> events_;
};

// "<IDS_38>" for every key, unless the table says otherwise.
class FakeTexts : public ILanguageTexts {
  public:
    std::map<std::wstring, std::wstring> table{{L"IDS_30", L"<IDS_30:%s>"},
                                               {L"IDS_6", L"<IDS_6:%s>"}};
    std::wstring Text(const std::wstring &key) override {
        auto it = table.find(key);
        return it != table.end() ? it->second : L"<" + key + L">";
    }
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

class FakeFiles : public IFileSystem {
  public:
    std::set<std::wstring> existing;
    bool appendOpens = true;
    std::vector<std::wstring> log; // "open <path>", "read <path>", "exists <path>", "delete <path>"

    bool OpenForAppend(const std::wstring &path) override {
        log.push_back(L"open " + path);
        return appendOpens;
    }
    bool OpenForRead(const std::wstring &path) override {
        log.push_back(L"read " + path);
        return existing.count(path) != 0;
    }
    bool PathExists(const std::wstring &path) override {
        log.push_back(L"exists " + path);
        return existing.count(path) != 0;
    }
    bool HasAttributes(const std::wstring &path) override { return existing.count(path) != 0; }
    bool RemoveFile(const std::wstring &path) override {
        log.push_back(L"delete " + path);
        return existing.erase(path) != 0;
    }
    bool MakeDirectory(const std::wstring &) override { return true; }
    std::vector<FileEntry> FindFiles(const std::wstring &) override { return {}; }
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

// Sleeps return at once and only advance the clock.
class FakeClock : public IClock {
  public:
    std::function<void(uint32_t)> onSleep;
    void SleepMs(uint32_t ms) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sleeps_.push_back(ms);
            now_ += ms;
        }
        if (onSleep) onSleep(ms);
    }
    int64_t NowSeconds() override { return static_cast<int64_t>(TickMs() / 1000); }
    uint64_t TickMs() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    std::vector<uint32_t> Sleeps() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }

  private:
    std::mutex mutex_;
    std::vector<uint32_t> sleeps_;
    uint64_t now_ = 0;
};

// A whole world for one device operation.
struct Bench {
    FakeDeviceLibrary library;
    RecordingView view;
    FakeTexts texts;
    FakeCodec codec;
    FakeFiles files;
    FakeProfile profile;
    FakeClock clock;
    ProcessState state;
    MainWindowModel model;
    WorkerGate gate;
    Platform platform{profile, files, codec, clock};
    DeviceContext context{state, model, library, view, texts, platform, gate};

    Bench() {
        state.programFolder = L"C:\\QV\\";
        state.tempFolder = L"C:\\Temp\\";
        state.settings.APPTITLE = L"QV70 Device Manager";
        state.settings.DEVICE_ID_NAME = L"QV70 Loader";
        state.settings.MSC_ID_NAME = L"QV70 Tablet";
    }
};

} // namespace fakes
