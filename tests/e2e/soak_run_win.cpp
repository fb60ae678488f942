#include "tests/e2e/soak_run_win.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <utility>
#include <vector>

#include "res/resource.h"

namespace e2e {

namespace {

using qvsim::Fault;

constexpr int kDefaultValue = INT_MIN; // a fault set without a value of its own
constexpr int kSoakDeviceId = 7;

struct SoakCase {
    const char *name;
    int button; // IDC_UPGRADE or IDC_REPAIR
    int kind;   // of the device plugged in for it
    int code;   // the verdict's result code; 0 for success
    std::vector<std::pair<Fault, int>> faults = {};
    bool driverInstalled = true;
    int eraseIdb = 0;
    std::vector<int> questions = {}; // the library asks these during the job
    std::vector<int> answers = {};   // and is answered so, in order
    const char *loader = "2.05";
    // The final question is answered No once before the job starts.
    bool firstNo = false;
    // The device's loader is newer than the image's: the program asks before
    // the job; answered No once, then Yes.
    bool programLoaderQuestion = false;
};

std::vector<SoakCase> FixedCases() {
    return {
        {"upgrade", IDC_UPGRADE, 2, 0, {}, true, 0, {}, {}, "2.05", true},
        {"repair-with-erase", IDC_REPAIR, 2, 0, {}, true, 1},
        {"upgrade-installing-the-driver", IDC_UPGRADE, 4, 0, {}, false},
        {"repair-questions-yes", IDC_REPAIR, 2, 0, {}, true, 0, {1, 2}, {IDYES, IDYES}},
        {"upgrade-question-1-no", IDC_UPGRADE, 2, -3, {}, true, 0, {1}, {IDNO}},
        {"repair-upgrade-result", IDC_REPAIR, 2, 0, {}}, // the result rotates, see CaseFor
        {"upgrade-no-loader-device", IDC_UPGRADE, 2, -8, {{Fault::NoLoaderDevice, kDefaultValue}}},
        {"repair-download-fails", IDC_REPAIR, 2, -9, {{Fault::DownloadFails, kDefaultValue}}},
        {"upgrade-unplugged-in-download",
         IDC_UPGRADE,
         2,
         -9,
         {{Fault::UnplugDuringDownload, kDefaultValue}}},
    };
}

// The last job of each block: one of these in turn.
std::vector<SoakCase> RotatingCases(bool withHang) {
    std::vector<SoakCase> cases = {
        {"upgrade-switch-refused", IDC_UPGRADE, 4, -1, {{Fault::SwitchRefused, kDefaultValue}}},
        {"repair-no-vesk-device", IDC_REPAIR, 4, -2, {{Fault::NoVeskDevice, kDefaultValue}}},
        {"upgrade-driver-setup-fails", IDC_UPGRADE, 4, -13, {{Fault::DriverSetupExit, 2}}, false},
        {"repair-driver-ineffective",
         IDC_REPAIR,
         4,
         -2,
         {{Fault::DriverIneffective, kDefaultValue}},
         false},
        {"repair-erase-fails", IDC_REPAIR, 2, -14, {{Fault::EraseFails, kDefaultValue}}, true, 1},
        {"upgrade-versions-unreadable",
         IDC_UPGRADE,
         4,
         0,
         {{Fault::VersionUnreadable, kDefaultValue}}},
        {"repair-question-2-no", IDC_REPAIR, 2, -9, {}, true, 0, {2}, {IDNO}},
        {"upgrade-newer-device-loader",
         IDC_UPGRADE,
         4,
         0,
         {},
         true,
         0,
         {},
         {},
         "2.10",
         false,
         true},
        {"upgrade-library-loader-question", IDC_UPGRADE, 2, 0, {}, true, 0, {}, {IDYES}, "2.10"},
    };
    if (withHang)
        cases.push_back({"repair-driver-setup-hangs",
                         IDC_REPAIR,
                         4,
                         -17,
                         {{Fault::DriverSetupHang, kDefaultValue}},
                         false});
    return cases;
}

SoakCase CaseFor(int n, bool withHang) {
    const int slot = n % SoakRun::kBlock;
    const int block = n / SoakRun::kBlock;
    const std::vector<SoakCase> fixed = FixedCases();
    if (slot < static_cast<int>(fixed.size())) {
        SoakCase c = fixed[slot];
        if (std::string(c.name) == "repair-upgrade-result") {
            // QV_Upgrade's failures in turn, each with its own verdict.
            static const std::pair<int, int> results[] = {
                {-4, -3}, {-1, -4}, {-2, -5}, {-3, -6}, {5, -7}};
            const auto &result = results[block % 5];
            c.faults = {{Fault::UpgradeResult, result.first}};
            c.code = result.second;
        }
        return c;
    }
    const std::vector<SoakCase> rotating = RotatingCases(withHang);
    return rotating[block % rotating.size()];
}

std::string Narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Waits for the program's next box, checks its text and answers it; a box
// with other words is answered all the same, so that the run goes on.
bool AnswerBox(ProgramRun &run, const std::wstring &text, int answer, const std::string &what,
               milliseconds timeout = milliseconds(10000)) {
    MessageBoxInfo box;
    if (!run.Robot().WaitForMessageBox(box, timeout)) {
        ADD_FAILURE() << what << ": no box \"" << Narrow(text) << "\"";
        return false;
    }
    EXPECT_EQ(Narrow(box.text), Narrow(text)) << what;
    run.Robot().Answer(box, box.hasYesNo ? answer : IDOK);
    return box.text == text;
}

// Wine answers GetProcessHandleCount with 0; the system's handle list
// (NtQuerySystemInformation, SystemHandleInformation) it does keep.
DWORD HandlesFromSystemList(DWORD processId) {
    struct Entry {
        ULONG processId;
        UCHAR type;
        UCHAR flags;
        USHORT handle;
        void *object;
        ULONG access;
    };
    struct List {
        ULONG count;
        Entry entries[1];
    };
    using QuerySystemInformation = LONG(WINAPI *)(ULONG, void *, ULONG, ULONG *);
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return 0;
    std::vector<unsigned char> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == kLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) return 0;
        const auto *list = reinterpret_cast<const List *>(buffer.data());
        const size_t room = (buffer.size() - offsetof(List, entries)) / sizeof(Entry);
        DWORD count = 0;
        for (size_t i = 0; i < list->count && i < room; ++i)
            if (list->entries[i].processId == processId) ++count;
        return count;
    }
    return 0;
}

} // namespace

ResourceSample SampleResources(HANDLE process, DWORD processId, int jobs) {
    ResourceSample sample;
    sample.jobs = jobs;
    if (!GetProcessHandleCount(process, &sample.handles) || sample.handles == 0)
        sample.handles = HandlesFromSystemList(processId);
    sample.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
    sample.userObjects = GetGuiResources(process, GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory),
                             sizeof(memory))) {
        sample.workingSet = memory.WorkingSetSize;
        // Wine leaves PrivateUsage at 0 and gives the resident private
        // memory as the page-file usage; on Windows both are the commit.
        sample.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == processId) ++sample.threads;
        CloseHandle(snapshot);
    }
    struct Count {
        DWORD processId;
        DWORD windows;
    } count{processId, 0};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto *c = reinterpret_cast<Count *>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != c->processId) return TRUE;
            ++c->windows;
            EnumChildWindows(
                window,
                [](HWND, LPARAM inner) -> BOOL {
                    ++reinterpret_cast<Count *>(inner)->windows;
                    return TRUE;
                },
                param);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    sample.windows = count.windows;
    return sample;
}

std::string Describe(const ResourceSample &s, const ResourceSample *since) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "after %3d jobs: handles %4lu  GDI %4lu  USER %4lu  windows %3lu  threads %3lu  "
                  "working set %7.2f MiB  private %7.2f MiB",
                  s.jobs, s.handles, s.gdiObjects, s.userObjects, s.windows, s.threads,
                  s.workingSet / 1048576.0, s.privateBytes / 1048576.0);
    std::string out = line;
    if (since != nullptr) {
        std::snprintf(line, sizeof line, "  (%+ld handles, %+ld GDI, %+ld USER, %+.2f MiB private)",
                      static_cast<long>(s.handles) - static_cast<long>(since->handles),
                      static_cast<long>(s.gdiObjects) - static_cast<long>(since->gdiObjects),
                      static_cast<long>(s.userObjects) - static_cast<long>(since->userObjects),
                      (static_cast<double>(s.privateBytes) - since->privateBytes) / 1048576.0);
        out += line;
    }
    return out;
}

std::string SoakRun::CaseName(int n) const {
    return CaseFor(n, m_withHang).name;
}

bool SoakRun::RunJob(int n) {
    const SoakCase c = CaseFor(n, m_withHang);
    const std::string what = "job " + std::to_string(n + 1) + " (" + c.name + ")";
    SCOPED_TRACE(what);
    qvsim::Bench &bench = m_run.Bench();
    UiRobot &robot = m_run.Robot();

    // The last job's device goes first: a device replaced in place could
    // still be the one the window shows when the next click comes.
    bench.ClearFaults();
    bench.UnplugAll();
    if (!m_run.WaitForNoDevice(milliseconds(10000))) {
        m_run.Shot("device-still-shown");
        ADD_FAILURE() << what << ": the last device is still shown: status \""
                      << Narrow(robot.Text(IDC_STATUS_LINE)) << "\", name \""
                      << Narrow(robot.Text(IDC_DEVICE_NAME)) << "\", Upgrade "
                      << (robot.Enabled(IDC_UPGRADE) ? "enabled" : "disabled");
        return false;
    }
    EXPECT_TRUE(bench.SetDriverInstalled(c.driverInstalled));
    bench.UpdateSettings([&](qvsim::BenchSettings &s) {
        s.questions.clear();
        s.questions.insert(c.questions.begin(), c.questions.end());
    });
    m_run.SetSystemSetting(L"ERASE_IDB", std::to_wstring(c.eraseIdb));
    // Faults first: an unreadable version must be unreadable when the
    // watcher first reads it.
    bool versionsUnreadable = false;
    for (const auto &fault : c.faults) {
        EXPECT_TRUE(fault.second == kDefaultValue ? bench.SetFault(fault.first)
                                                  : bench.SetFault(fault.first, fault.second));
        versionsUnreadable = versionsUnreadable || fault.first == Fault::VersionUnreadable;
    }
    qvsim::DeviceSetup setup;
    setup.id = kSoakDeviceId;
    setup.kind = c.kind;
    setup.loaderVersion = c.loader;
    if (bench.Plug(setup) == 0) {
        ADD_FAILURE() << what << ": not plugged in";
        return false;
    }
    if (!m_run.WaitForDevice(milliseconds(10000), c.kind == 4 && !versionsUnreadable)) {
        ADD_FAILURE() << what << ": the device was not shown";
        return false;
    }

    const std::wstring confirmation = m_run.Text(c.button == IDC_UPGRADE ? L"IDS_88" : L"IDS_81");
    bool ok = true;
    if (c.programLoaderQuestion) {
        robot.Click(c.button);
        ok = AnswerBox(m_run, m_run.Text(L"IDS_128"), IDNO, what + " loader question") && ok;
    }
    if (c.firstNo) {
        robot.Click(c.button);
        ok = AnswerBox(m_run, confirmation, IDNO, what + " confirmation") && ok;
    }
    robot.Click(c.button);
    if (c.programLoaderQuestion)
        ok = AnswerBox(m_run, m_run.Text(L"IDS_128"), IDYES, what + " loader question") && ok;
    ok = AnswerBox(m_run, confirmation, IDYES, what + " confirmation") && ok;

    // The library's loader question comes by itself for a newer device
    // loader in loader mode; the others when the bench is told to ask them.
    std::vector<int> asked = c.questions;
    if (c.kind == 2 && std::string(c.loader) != "2.05") asked.insert(asked.begin(), 0);
    static const wchar_t *const questionKeys[] = {L"IDS_128", L"IDS_129", L"IDS_130"};
    for (size_t i = 0; i < asked.size() && i < c.answers.size(); ++i)
        ok = AnswerBox(m_run, m_run.Text(questionKeys[asked[i]]), c.answers[i],
                       what + " question " + std::to_string(asked[i])) &&
             ok;

    const std::wstring verdict = c.code == 0
                                     ? m_run.Text(c.button == IDC_UPGRADE ? L"IDS_21" : L"IDS_20")
                                     : m_run.FailureText(c.code);
    ok = AnswerBox(m_run, verdict, IDOK, what + " verdict",
                   milliseconds(c.code == -17 ? 60000 : 30000)) &&
         ok;
    // The window takes commands again before the next job.
    ok = UiRobot::WaitUntil([&] { return robot.Enabled(IDC_BROWSE); }, milliseconds(5000)) && ok;
    bench.ClearFaults();
    return ok;
}

} // namespace e2e
