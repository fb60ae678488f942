// A device library that lacks QV_DownloadImage, to show what the loader says
// about a missing export. Built with QV_FAULTING_LIBRARY it is complete
// instead, and its device search faults: a crash inside the maker's library,
// on the watcher's thread, for the crash report's end-to-end test.
#include <windows.h>

#define QVAPI __declspec(dllexport)
#include "base/QVAndroidDLL.h"

extern "C" {
int DllInitialize(void) {
    return 1;
}
int DllDeInitialize(void) {
    return 1;
}
int SetLogPath(const char *) {
    return 1;
}
int SetLoaderRestoreFlag(int) {
    return 1;
}
int SetEraseUserSection(int) {
    return 1;
}
int SetMainWindowHwnd(HWND) {
    return 1;
}
int SetVidPid(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) {
    return 1;
}
#ifdef QV_FAULTING_LIBRARY
volatile int *g_nowhere = nullptr;
#endif

int QV_FindDevice(DEVICE_INFO *, int) {
#ifdef QV_FAULTING_LIBRARY
    *g_nowhere = 1;
#endif
    return 0;
}
int QV_GetDeviceVersion(DEVICE_INFO *, ANDROID_VERSION *) {
    return 0;
}
int QV_GetImageSize(const char *, uint32_t *) {
    return 0;
}
int QV_GetLoaderVersion(const char *, uint16_t *) {
    return 0;
}
int QV_GetSystemVersion(const char *, uint32_t *) {
    return 0;
}
int ExtractLoaderFile(const char *, const char *) {
    return 0;
}
int QV_EraseIDB(DEVICE_INFO *, uint16_t, int, const char *) {
    return 0;
}
int QV_Upgrade(DEVICE_INFO *, uint32_t, uint32_t, uint32_t, const char *, int, int) {
    return -1;
}
int QV_ResetDevice(DEVICE_INFO *) {
    return 0;
}
int QV_WaitDevice(DEVICE_INFO *, int, uint16_t, int) {
    return 0;
}
#ifdef QV_FAULTING_LIBRARY
int QV_DownloadImage(DEVICE_INFO *, const char *) {
    return 0;
}
#endif
int QV_SwitchVeskUsb(DEVICE_INFO *) {
    return 0;
}
int QVIsVeskUsbPlug(void) {
    return 0;
}
int QVInstallDriver(const char *) {
    return -1;
}
}
