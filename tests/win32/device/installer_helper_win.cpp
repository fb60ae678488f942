// Stands in for the driver installer program in the tests. What it does is
// set by the test through the environment the job passes on:
//   QV_HELPER_MODE   "exit:N" ends with exit code N, "hang" never ends
//   QV_HELPER_REPORT file that receives the command line and the process id
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

int wmain() {
    wchar_t report[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"QV_HELPER_REPORT", report, MAX_PATH) > 0) {
        // UTF-8: the process id on the first line, the command line after it.
        std::wstring text = std::to_wstring(GetCurrentProcessId()) + L"\n" + GetCommandLineW();
        char bytes[4096];
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes,
                                sizeof bytes, nullptr, nullptr);
        HANDLE file = CreateFileW(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr);
            CloseHandle(file);
        }
    }
    wchar_t mode[64] = L"";
    GetEnvironmentVariableW(L"QV_HELPER_MODE", mode, 64);
    if (std::wcscmp(mode, L"hang") == 0) {
        for (;;)
            Sleep(INFINITE);
    }
    if (std::wcsncmp(mode, L"exit:", 5) == 0)
        return static_cast<int>(std::wcstol(mode + 5, nullptr, 10));
    return 0;
}
