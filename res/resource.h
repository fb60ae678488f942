// Resource and control ids: the one list shared by the resource script, the
// Win32 layer and the portable logic (plain macros, no <windows.h>).
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_DEVICEMANAGER_DIALOG 102
#define IDD_SPLASH 132

// Pictures, icon, cursor
#define IDR_MAINFRAME 128
#define IDB_STARTUP 131
#define IDB_TITLE 133
#define IDB_ABOUTTITLE 134
#define IDC_HAND_CURSOR 135

// Main window (template 102)
#define IDC_HIDDEN_EDIT 1000
#define IDC_UPGRADE 1002
#define IDC_HIDDEN_CHECK 1003
#define IDC_BUSY_BAR 1004
#define IDC_EXIT 1005
#define IDC_REPAIR 1006
#define IDC_DETAIL_LINE 1009
#define IDC_STATUS_LINE 1010
#define IDC_DEVICE_NAME 1011
#define IDC_IMAGE_SW_VERSION 1012
#define IDC_IMAGE_LOADER_VERSION 1013
#define IDC_DEVICE_SW_VERSION 1014
#define IDC_DEVICE_LOADER_VERSION 1015
#define IDC_ELAPSED_TIME 1018
#define IDC_IMAGE_GROUP 1019
#define IDC_DEVICE_GROUP 1020
#define IDC_DEVICE_NAME_CAPTION 1021
#define IDC_HIDDEN_BUTTON1 1022
#define IDC_IMAGE_SW_CAPTION 1025
#define IDC_DEVICE_SW_CAPTION 1026
#define IDC_FIRMWARE_PATH 1027
#define IDC_BROWSE 1028
#define IDC_HOMEPAGE_LINK 1029
#define IDC_TITLE_PICTURE 1030
#define IDC_IMAGE_LOADER_CAPTION 1034
#define IDC_DEVICE_LOADER_CAPTION 1035
#define IDC_HIDDEN_BUTTON2 1036
#define IDC_HIDDEN_BUTTON3 1037
#define IDC_HIDDEN_BUTTON4 1038

// Splash (template 132) and About box (template 100)
#define IDC_SPLASH_PICTURE 1031
#define IDC_ABOUT_PICTURE 1032
#define IDC_ABOUT_TITLE 1023
#define IDC_ABOUT_VERSION 1024
#define IDC_ABOUT_NOTICE 1039
#define IDC_ABOUT_SEPARATOR 1040

// System menu command of the About item
#define IDM_ABOUTBOX 16

// Main window timers
#define IDT_START 0
#define IDT_ELAPSED 1

// Posted by the job thread: wParam = mode (0 upgrade, 1 repair), lParam = result code.
#define WM_UPGRADE_RESULT (0x0400 + 100)
