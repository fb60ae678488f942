/* The C interface of the device library QVAndroidDLL.dll.
 *
 * The program, the simulated library and every test fake use this one header,
 * so that the maker's library can be dropped in beside the program in place
 * of the simulated one. C linkage, the platform's default calling convention
 * (the only one on x64), natural alignment; every result is a 32-bit int. */
#ifndef QV_ANDROID_DLL_H
#define QV_ANDROID_DLL_H

#include <stddef.h>
#include <stdint.h>

#ifndef _WINDEF_
/* The same declaration that <windows.h> makes with STRICT, so the header
 * serves the portable logic, which never includes <windows.h>. */
struct HWND__;
typedef struct HWND__ *HWND;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Device kinds reported in DEVICE_INFO.deviceType. */
enum QV_DEVICE_TYPE {
    QV_DEVICE_MASKROM = 1, /* mask-ROM device: cannot be upgraded */
    QV_DEVICE_LOADER = 2,  /* awaited after a job's first reset */
    QV_DEVICE_VESKUSB = 3, /* awaited after the VeskUsb switch */
    QV_DEVICE_MSC = 4      /* mass-storage device: versions readable */
};

/* The program reads identity and deviceType only; everything else is the
 * library's own, copied and zeroed whole. */
typedef struct DEVICE_INFO {
    uint16_t usbVid;
    uint16_t usbPid;
    char devicePath[512];
    char serialNumber[20];
    int32_t identity;   /* 0: no device */
    int32_t deviceType; /* QV_DEVICE_TYPE */
    uint8_t busFlags;
    int32_t location;
} DEVICE_INFO;

typedef struct ANDROID_VERSION {
    char loaderVersion[512];
    char systemVersion[512];
} ANDROID_VERSION;

#ifdef __cplusplus
static_assert(sizeof(DEVICE_INFO) == 552, "DEVICE_INFO layout is fixed by the library");
static_assert(offsetof(DEVICE_INFO, identity) == 536, "identity offset is fixed by the library");
static_assert(offsetof(DEVICE_INFO, deviceType) == 540,
              "deviceType offset is fixed by the library");
static_assert(sizeof(ANDROID_VERSION) == 1024, "ANDROID_VERSION layout is fixed by the library");
#else
_Static_assert(sizeof(DEVICE_INFO) == 552, "DEVICE_INFO layout is fixed by the library");
_Static_assert(offsetof(DEVICE_INFO, identity) == 536, "identity offset is fixed by the library");
_Static_assert(offsetof(DEVICE_INFO, deviceType) == 540,
               "deviceType offset is fixed by the library");
#endif

/* Sent synchronously by the library to the window given to SetMainWindowHwnd:
 * wParam = question kind (0, 1, 2), lParam = int32_t* answer (1 go on, 0 stop). */
#define WM_DEVICE_PROMPT (0x0400 + 88)

#ifndef QVAPI
#define QVAPI
#endif

QVAPI int DllInitialize(void);
QVAPI int DllDeInitialize(void);
QVAPI int SetLogPath(const char *folder);
QVAPI int SetLoaderRestoreFlag(int flag);
QVAPI int SetEraseUserSection(int flag);
QVAPI int SetMainWindowHwnd(HWND window);
QVAPI int SetVidPid(uint16_t deviceVid, uint16_t devicePid, uint16_t mscVid, uint16_t mscPid,
                    uint16_t adbVid, uint16_t adbPid);
QVAPI int QV_FindDevice(DEVICE_INFO *device, int usb11);
QVAPI int QV_GetDeviceVersion(DEVICE_INFO *device, ANDROID_VERSION *version);
QVAPI int QV_GetImageSize(const char *image, uint32_t *size);
QVAPI int QV_GetLoaderVersion(const char *image, uint16_t *version);
QVAPI int QV_GetSystemVersion(const char *image, uint32_t *version);
QVAPI int ExtractLoaderFile(const char *image, const char *loaderFile);
QVAPI int QV_EraseIDB(DEVICE_INFO *device, uint16_t count, int usb11, const char *loaderFile);
QVAPI int QV_Upgrade(DEVICE_INFO *device, uint32_t imageSize, uint32_t imageSizeLow16,
                     uint32_t partition, const char *loaderFile, int mode, int reserved);
QVAPI int QV_ResetDevice(DEVICE_INFO *device);
QVAPI int QV_WaitDevice(DEVICE_INFO *device, int kind, uint16_t count, int usb11);
QVAPI int QV_DownloadImage(DEVICE_INFO *device, const char *image);
QVAPI int QV_SwitchVeskUsb(DEVICE_INFO *device);
QVAPI int QVIsVeskUsbPlug(void);
QVAPI int QVInstallDriver(const char *infFile);

#ifdef __cplusplus
}
#endif

#endif
