// Installing the host's VeskUsb driver into the bench, shared by the
// library's QVInstallDriver and the simulated DriverSetup.exe.
#pragma once

#include "sim/bench.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace qvsim {

// The driver information file that ships in the Driver tree names the
// package; any other file is refused.
bool IsDriverInformationFile(const std::filesystem::path &inf);

// Checks the file and marks the driver installed, unless the
// driver-ineffective fault says to pretend. False with the reason when the
// file is not usable.
bool InstallDriver(Bench &bench, const std::filesystem::path &inf, std::string &why);

// DriverSetup.exe: "DriverSetup.Exe -i qv70 <inf>". Returns the exit code;
// kDriverSetupHangs when the driver-setup-hang fault asks it never to end.
constexpr int kDriverSetupHangs = -1000;
int RunDriverSetup(const std::vector<std::string> &args, Bench &bench, std::ostream &err);

} // namespace qvsim
