// A long run of the real program: one job after another on the unthrottled
// bench, of every kind a technician meets (successes, every fault of the
// bench, the questions answered both ways, a device pulled out during the
// download), and what the process holds between them. Shared by the leak
// test (a few jobs, strict bounds) and the soak benchmark (a hundred).
#pragma once

#include <windows.h>

#include <string>

#include "tests/e2e/program_run_win.h"

namespace e2e {

// What the program's process holds at one moment.
struct ResourceSample {
    int jobs = 0;          // jobs finished when it was taken
    DWORD handles = 0;     // kernel handles (GetProcessHandleCount)
    DWORD gdiObjects = 0;  // GetGuiResources GR_GDIOBJECTS
    DWORD userObjects = 0; // GetGuiResources GR_USEROBJECTS
    DWORD windows = 0;     // windows of the process, top-level and child
    DWORD threads = 0;
    SIZE_T workingSet = 0;
    SIZE_T privateBytes = 0;
};

ResourceSample SampleResources(HANDLE process, DWORD processId, int jobs);
// One line of figures, with the growth against a reference sample.
std::string Describe(const ResourceSample &sample, const ResourceSample *since = nullptr);

class SoakRun {
  public:
    // The jobs repeat in blocks of this many; some cases of the last job of
    // a block change from block to block, so that every fault comes round.
    static constexpr int kBlock = 10;

    // withHang: the blocks include the driver installer that never ends (half
    // a minute each time), for the long benchmark only.
    explicit SoakRun(ProgramRun &run, bool withHang = false) : m_run(run), m_withHang(withHang) {}

    // Runs job number n (from 0) of the sequence to its verdict; false, with
    // a test failure, when the program did not behave as the case expects.
    bool RunJob(int n);
    // The name of job n's case, for the figures.
    std::string CaseName(int n) const;

  private:
    ProgramRun &m_run;
    bool m_withHang;
};

} // namespace e2e
