// Cost of the busy bar: the time of one paint of a 12-block bar (goal: under
// 0.2 ms) and the processor time of a running animation at 100 ms (goal:
// under 0.5% of one core).
//   wine busy_bar_bench.exe [seconds]
#include "controls/busy_progress_win.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](FILETIME t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (value(kernel) + value(user)) / 1e7;
}

// Processor time of this process's threads other than the calling one: with
// the animation running, that is the animation thread's share.
double OtherThreadsCpuSeconds() {
    double total = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() ||
            entry.th32ThreadID == GetCurrentThreadId())
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;
        FILETIME created, exited, kernel, user;
        if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
            auto value = [](FILETIME t) {
                return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
            };
            total += (value(kernel) + value(user)) / 1e7;
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return total;
}

// Handles messages for `seconds`; returns the processor share of one core.
double PumpAndMeasure(double seconds) {
    const double cpuBefore = ProcessCpuSeconds();
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        QueryPerformanceCounter(&now);
    } while (Seconds(start, now) < seconds);
    return (ProcessCpuSeconds() - cpuBefore) / Seconds(start, now);
}

} // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"BusyBarBench";
    RegisterClassW(&wc);
    HWND parent = CreateWindowExW(0, wc.lpszClassName, L"bench", WS_POPUP | WS_VISIBLE, 0, 0, 260,
                                  60, nullptr, nullptr, wc.hInstance, nullptr);
    CBusyProgressCtrl bar(10, 0);
    // The size the main window gives it: 140 x 11 dialog units.
    const RECT rect{20, 20, 230, 38};
    if (!bar.Create(WS_CHILD | WS_VISIBLE, rect, parent, 1004)) return 1;
    bar.SetBlockCount(12);
    bar.SetPeriod(100);

    const int frames = 2000;
    UpdateWindow(bar.Handle()); // the first paint makes the off-screen bitmap
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < frames; ++i) {
        bar.StepIt();
        UpdateWindow(bar.Handle());
    }
    GdiFlush();
    QueryPerformanceCounter(&end);
    std::printf("paint: %.4f ms per frame (%d frames, 12 blocks, 210 x 18)\n",
                Seconds(start, end) * 1000 / frames, frames);

    // The drawing alone, into a memory bitmap, without the window system.
    HDC screen = GetDC(bar.Handle());
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 210, 18);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < frames; ++i) {
        bar.StepIt();
        SendMessageW(bar.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    }
    GdiFlush();
    QueryPerformanceCounter(&end);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(bar.Handle(), screen);
    std::printf("drawing alone: %.4f ms per frame\n", Seconds(start, end) * 1000 / frames);

    // The window system's share: a paint that draws nothing.
    HWND empty = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 20, 40, 210, 18, parent,
                                 nullptr, wc.hInstance, nullptr);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < frames; ++i) {
        InvalidateRect(empty, nullptr, TRUE);
        UpdateWindow(empty);
    }
    QueryPerformanceCounter(&end);
    std::printf("a plain static's repaint, for comparison: %.4f ms per frame\n",
                Seconds(start, end) * 1000 / frames);

    const double idle = PumpAndMeasure(seconds);
    const double othersBefore = OtherThreadsCpuSeconds();
    bar.StartAnimation();
    const double animated = PumpAndMeasure(seconds);
    const double othersAfter = OtherThreadsCpuSeconds();
    bar.StopAnimation();
    std::printf("cpu: idle %.3f%%, animating at 100 ms %.3f%% of one core (over %.1f s each)\n",
                idle * 100, animated * 100, seconds);
    std::printf("animation cost: %.3f%% of one core, of which the animation thread %.3f%%\n",
                (animated - idle) * 100, (othersAfter - othersBefore) / seconds * 100);
    DestroyWindow(parent);
    return 0;
}
