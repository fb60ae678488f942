#include "sim/host.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace qvsim {

std::vector<std::string> ToolArguments(int argc, char **argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::optional<std::string> EnvironmentValue(const char *name) {
    const char *value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path(ec) : self.parent_path();
}

void WaitForever() {
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

} // namespace qvsim
