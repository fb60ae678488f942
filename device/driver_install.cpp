#include "device/driver_install.h"

#include "app/ansi_text.h"
#include "app/text_format.h"
#include "device/gated_step.h"
#include "res/resource.h"

namespace {

constexpr uint16_t kWaitCount = 20;

// The switched device comes back as kind 3 once its driver is in place.
int WaitForVeskUsbDevice(DeviceContext &context, int failureCode) {
    int found = 0;
    if (!RunGated(context.gate, [&] {
            ProcessState &state = context.state;
            found = context.library.QV_WaitDevice(&state.g_deviceInfo, QV_DEVICE_VESKUSB,
                                                  kWaitCount, state.g_supportUsb11);
        }))
        return kStoppedAtExit;
    return found != 0 ? 0 : failureCode;
}

bool InstallerSucceeded(uint32_t code) {
    return code == 0 || code == 1;
}

int RunInstallerProgram(DeviceContext &context, IProcessRunner &runner,
                        const DriverInstallTimes &times, const std::wstring &commandLine) {
    std::unique_ptr<IRunningProcess> process = runner.StartHidden(commandLine);
    if (!process) return -15;

    // Blocks the job thread outside the gate: an exit meanwhile need not wait
    // for the installer.
    process->Wait(times.installerWaitMs);
    uint32_t exitCode = kStillActive;
    for (int read = 0; read < times.exitCodeReads; ++read) {
        if (!process->GetExitCode(exitCode)) return -16;
        if (exitCode != kStillActive) break;
        context.platform.clock.SleepMs(times.exitCodeRetryMs);
    }
    if (exitCode == kStillActive) {
        process->Terminate(0);
        process->Close();
        return -17;
    }
    process->Close();
    if (!InstallerSucceeded(exitCode)) return -13;
    return WaitForVeskUsbDevice(context, -2);
}

int RunLibraryInstaller(DeviceContext &context, const std::wstring &infPath) {
    int code = 0;
    if (!RunGated(context.gate, [&] {
            AnsiBuffer inf;
            if (!WideToAnsi(context.platform.codec, infPath, inf)) {
                code = -12;
                return;
            }
            const int installed = context.library.QVInstallDriver(inf.data());
            code = (installed == 0 || installed == 1) ? 0 : -13;
        }))
        return kStoppedAtExit;
    if (code != 0) return code;
    return WaitForVeskUsbDevice(context, -2);
}

} // namespace

DriverFolder GetDriverFolder(ISystemInfo &system) {
    DriverFolder result;
    result.windows64 = system.ProcessIs64Bit() || system.IsWow64();
    uint32_t major = 0;
    uint32_t minor = 0;
    if (!system.GetWindowsVersion(major, minor)) return result;
    result.folder = result.windows64 ? L"Driver\\amd64\\" : L"Driver\\x86\\";
    if (major > 5)
        result.folder += (major == 6 && minor == 0) ? L"vista\\" : L"win7\\";
    else
        result.folder += (major == 5 && minor == 1) ? L"xp\\" : L"2000\\";
    return result;
}

std::wstring DriverSetupCommandLine(const std::wstring &programFolder,
                                    const std::wstring &infPath) {
    return L"\"" + programFolder + kDriverSetupFileName + L"\" -i qv70 \"" + infPath + L"\"";
}

int EnterVeskUsbMode(DeviceContext &context, IProcessRunner &runner, ISystemInfo &system,
                     const DriverInstallTimes &times) {
    if (!RunGated(context.gate, [&] {
            context.view.SetItemText(IDC_DETAIL_LINE,
                                     FormatLangText(context.texts.Text(L"IDS_6"),
                                                    context.state.settings.DEVICE_ID_NAME));
        }))
        return kStoppedAtExit;
    context.platform.clock.SleepMs(times.beforeSwitchMs);

    int switched = 0;
    if (!RunGated(context.gate, [&] {
            switched = context.library.QV_SwitchVeskUsb(&context.state.g_deviceInfo);
        }))
        return kStoppedAtExit;
    if (switched == 0) return -1;

    constexpr int kNotBack = 1;
    const int back = WaitForVeskUsbDevice(context, kNotBack);
    if (back != kNotBack) return back; // 0, or stopped at exit

    // Not back as kind 3: either it is not plugged in at all, or it is and
    // its driver is missing.
    int plugged = 0;
    std::wstring infPath;
    bool infExists = false;
    const DriverFolder driver = GetDriverFolder(system);
    if (!RunGated(context.gate, [&] {
            plugged = context.library.QVIsVeskUsbPlug();
            if (plugged == 0) return;
            infPath = context.state.programFolder + driver.folder + kDriverInfFileName;
            infExists = context.platform.files.PathExists(infPath);
        }))
        return kStoppedAtExit;
    if (plugged == 0) return -2;
    if (!infExists) return -11;

    if (driver.windows64) {
        std::wstring commandLine;
        if (!RunGated(context.gate, [&] {
                commandLine = DriverSetupCommandLine(context.state.programFolder, infPath);
            }))
            return kStoppedAtExit;
        return RunInstallerProgram(context, runner, times, commandLine);
    }
    return RunLibraryInstaller(context, infPath);
}
