// The program's version, used by the version resource. Keep it in step with
// the version text that the window shows.
#pragma once

#define QV_VERSION_MAJOR 1
#define QV_VERSION_MINOR 2
#define QV_VERSION_PATCH 0
#define QV_VERSION_BUILD 3

#define QV_STRINGIFY2(x) #x
#define QV_STRINGIFY(x) QV_STRINGIFY2(x)
#define QV_VERSION_STRING                                                                          \
    QV_STRINGIFY(QV_VERSION_MAJOR)                                                                 \
    "." QV_STRINGIFY(QV_VERSION_MINOR) "." QV_STRINGIFY(QV_VERSION_PATCH) "." QV_STRINGIFY(        \
        QV_VERSION_BUILD)

#define QV_PRODUCT_NAME "QV70 Device Manager"
#define QV_COMPANY_NAME "QV70 Device Manager developers"
#define QV_COPYRIGHT "Copyright (C) 2026 QV70 Device Manager developers"
#define QV_FILE_NAME "DeviceManager.exe"
