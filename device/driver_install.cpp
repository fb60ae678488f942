#include "device/driver_install.h"

#include "base/ansi_text.h"
#include "base/text_format.h"
#include "base/text_keys.h"
#include "device/gated_step.h"
#include "res/resource.h"

namespace {

constexpr uint16_t kWaitCount = 20;

// The switched device comes back as kind 3 once its driver is in place.
JobResult WaitForVeskUsbDevice(DeviceContext &context, JobResult failureCode) {
    int found = 0;
    if (!WatchedCall(context, job_step::kWaitDevice, [&] {
            ProcessState &state = context.state;
            found = context.library.QV_WaitDevice(&state.g_deviceInfo, QV_DEVICE_VESKUSB,
                                                  kWaitCount, state.g_supportUsb11);
        }))
        return kJobStoppedAtExit;
    return found != 0 ? kJobFinished : failureCode;
}

bool InstallerSucceeded(uint32_t code) {
    return code == 0 || code == 1;
}

JobResult RunInstallerProgram(DeviceContext &context, IProcessRunner &runner,
                              const DriverInstallTimes &times, const std::wstring &commandLine) {
    std::unique_ptr<IRunningProcess> process = runner.StartHidden(commandLine);
    if (!process) return kJobInstallerNotStarted;

    // Blocks the job thread outside the gate: an exit meanwhile need not wait
    // for the installer.
    process->Wait(times.installerWaitMs);
    uint32_t exitCode = kStillActive;
    for (int read = 0; read < times.exitCodeReads; ++read) {
        if (!process->GetExitCode(exitCode)) return kJobInstallerResultUnreadable;
        if (exitCode != kStillActive) break;
        context.platform.clock.SleepMs(times.exitCodeRetryMs);
    }
    if (exitCode == kStillActive) {
        process->Terminate(0);
        process->Close();
        return kJobInstallerTimedOut;
    }
    process->Close();
    if (!InstallerSucceeded(exitCode)) return kJobDriverNotInstalled;
    return WaitForVeskUsbDevice(context, kJobNoVeskUsbDevice);
}

JobResult RunLibraryInstaller(DeviceContext &context, const std::wstring &infPath) {
    JobResult code = kJobFinished;
    if (!RunGated(context.gate, [&] {
            AnsiBuffer inf;
            if (!WideToAnsi(context.platform.codec, infPath, inf)) {
                code = kJobDriverPathNotConvertible;
                return;
            }
            WatchedStep watched(context.watch, job_step::kInstallDriver,
                                context.platform.clock.TickMs());
            const int installed = context.library.QVInstallDriver(inf.data());
            code = (installed == 0 || installed == 1) ? kJobFinished : kJobDriverNotInstalled;
        }))
        return kJobStoppedAtExit;
    if (code != kJobFinished) return code;
    return WaitForVeskUsbDevice(context, kJobNoVeskUsbDevice);
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

JobResult EnterVeskUsbMode(DeviceContext &context, IProcessRunner &runner, ISystemInfo &system,
                           const DriverInstallTimes &times) {
    if (!RunGated(context.gate, [&] {
            context.view.SetItemText(
                IDC_DETAIL_LINE, FormatLangText(context.texts.Text(ids::kSwitchingToDownloadMode),
                                                context.state.g_settings.DEVICE_ID_NAME));
        }))
        return kJobStoppedAtExit;
    context.platform.clock.SleepMs(times.beforeSwitchMs);

    int switched = 0;
    if (!WatchedCall(context, job_step::kSwitch, [&] {
            switched = context.library.QV_SwitchVeskUsb(&context.state.g_deviceInfo);
        }))
        return kJobStoppedAtExit;
    if (switched == 0) return kJobSwitchFailed;

    // Told apart from every result: the device did not come back by itself.
    constexpr JobResult kNotBack = kJobNoVeskUsbDevice;
    const JobResult back = WaitForVeskUsbDevice(context, kNotBack);
    if (back != kNotBack) return back; // finished, or stopped at exit

    // Not back as kind 3: either it is not plugged in at all, or it is and
    // its driver is missing.
    int plugged = 0;
    std::wstring infPath;
    bool infExists = false;
    const DriverFolder driver = GetDriverFolder(system);
    if (!RunGated(context.gate, [&] {
            {
                WatchedStep watched(context.watch, job_step::kDriverCheck,
                                    context.platform.clock.TickMs());
                plugged = context.library.QVIsVeskUsbPlug();
            }
            if (plugged == 0) return;
            infPath = context.state.g_programFolder + driver.folder + kDriverInfFileName;
            infExists = context.platform.files.PathExists(infPath);
        }))
        return kJobStoppedAtExit;
    if (plugged == 0) return kJobNoVeskUsbDevice;
    if (!infExists) return kJobDriverFilesMissing;

    if (driver.windows64) {
        std::wstring commandLine;
        if (!RunGated(context.gate, [&] {
                commandLine = DriverSetupCommandLine(context.state.g_programFolder, infPath);
            }))
            return kJobStoppedAtExit;
        return RunInstallerProgram(context, runner, times, commandLine);
    }
    return RunLibraryInstaller(context, infPath);
}
