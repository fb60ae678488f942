// What the console tools need from the system they run on: their arguments
// as UTF-8, the environment, and their own folder. host.cpp serves POSIX
// systems, host_win.cpp Windows.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qvsim {

// argv without the program name, as UTF-8.
std::vector<std::string> ToolArguments(int argc, char **argv);
std::optional<std::string> EnvironmentValue(const char *name);
std::filesystem::path ExecutableFolder();
// Waits for ever, for the DriverSetup.exe that must never end.
[[noreturn]] void WaitForever();

// The environment variable naming the bench folder, and the folder beside the
// library (and the tools) used when it is not set.
constexpr const char *kBenchVariable = "QVSIM_BENCH";
constexpr const char *kBenchFolderName = "Bench";

// The bench of a tool: the variable when it is set, else Bench beside it.
std::filesystem::path ToolBenchFolder();

} // namespace qvsim
