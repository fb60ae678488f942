#include "sim/key_value_file.h"

#include <sstream>

namespace qvsim {

namespace {

std::string Trim(const std::string &text) {
    const char *blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

} // namespace

KeyValues ParseKeyValues(const std::string &text) {
    KeyValues values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
        const size_t equals = trimmed.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = Trim(trimmed.substr(0, equals));
        if (!key.empty()) values[key] = Trim(trimmed.substr(equals + 1));
    }
    return values;
}

std::string FormatKeyValues(const KeyValues &values, const std::string &heading) {
    std::string text;
    std::istringstream lines(heading);
    std::string line;
    while (std::getline(lines, line))
        text += "# " + line + "\n";
    for (const auto &[key, value] : values)
        text += key + "=" + value + "\n";
    return text;
}

} // namespace qvsim
