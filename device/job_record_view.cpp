#include "device/job_record_view.h"

#include <algorithm>

#include "res/resource.h"
#include "res/version.h"

namespace {

// The library's texts need not be terminated within their field.
template <size_t N> std::wstring LibraryText(ITextCodec &codec, const char (&text)[N]) {
    return codec.FromAnsi(std::string(text, std::find(text, text + N, '\0')));
}

} // namespace

void JobRecordView::SetItemText(int controlId, const std::wstring &text) {
    m_inner.SetItemText(controlId, text);
    bool announced = false;
    bool versionRead = false;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        switch (controlId) {
        case IDC_IMAGE_SW_VERSION:
            m_imageSoftware = text;
            break;
        case IDC_IMAGE_LOADER_VERSION:
            m_imageLoader = text;
            break;
        case IDC_DEVICE_NAME:
            m_deviceName = text;
            break;
        case IDC_DEVICE_SW_VERSION:
            if (text.empty()) break; // the device's traces cleared
            if (m_announcing && !m_placeholderSeen) {
                m_placeholderSeen = true;
                break;
            }
            versionRead = true;
            break;
        case IDC_DETAIL_LINE:
            if (m_announcing && text.empty()) {
                m_announcing = false;
                announced = true;
            }
            break;
        default:
            break;
        }
    }
    if (versionRead) m_recorder.DeviceVersionRead(text);
    if (announced) {
        ++m_announcements;
        m_recorder.DeviceAnnounced();
    }
}

void JobRecordView::EnableItem(int controlId, bool enable) {
    m_inner.EnableItem(controlId, enable);
    // Only the watcher's announcement of a device enables Upgrade.
    if (controlId == IDC_UPGRADE && enable) {
        std::lock_guard<std::mutex> lock(m_guard);
        m_announcing = true;
        m_placeholderSeen = false;
    }
}

std::wstring JobRecordView::ImageSoftware() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_imageSoftware;
}

std::wstring JobRecordView::ImageLoader() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_imageLoader;
}

std::wstring JobRecordView::DeviceName() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_deviceName;
}

JobRecordFields JobStartFacts(DeviceContext &context, const JobRecordView &view, int mode,
                              const std::wstring &computer) {
    ProcessState &state = context.state;
    ITextCodec &codec = context.platform.codec;
    JobRecordFields fields;
    fields.computer = computer;
    const std::string version = QV_VERSION_STRING;
    fields.programVersion.assign(version.begin(), version.end());
    fields.mode = mode == 0 ? L"upgrade" : L"repair";
    fields.deviceKind = state.g_deviceInfo.deviceType;
    fields.deviceName = view.DeviceName();
    fields.deviceSerial = LibraryText(codec, state.g_deviceInfo.serialNumber);
    if (state.g_deviceVersionRead.load() != 0) {
        fields.deviceSoftwareBefore =
            LibraryText(codec, context.model.m_deviceVersion.systemVersion);
        fields.deviceLoaderBefore = LibraryText(codec, context.model.m_deviceVersion.loaderVersion);
    }
    fields.imageFile = state.g_settings.FIRMWARE;
    fields.imageSoftware = view.ImageSoftware();
    fields.imageLoader = view.ImageLoader();
    fields.imageSize = state.g_imageSize.load();
    return fields;
}
