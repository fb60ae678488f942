// Members of the main window that the worker threads reach through the
// window (the watcher writes the device's versions; the inspection on the UI
// thread writes the image's loader version; the commands compare them).
#pragma once

#include <atomic>
#include <cstdint>

#include "base/QVAndroidDLL.h"

inline constexpr uint16_t kNoLoaderVersion = 0xFFFF;

struct MainWindowModel {
    ANDROID_VERSION m_deviceVersion{}; // written by the watcher only
    std::atomic<uint16_t> m_imageLoaderVersion{kNoLoaderVersion};
    std::atomic<uint16_t> m_deviceLoaderVersion{kNoLoaderVersion};
};
