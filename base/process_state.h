// Process-wide values, named as the rest of the program knows them.
//
// Settings are filled once by LoadSettings on the UI thread before any worker
// starts, and only read afterwards (FIRMWARE excepted: the UI thread changes
// it, and a job reads it only after the UI thread started the job thread).
// Flags shared between threads are atomics written and read whole.
// g_deviceInfo is larger than a word: the watcher and the job never use it at
// the same time, because the hand-over (WorkerGate) orders them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/QVAndroidDLL.h"

struct Settings {
    // USB identities handed to SetVidPid, in this order.
    uint16_t DEVICE_ID_VID = 0;
    uint16_t DEVICE_ID_PID = 0;
    uint16_t MSC_ID_VID = 0;
    uint16_t MSC_ID_PID = 0;
    uint16_t ADB_ID_VID = 0;
    uint16_t ADB_ID_PID = 0;

    std::wstring FIRMWARE;
    std::wstring PARTITION;
    std::wstring HOMEPAGE;
    std::wstring IMAGE_EXT_NAME = L"IMG";
    std::wstring DEVICE_ID_NAME; // [DEVICE_ID] NAME
    std::wstring MSC_ID_NAME;    // [MSC_ID] NAME
    std::wstring APPTITLE;
};

// Every process-wide value. One instance for the process (g_state); tests
// make their own and reset it.
struct ProcessState {
    Settings g_settings;
    std::atomic<int32_t> g_supportUsb11{0};
    std::atomic<int32_t> g_libraryInitialized{0};
    std::wstring g_languageFile;

    std::wstring g_programFolder; // ends in a backslash
    std::wstring g_tempFolder;    // ends in a backslash

    std::wstring g_loaderFilePath;
    std::atomic<uint32_t> g_imageSize{0};

    DEVICE_INFO g_deviceInfo{};
    std::atomic<int32_t> g_findResult{0};
    std::atomic<int32_t> g_deviceVersionRead{0};

    std::atomic<int32_t> g_jobActive{0};
    std::atomic<int32_t> g_upgradeRunning{0};
    std::atomic<int32_t> g_repairRunning{0};
    std::atomic<int32_t> g_autoConfirmLoader{0};
    std::atomic<int64_t> g_jobStartTime{0};
};

// The version text of the title, the About box and the splash screen.
inline constexpr const wchar_t *kVersionText = L" v1.2 ";

// The single-instance guard that the window and the station both take: one
// program on the device library at a time.
inline constexpr const wchar_t *kInstanceMutexName = L"VESK-TRONA_DM";
