#include "sim/faults.h"

namespace qvsim {

const std::vector<FaultInfo> &AllFaults() {
    static const std::vector<FaultInfo> faults = {
        {Fault::SwitchRefused, "switch-refused", 1, "QV_SwitchVeskUsb refuses the switch"},
        {Fault::NoVeskDevice, "no-vesk-device", 1,
         "after the switch the device vanishes (no kind 3, QVIsVeskUsbPlug false)"},
        {Fault::UpgradeResult, "upgrade-result", -1, "QV_Upgrade returns this value"},
        {Fault::NoLoaderDevice, "no-loader-device", 1,
         "after the reset that follows QV_Upgrade the device never comes back"},
        {Fault::DownloadFails, "download-fails", 1, "QV_DownloadImage fails half-way"},
        {Fault::EraseFails, "erase-fails", 1, "QV_EraseIDB fails"},
        {Fault::UnplugDuringDownload, "unplug-during-download", 1,
         "the device is pulled out half-way through the download"},
        {Fault::VersionUnreadable, "version-unreadable", 1, "QV_GetDeviceVersion fails"},
        {Fault::InstallDriverResult, "install-driver-result", 2,
         "QVInstallDriver returns this value and installs nothing"},
        {Fault::DriverSetupExit, "driver-setup-exit", 2,
         "DriverSetup.exe exits with this code and installs nothing"},
        {Fault::DriverSetupHang, "driver-setup-hang", 1, "DriverSetup.exe never ends"},
        {Fault::DriverIneffective, "driver-ineffective", 1,
         "the installers report success but install nothing"},
        {Fault::OldSoftwareBack, "old-software-back", 1,
         "after a download the device comes back with its old system version"},
    };
    return faults;
}

const char *FaultName(Fault fault) {
    for (const FaultInfo &info : AllFaults())
        if (info.fault == fault) return info.name;
    return "?";
}

bool FaultFromName(const std::string &name, Fault &fault) {
    for (const FaultInfo &info : AllFaults()) {
        if (name == info.name) {
            fault = info.fault;
            return true;
        }
    }
    return false;
}

int FaultDefaultValue(Fault fault) {
    for (const FaultInfo &info : AllFaults())
        if (info.fault == fault) return info.defaultValue;
    return 1;
}

} // namespace qvsim
