#include "device/system_info_win.h"

#include <windows.h>

namespace {

using RtlGetVersionFn = LONG(WINAPI *)(OSVERSIONINFOW *);
using IsWow64ProcessFn = BOOL(WINAPI *)(HANDLE, BOOL *);

// GetProcAddress gives a generic FARPROC; the cast through void* to the
// exact signature is the documented use.
template <class Fn> Fn LookUp(const wchar_t *module, const char *name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(handle, name)));
}

} // namespace

bool SystemInfoWin::GetWindowsVersion(uint32_t &major, uint32_t &minor) {
    const auto rtlGetVersion = LookUp<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
    if (rtlGetVersion == nullptr) return false;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtlGetVersion(&info) != 0) return false; // STATUS_SUCCESS is 0
    major = info.dwMajorVersion;
    minor = info.dwMinorVersion;
    return true;
}

bool SystemInfoWin::IsWow64() {
    const auto isWow64Process = LookUp<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
    if (isWow64Process == nullptr) return false;
    BOOL wow64 = FALSE;
    return isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool SystemInfoWin::ProcessIs64Bit() {
    return sizeof(void *) == 8;
}
