// Helpers of the Win32 tests of the device library: the test program's own
// folder (where the built library lies) and a bench of its own per test.
#pragma once

#include <windows.h>

#include "tests/unit/sim/sim_test_support.h"

#include <string>

namespace qvsim_win_test {

// With the trailing backslash, as the program's folder is handed to the loader.
inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// Points the library (and the programs started from here) at a bench of the
// test's own, and back at nothing afterwards.
class BenchEnvironment {
  public:
    explicit BenchEnvironment(const std::filesystem::path &folder) {
        SetEnvironmentVariableW(L"QVSIM_BENCH", folder.wstring().c_str());
    }
    ~BenchEnvironment() { SetEnvironmentVariableW(L"QVSIM_BENCH", nullptr); }
    BenchEnvironment(const BenchEnvironment &) = delete;
    BenchEnvironment &operator=(const BenchEnvironment &) = delete;
};

} // namespace qvsim_win_test
