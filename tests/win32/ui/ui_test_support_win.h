// Shared by the Win32 tests of the windows: temporary folders and files, a
// recording device library, scripted answers to message boxes, and the
// dialog templates as the resource compiler wrote them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/platform_win.h"
#include "device/device_library.h"

// A fresh folder under the temporary folder, removed with its files.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    // Ends in a backslash.
    const std::wstring &Path() const { return m_path; }

  private:
    std::wstring m_path;
};

// Writes a text file as UTF-16 with a byte-order mark, as profile files may be.
void WriteUtf16File(const std::wstring &path, const std::wstring &text);
// A 24-bit bitmap file of one colour.
void WriteBitmapFile(const std::wstring &path, int width, int height, COLORREF colour);
std::wstring FolderOfThisProgram();

// Records the calls the window makes; finds no device unless told how to
// search.
class RecordingLibrary : public IDeviceLibrary {
  public:
    int DllInitialize() override { return ++initCalls, 1; }
    int DllDeInitialize() override { return ++deinitCalls, 1; }
    int SetLogPath(const char *) override { return 1; }
    int SetLoaderRestoreFlag(int) override { return 1; }
    int SetEraseUserSection(int) override { return 1; }
    int SetMainWindowHwnd(HWND window) override {
        mainWindow = window;
        return 1;
    }
    int SetVidPid(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint16_t e, uint16_t f) override {
        vidPid = {a, b, c, d, e, f};
        return 1;
    }
    int QV_FindDevice(DEVICE_INFO *info, int) override { return search ? search(info) : 0; }
    int QV_GetDeviceVersion(DEVICE_INFO *, ANDROID_VERSION *) override { return 0; }
    int QV_GetImageSize(const char *, uint32_t *) override { return 0; }
    int QV_GetLoaderVersion(const char *, uint16_t *) override { return 0; }
    int QV_GetSystemVersion(const char *, uint32_t *) override { return 0; }
    int ExtractLoaderFile(const char *, const char *) override { return 0; }
    int QV_EraseIDB(DEVICE_INFO *, uint16_t, int, const char *) override { return 0; }
    int QV_Upgrade(DEVICE_INFO *, uint32_t, uint32_t, uint32_t, const char *, int, int) override {
        return -1;
    }
    int QV_ResetDevice(DEVICE_INFO *) override { return 0; }
    int QV_WaitDevice(DEVICE_INFO *, int, uint16_t, int) override { return 0; }
    int QV_DownloadImage(DEVICE_INFO *, const char *) override { return 0; }
    int QV_SwitchVeskUsb(DEVICE_INFO *) override { return 0; }
    int QVIsVeskUsbPlug() override { return 0; }
    int QVInstallDriver(const char *) override { return 0; }

    // Runs on the watcher's thread: fills the record, returns the count.
    std::function<int(DEVICE_INFO *)> search;
    int initCalls = 0;
    int deinitCalls = 0;
    HWND mainWindow = nullptr;
    std::vector<uint16_t> vidPid;
};

// Message boxes answered from a queue, each recorded; with the queue empty a
// yes/no box is answered No and any other box OK.
struct ShownBox {
    std::wstring text;
    std::wstring caption;
    unsigned style = 0;
    HWND owner = nullptr;
};
class ScriptedBoxes {
  public:
    // Stands for Enter in the answers: the box's default button.
    static constexpr int kPressEnter = -1;

    int Show(HWND owner, const std::wstring &text, const std::wstring &caption, unsigned style);
    std::deque<int> answers;
    std::vector<ShownBox> shown;
};

// One dialog template as compiled into this program's resources.
struct TemplateItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring className; // "Button", "Edit", "Static", ... or the name given
    std::wstring title;
    int titleOrdinal = -1; // a resource id given as the title (pictures)
};
struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int fontSize = 0;
    std::wstring fontName;
    std::vector<TemplateItem> items;
};
// False when the template is missing or not an extended template.
bool ReadDialogTemplate(int templateId, DialogTemplate &out);

// The program's own platform services, on the real files and clock.
struct TestPlatform {
    ProfileReaderWin profile;
    FileSystemWin files;
    TextCodecWin codec;
    ClockWin clock;
    Platform platform{profile, files, codec, clock};
};

// Handles the thread's messages for about the given time.
void PumpMessages(DWORD milliseconds);

// How many kernel handles this process holds; -1 when it cannot be told.
// Wine answers GetProcessHandleCount with 0, so the system's handle list is
// counted there instead.
long ProcessHandleCount();
