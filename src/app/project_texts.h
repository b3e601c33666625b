#pragma once

#include "app/project_info.h"

#include <QString>

namespace sorvel::app {

/// "Version " and the three version numbers, as both the About window and the splash show it.
inline QString versionText() {
    return QStringLiteral("Version %1.%2.%3")
        .arg(project::kVersionMajor)
        .arg(project::kVersionMinor)
        .arg(project::kVersionPatch);
}

inline QString homePage() {
    return QString::fromUtf8(project::kHomePage);
}
inline QString mailAddress() {
    return QString::fromUtf8(project::kMailAddress);
}

}  // namespace sorvel::app
