// The qvsim console tool: plugs and unplugs virtual devices, changes them,
// sets the bench's delays, speed, questions and faults, prints the bench and
// its log. The tool's main only supplies the arguments and the default bench.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace qvsim {

// Exit codes: 0 done, 1 failed (unknown device, unwritable bench), 2 usage.
int RunQvsim(const std::vector<std::string> &args, const std::filesystem::path &defaultBench,
             std::ostream &out, std::ostream &err);

} // namespace qvsim
