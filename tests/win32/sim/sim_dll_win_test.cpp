// The built QVAndroidDLL.dll through the program's loader: the whole job on a
// virtual device, the questions answered by a real window on its own thread,
// hot-plug while searching, every fault, and the driver installer program.
#include "device/device_library_win.h"
#include "sim/bench.h"
#include "tests/win32/sim/win_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace qvsim;
using namespace std::chrono_literals;
using qvsim_test::TempFolder;

namespace {

constexpr uint64_t kPayload = 1 << 20;

IDeviceLibrary &Library() {
    static std::unique_ptr<LoadedDeviceLibrary> library = [] {
        std::wstring error;
        auto loaded = LoadedDeviceLibrary::Load(qvsim_win_test::ProgramFolder(), error);
        if (!loaded) ADD_FAILURE() << std::string(error.begin(), error.end());
        return loaded;
    }();
    return *library;
}

// The main window's stand-in: a real window on a thread of its own that
// answers WM_DEVICE_PROMPT with a fixed answer and notes what it was asked.
class PromptWindow {
  public:
    explicit PromptWindow(int32_t answer) : m_answer(answer) {
        std::promise<HWND> created;
        auto handle = created.get_future();
        m_thread = std::thread([this, &created] { Run(created); });
        m_window = handle.get();
    }
    ~PromptWindow() {
        PostMessageW(m_window, WM_CLOSE, 0, 0);
        m_thread.join();
    }
    HWND Handle() const { return m_window; }
    std::vector<int> Kinds() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_kinds;
    }
    bool AnsweredOnItsOwnThread() const { return m_answeredElsewhere == 0 && m_threadId != 0; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto *self = reinterpret_cast<PromptWindow *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_DEVICE_PROMPT && self) {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_kinds.push_back(int(wParam));
            if (GetCurrentThreadId() != self->m_threadId) ++self->m_answeredElsewhere;
            *reinterpret_cast<int32_t *>(lParam) = self->m_answer;
            return 0;
        }
        if (message == WM_DESTROY) PostQuitMessage(0);
        return DefWindowProcW(window, message, wParam, lParam);
    }

    void Run(std::promise<HWND> &created) {
        m_threadId = GetCurrentThreadId();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QvsimPromptWindow";
        RegisterClassW(&windowClass); // fails harmlessly when already registered
        HWND window = CreateWindowW(L"QvsimPromptWindow", L"prompt", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                    100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        created.set_value(window);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
    }

    int32_t m_answer;
    HWND m_window = nullptr;
    std::thread m_thread;
    DWORD m_threadId = 0;
    std::mutex m_mutex;
    std::vector<int> m_kinds;
    int m_answeredElsewhere = 0;
};

class SimDll : public ::testing::Test {
  public:
    TempFolder folder;
    Bench bench{folder / "bench"};
    qvsim_win_test::BenchEnvironment environment{bench.Folder()};
    IDeviceLibrary &library = Library();
    std::string image = (folder / "new.img").string();
    std::string loader = (folder / "QVBOOT.BIN").string();
    DEVICE_INFO device{};

    void SetUp() override {
        library.DllInitialize(); // also ends a release left by an earlier test
        library.SetMainWindowHwnd(nullptr);
        qvsim_test::MakeFastBench(bench);
        ASSERT_FALSE(qvsim_test::MakeImage(image, 0x0206, 0x01020003, kPayload).empty());
        ASSERT_EQ(library.ExtractLoaderFile(image.c_str(), loader.c_str()), 1);
    }

    int32_t PlugAndFind(const DeviceSetup &setup = DeviceSetup()) {
        const int32_t id = bench.Plug(setup);
        EXPECT_EQ(library.QV_FindDevice(&device, 0), 1);
        return id;
    }
    int Upgrade() {
        const uint32_t size = uint32_t(std::filesystem::file_size(image));
        return library.QV_Upgrade(&device, size, size % 65536, 0, loader.c_str(), 0, 0);
    }
};

TEST_F(SimDll, TheWholeJobLeavesTheNewSystemOnTheDevice) {
    const int32_t id = PlugAndFind();
    ASSERT_EQ(device.deviceType, QV_DEVICE_MSC);
    uint32_t size = 0;
    ASSERT_EQ(library.QV_GetImageSize(image.c_str(), &size), 1);

    ASSERT_EQ(library.QV_SwitchVeskUsb(&device), 1);
    ASSERT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_VESKUSB, 20, 0), 1);
    ASSERT_EQ(library.QV_Upgrade(&device, size, size % 65536, 0, loader.c_str(), 0, 0), 0);
    library.QV_ResetDevice(&device);
    ASSERT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_LOADER, 20, 0), 1);
    ASSERT_EQ(library.QV_DownloadImage(&device, image.c_str()), 1);
    library.QV_ResetDevice(&device);
    ASSERT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_MSC, 20, 0), 1);

    ANDROID_VERSION version{};
    ASSERT_EQ(library.QV_GetDeviceVersion(&device, &version), 1);
    EXPECT_STREQ(version.systemVersion, "1.2.3");
    EXPECT_STREQ(version.loaderVersion, "2.06");
    EXPECT_EQ(qvsim_test::ReadAll(bench.StoragePath(id)), qvsim_test::PayloadOf(kPayload));
}

TEST_F(SimDll, QuestionsAreAnsweredByTheWindowOnItsOwnThread) {
    for (int32_t answer : {0, 1}) {
        SCOPED_TRACE(answer);
        bench.UnplugAll();
        const int32_t id = PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB, "3.00"));
        PromptWindow window(answer);
        library.SetMainWindowHwnd(window.Handle());
        EXPECT_EQ(Upgrade(), answer ? 0 : -4);
        EXPECT_EQ(window.Kinds(), std::vector<int>{0});
        EXPECT_TRUE(window.AnsweredOnItsOwnThread());
        EXPECT_EQ(bench.Device(id)->setup.loaderVersion, answer ? "2.06" : "3.00");
        library.SetMainWindowHwnd(nullptr);
    }
}

TEST_F(SimDll, TheBenchCanAskEveryKindOfQuestion) {
    bench.UpdateSettings([](BenchSettings &s) { s.questions = {0, 1, 2}; });
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB));
    PromptWindow window(1);
    library.SetMainWindowHwnd(window.Handle());
    ASSERT_EQ(Upgrade(), 0);
    library.QV_ResetDevice(&device);
    ASSERT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_LOADER, 20, 0), 1);
    ASSERT_EQ(library.QV_DownloadImage(&device, image.c_str()), 1);
    EXPECT_EQ(window.Kinds(), (std::vector<int>{0, 1, 2}));
    library.SetMainWindowHwnd(nullptr);
}

TEST_F(SimDll, SearchesFollowDevicesPluggedInAndOutMeanwhile) {
    std::atomic<bool> done{false};
    std::atomic<int> ones{0}, twos{0}, nones{0}, bad{0};
    std::thread watcher([&] {
        while (!done) {
            DEVICE_INFO found{};
            switch (library.QV_FindDevice(&found, 0)) {
            case 0:
                ++nones;
                break;
            case 1:
                found.identity >= 1 && found.identity <= 2 ? ++ones : ++bad;
                break;
            case 2:
                ++twos;
                break;
            default:
                ++bad;
            }
            Sleep(1);
        }
    });
    for (int round = 0; round < 10; ++round) {
        bench.Plug(qvsim_test::Setup(QV_DEVICE_MSC, "2.05", 1));
        Sleep(20);
        bench.Plug(qvsim_test::Setup(QV_DEVICE_LOADER, "2.05", 2));
        Sleep(20);
        bench.Unplug(1);
        Sleep(20);
        bench.UnplugAll();
        Sleep(20);
    }
    done = true;
    watcher.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(ones, 0);
    EXPECT_GT(twos, 0);
    EXPECT_GT(nones, 0);
}

TEST_F(SimDll, TwoDevicesAreCountedAsSuch) {
    bench.Plug(DeviceSetup());
    bench.Plug(DeviceSetup());
    EXPECT_EQ(library.QV_FindDevice(&device, 0), 2);
}

TEST_F(SimDll, EachFaultFailsItsStep) {
    struct Case {
        const char *name;
        DeviceSetup device;
        std::function<void(SimDll &)> check;
    };
    const Case cases[] = {
        {"switch-refused", DeviceSetup(),
         [](SimDll &t) { EXPECT_EQ(t.library.QV_SwitchVeskUsb(&t.device), 0); }},
        {"no-vesk-device", DeviceSetup(),
         [](SimDll &t) {
             EXPECT_EQ(t.library.QV_SwitchVeskUsb(&t.device), 1);
             EXPECT_EQ(t.library.QV_WaitDevice(&t.device, QV_DEVICE_VESKUSB, 20, 0), 0);
             EXPECT_EQ(t.library.QVIsVeskUsbPlug(), 0);
         }},
        {"upgrade-result=-1", qvsim_test::Setup(QV_DEVICE_VESKUSB),
         [](SimDll &t) { EXPECT_EQ(t.Upgrade(), -1); }},
        {"upgrade-result=-2", qvsim_test::Setup(QV_DEVICE_VESKUSB),
         [](SimDll &t) { EXPECT_EQ(t.Upgrade(), -2); }},
        {"upgrade-result=-3", qvsim_test::Setup(QV_DEVICE_VESKUSB),
         [](SimDll &t) { EXPECT_EQ(t.Upgrade(), -3); }},
        {"upgrade-result=-4", qvsim_test::Setup(QV_DEVICE_VESKUSB),
         [](SimDll &t) { EXPECT_EQ(t.Upgrade(), -4); }},
        {"upgrade-result=7", qvsim_test::Setup(QV_DEVICE_VESKUSB),
         [](SimDll &t) { EXPECT_EQ(t.Upgrade(), 7); }},
        {"no-loader-device", qvsim_test::Setup(QV_DEVICE_VESKUSB),
         [](SimDll &t) {
             ASSERT_EQ(t.Upgrade(), 0);
             t.library.QV_ResetDevice(&t.device);
             EXPECT_EQ(t.library.QV_WaitDevice(&t.device, QV_DEVICE_LOADER, 20, 0), 0);
         }},
        {"download-fails", qvsim_test::Setup(QV_DEVICE_LOADER),
         [](SimDll &t) {
             EXPECT_EQ(t.library.QV_DownloadImage(&t.device, t.image.c_str()), 0);
             EXPECT_FALSE(std::filesystem::exists(t.bench.StoragePath(t.device.identity)));
         }},
        {"unplug-during-download", qvsim_test::Setup(QV_DEVICE_LOADER),
         [](SimDll &t) {
             EXPECT_EQ(t.library.QV_DownloadImage(&t.device, t.image.c_str()), 0);
             EXPECT_FALSE(std::filesystem::exists(t.bench.StoragePath(t.device.identity)));
             EXPECT_EQ(t.library.QV_FindDevice(&t.device, 0), 0);
         }},
        {"erase-fails", qvsim_test::Setup(QV_DEVICE_LOADER),
         [](SimDll &t) {
             EXPECT_EQ(t.library.QV_EraseIDB(&t.device, 20, 0, t.loader.c_str()), 0);
         }},
        {"version-unreadable", DeviceSetup(),
         [](SimDll &t) {
             ANDROID_VERSION version{};
             EXPECT_EQ(t.library.QV_GetDeviceVersion(&t.device, &version), 0);
         }},
        {"install-driver-result=2", DeviceSetup(),
         [](SimDll &t) {
             t.bench.SetDriverInstalled(false);
             const auto inf = qvsim_win_test::ProgramFolder() + L"Driver\\x86\\win7\\qv70usb.inf";
             EXPECT_EQ(t.library.QVInstallDriver(std::string(inf.begin(), inf.end()).c_str()), 2);
             EXPECT_FALSE(t.bench.Settings().driverInstalled);
         }},
        {"driver-ineffective", DeviceSetup(),
         [](SimDll &t) {
             t.bench.SetDriverInstalled(false);
             const auto inf = qvsim_win_test::ProgramFolder() + L"Driver\\x86\\win7\\qv70usb.inf";
             EXPECT_EQ(t.library.QVInstallDriver(std::string(inf.begin(), inf.end()).c_str()), 1);
             EXPECT_FALSE(t.bench.Settings().driverInstalled);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bench.UnplugAll();
        bench.ClearFaults();
        PlugAndFind(c.device);
        std::string name = c.name, value;
        if (name.find('=') != std::string::npos) {
            value = name.substr(name.find('=') + 1);
            name.resize(name.find('='));
        }
        Fault fault;
        ASSERT_TRUE(FaultFromName(name, fault));
        bench.SetFault(fault, value.empty() ? std::optional<int>() : std::stoi(value));
        c.check(*this);
    }
}

TEST_F(SimDll, TheLogFolderGetsTheCallsAndTheBenchLogTheErase) {
    const auto logFolder = folder / "Log";
    ASSERT_EQ(library.SetLogPath(logFolder.string().c_str()), 1);
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_LOADER));
    ASSERT_EQ(library.QV_EraseIDB(&device, 20, 0, loader.c_str()), 1);
    const std::string log = qvsim_test::ReadAll(logFolder / "QVAndroidDLL.log");
    EXPECT_NE(log.find("QV_EraseIDB(device 1, 20, 0"), std::string::npos) << log;
    EXPECT_NE(bench.ReadLog().find("device 1: IDB erased"), std::string::npos);
}

TEST_F(SimDll, ReleaseDuringADownloadFailsItWithoutWritingTheDevice) {
    bench.UpdateSettings([](BenchSettings &s) { s.downloadBytesPerSecond = 1 << 20; });
    const int32_t id = PlugAndFind(qvsim_test::Setup(QV_DEVICE_LOADER));
    auto download = std::async(std::launch::async,
                               [&] { return library.QV_DownloadImage(&device, image.c_str()); });
    Sleep(300);
    library.DllDeInitialize();
    ASSERT_EQ(download.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(download.get(), 0);
    EXPECT_FALSE(std::filesystem::exists(bench.StoragePath(id)));
    EXPECT_EQ(bench.Device(id)->stage, Stage::Idle);
}

// Runs a program beside the test, hidden, as the program starts DriverSetup.Exe.
DWORD RunBeside(const std::wstring &arguments, DWORD waitMs, bool &ended,
                const wchar_t *program = L"DriverSetup.Exe") {
    const std::wstring folder = qvsim_win_test::ProgramFolder();
    std::wstring command = L"\"" + folder + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "the program did not start";
        ended = false;
        return 0;
    }
    ended = WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0;
    DWORD code = 0;
    if (!ended)
        TerminateProcess(process.hProcess, 0);
    else
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class DriverSetupProgram : public SimDll {
  public:
    DWORD Run(DWORD waitMs, bool &ended) {
        return RunBeside(L"-i qv70 \"" + qvsim_win_test::ProgramFolder() +
                             L"Driver\\amd64\\win7\\qv70usb.inf\"",
                         waitMs, ended);
    }
};

TEST_F(DriverSetupProgram, InstallsTheDriverIntoTheBench) {
    bench.SetDriverInstalled(false);
    bool ended = false;
    EXPECT_EQ(Run(20000, ended), 0u);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(bench.Settings().driverInstalled);
}

TEST_F(DriverSetupProgram, FailsOrHangsWhenTheBenchSaysSo) {
    bench.SetDriverInstalled(false);
    bench.SetFault(Fault::DriverSetupExit, 2);
    bool ended = false;
    EXPECT_EQ(Run(20000, ended), 2u);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(bench.Settings().driverInstalled);

    bench.ClearFaults();
    bench.SetFault(Fault::DriverSetupHang);
    Run(1500, ended);
    EXPECT_FALSE(ended);
    EXPECT_FALSE(bench.Settings().driverInstalled);
}

} // namespace

namespace {

TEST_F(SimDll, TheToolsWorkOnTheSameBench) {
    bool ended = false;
    EXPECT_EQ(RunBeside(L"plug kind=2 loader=1.300", 20000, ended, L"qvsim.exe"), 0u);
    ASSERT_EQ(bench.Devices().size(), 1u);
    EXPECT_EQ(bench.Devices()[0].setup.loaderVersion, "1.300");
    EXPECT_EQ(library.QV_FindDevice(&device, 0), 1);

    const std::wstring made = (folder / "tool.img").wstring();
    EXPECT_EQ(
        RunBeside(L"create \"" + made + L"\" loader=2.07 size=64K", 20000, ended, L"qvimage.exe"),
        0u);
    uint16_t version = 0;
    ASSERT_EQ(library.QV_GetLoaderVersion((folder / "tool.img").string().c_str(), &version), 1);
    EXPECT_EQ(version, 0x0207);
    EXPECT_EQ(RunBeside(L"inspect \"" + made + L"\"", 20000, ended, L"qvimage.exe"), 0u);
    std::filesystem::resize_file(folder / "tool.img", 1000);
    EXPECT_EQ(RunBeside(L"inspect \"" + made + L"\"", 20000, ended, L"qvimage.exe"), 1u);
}

// Every file shipped beside the program says what it is, its version and
// its copyright, as Explorer's Properties show them.
TEST(ShippedFiles, CarryVersionInformation) {
    for (const wchar_t *name :
         {L"QVAndroidDLL.dll", L"DriverSetup.exe", L"qvsim.exe", L"qvimage.exe"}) {
        const std::wstring path = qvsim_win_test::ProgramFolder() + name;
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u);
        std::vector<BYTE> data(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
        auto value = [&](const wchar_t *key) {
            wchar_t *text = nullptr;
            UINT length = 0;
            const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
            if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void **>(&text),
                                &length) ||
                text == nullptr)
                return std::wstring();
            return std::wstring(text);
        };
        EXPECT_EQ(value(L"FileVersion"), L"1.2.0.3");
        EXPECT_FALSE(value(L"FileDescription").empty());
        EXPECT_EQ(value(L"LegalCopyright").rfind(L"Copyright", 0), 0u);
        EXPECT_EQ(_wcsicmp(value(L"OriginalFilename").c_str(), name), 0);
    }
}

} // namespace
