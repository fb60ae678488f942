#include "sim/host.h"

namespace qvsim {

std::filesystem::path ToolBenchFolder() {
    const auto value = EnvironmentValue(kBenchVariable);
    if (value && !value->empty()) return std::filesystem::u8path(*value);
    return ExecutableFolder() / kBenchFolderName;
}

} // namespace qvsim
