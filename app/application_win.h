// The application object: the process frame around the main window.
#pragma once

#include <windows.h>

class CDeviceManagerApp {
  public:
    // Runs the program from the single-instance guard to the end of the main
    // window and returns the exit code of the process: 0, or non-zero when
    // the device library cannot be loaded. A second copy returns 0 at once.
    int InitInstance();

  private:
    // Held from the start to the end of the main window; only its existence
    // matters, it is never waited on.
    HANDLE m_instanceGuard = nullptr;
};
