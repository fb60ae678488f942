// Failures that the bench can be told to produce. Each stays in force until
// it is cleared, so a test sees the same failure however often it asks.
#pragma once

#include <string>
#include <vector>

namespace qvsim {

enum class Fault {
    SwitchRefused,        // QV_SwitchVeskUsb returns 0
    NoVeskDevice,         // after the switch the device vanishes: no kind 3, not plugged
    UpgradeResult,        // QV_Upgrade returns the value (-1, -2, -3, -4 or any other)
    NoLoaderDevice,       // after the reset that follows QV_Upgrade the device never returns
    DownloadFails,        // QV_DownloadImage stops half-way and returns 0
    EraseFails,           // QV_EraseIDB returns 0
    UnplugDuringDownload, // the device is pulled out half-way through the download
    VersionUnreadable,    // QV_GetDeviceVersion returns 0
    InstallDriverResult,  // QVInstallDriver returns the value without installing
    DriverSetupExit,      // DriverSetup.exe exits with the value without installing
    DriverSetupHang,      // DriverSetup.exe never ends
    DriverIneffective,    // both installers report success but install nothing
    OldSoftwareBack,      // after the download's reset the device keeps its old system version
};

struct FaultInfo {
    Fault fault;
    const char *name;
    int defaultValue; // the value it has when set without one
    const char *description;
};

const std::vector<FaultInfo> &AllFaults();
const char *FaultName(Fault fault);
bool FaultFromName(const std::string &name, Fault &fault);
int FaultDefaultValue(Fault fault);

} // namespace qvsim
