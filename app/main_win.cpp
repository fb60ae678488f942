// Entry point of DeviceManager.exe.
#include <windows.h>

#include "app/application_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CDeviceManagerApp app;
    const int exitCode = app.InitInstance();
    // The device watcher, a job or the busy bar's animation may still run
    // and use the window's objects and the process-wide values: end the
    // process here, without running destructors under them.
    ExitProcess(static_cast<UINT>(exitCode));
}
