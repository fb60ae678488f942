// The qvimage console tool: creates firmware images of our own format and
// inspects them (docs/firmware-image.md).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qvsim {

// Exit codes: 0 done (inspect: the image is sound), 1 failed or refused, 2 usage.
int RunQvimage(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace qvsim
