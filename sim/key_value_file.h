// The text form of the bench files: one "key=value" a line, "#" starts a
// comment line, blanks around keys and values are ignored. Small, readable
// and easy to edit by hand while the program runs.
#pragma once

#include <map>
#include <string>

namespace qvsim {

using KeyValues = std::map<std::string, std::string>;

KeyValues ParseKeyValues(const std::string &text);
// heading: comment lines put before the values ("# " is added to each line).
std::string FormatKeyValues(const KeyValues &values, const std::string &heading);

} // namespace qvsim
