#include "device/firmware_check.h"

#include <cstdio>

#include "base/ansi_text.h"
#include "base/text_keys.h"
#include "res/resource.h"

namespace {

constexpr const wchar_t *kNotAvailable = kVersionNotAvailable;

std::wstring Widen(const char *ascii) {
    std::wstring out;
    for (; *ascii != '\0'; ++ascii)
        out += static_cast<wchar_t>(*ascii);
    return out;
}

bool Refuse(DeviceContext &context, const wchar_t *key) {
    context.view.ShowMessage(context.texts.Text(key), context.state.g_settings.APPTITLE,
                             mb::kOk | mb::kIconError);
    return false;
}

} // namespace

std::wstring FormatLoaderVersion(uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u", static_cast<unsigned>(version / 256),
                  static_cast<unsigned>(version % 256));
    return Widen(text);
}

std::wstring FormatSystemVersion(uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "%x.%x.%x", static_cast<unsigned>(version >> 24),
                  static_cast<unsigned>((version >> 16) & 0xFF),
                  static_cast<unsigned>(version & 0xFFFF));
    return Widen(text);
}

namespace {

bool Inspect(DeviceContext &context, const std::wstring &imagePath, ImageFacts &facts) {
    ProcessState &state = context.state;
    IDeviceLibrary &library = context.library;
    IMainView &view = context.view;

    state.g_loaderFilePath.clear();

    AnsiBuffer image;
    if (!WideToAnsi(context.platform.codec, imagePath, image))
        return Refuse(context, ids::kImagePathNotConvertible);

    uint16_t loaderVersion = 0;
    if (library.QV_GetLoaderVersion(image.data(), &loaderVersion) == 0) {
        Refuse(context, ids::kImageLoaderVersionUnreadable);
        view.SetItemText(IDC_IMAGE_LOADER_VERSION, kNotAvailable);
        return false;
    }
    facts.loader = FormatLoaderVersion(loaderVersion);
    view.SetItemText(IDC_IMAGE_LOADER_VERSION, facts.loader);
    context.model.m_imageLoaderVersion = loaderVersion;

    uint32_t systemVersion = 0;
    facts.software = library.QV_GetSystemVersion(image.data(), &systemVersion) != 0
                         ? FormatSystemVersion(systemVersion)
                         : kNotAvailable;
    view.SetItemText(IDC_IMAGE_SW_VERSION, facts.software);

    // Read into a local: a refused image leaves the last accepted size alone.
    uint32_t imageSize = 0;
    if (library.QV_GetImageSize(image.data(), &imageSize) == 0)
        return Refuse(context, ids::kImageSizeUnreadable);
    state.g_imageSize = imageSize;
    facts.size = imageSize;

    // A loader left by an earlier image must not survive a failed extraction
    // and pass for this image's loader.
    const std::wstring loaderPath = state.g_tempFolder + kLoaderFileName;
    IFileSystem &files = context.platform.files;
    if (files.PathExists(loaderPath)) files.RemoveFile(loaderPath);
    state.g_loaderFilePath = loaderPath;

    AnsiBuffer loader;
    if (!WideToAnsi(context.platform.codec, loaderPath, loader)) {
        state.g_loaderFilePath.clear();
        return Refuse(context, ids::kTempPathNotConvertible);
    }
    if (library.ExtractLoaderFile(image.data(), loader.data()) == 0) {
        state.g_loaderFilePath.clear();
        return Refuse(context, ids::kLoaderNotExtracted);
    }
    return true;
}

} // namespace

bool InspectFirmware(DeviceContext &context, const std::wstring &imagePath) {
    ImageFacts facts;
    facts.path = imagePath;
    const bool usable = Inspect(context, imagePath, facts);
    if (context.events != nullptr) {
        if (usable)
            context.events->OnImageInspected(facts);
        else
            context.events->OnImageRefused(imagePath);
    }
    return usable;
}
