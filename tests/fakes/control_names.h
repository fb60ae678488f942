// The symbolic names of the main window's controls and timers, so that a
// recorded call reads "text IDC_STATUS_LINE ..." instead of a bare id.
#pragma once

#include <string>

#include "res/resource.h"

namespace fakes {

// "IDC_STATUS_LINE"; an id without a name prints as its number.
inline std::wstring ControlName(int id) {
    struct Named {
        int id;
        const wchar_t *name;
    };
    static const Named kControls[] = {
        {IDC_UPGRADE, L"IDC_UPGRADE"},
        {IDC_BUSY_BAR, L"IDC_BUSY_BAR"},
        {IDC_EXIT, L"IDC_EXIT"},
        {IDC_REPAIR, L"IDC_REPAIR"},
        {IDC_DETAIL_LINE, L"IDC_DETAIL_LINE"},
        {IDC_STATUS_LINE, L"IDC_STATUS_LINE"},
        {IDC_DEVICE_NAME, L"IDC_DEVICE_NAME"},
        {IDC_IMAGE_SW_VERSION, L"IDC_IMAGE_SW_VERSION"},
        {IDC_IMAGE_LOADER_VERSION, L"IDC_IMAGE_LOADER_VERSION"},
        {IDC_DEVICE_SW_VERSION, L"IDC_DEVICE_SW_VERSION"},
        {IDC_DEVICE_LOADER_VERSION, L"IDC_DEVICE_LOADER_VERSION"},
        {IDC_ELAPSED_TIME, L"IDC_ELAPSED_TIME"},
        {IDC_FIRMWARE_PATH, L"IDC_FIRMWARE_PATH"},
        {IDC_BROWSE, L"IDC_BROWSE"},
        {IDC_HOMEPAGE_LINK, L"IDC_HOMEPAGE_LINK"},
    };
    for (const Named &control : kControls)
        if (control.id == id) return control.name;
    return std::to_wstring(id);
}

// "IDT_ELAPSED"; a timer without a name prints as its number.
inline std::wstring TimerName(int id) {
    switch (id) {
    case IDT_START:
        return L"IDT_START";
    case IDT_ELAPSED:
        return L"IDT_ELAPSED";
    default:
        return std::to_wstring(id);
    }
}

} // namespace fakes
