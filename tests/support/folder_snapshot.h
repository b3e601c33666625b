#pragma once

#include "platform/names.h"
#include "support/files.h"

#include <QByteArray>
#include <QString>
#include <filesystem>
#include <map>

namespace sorvel::test {

/// Every entry of `folder` by name, with the bytes of each regular file ("<folder>" for a folder,
/// "<other>" for anything else), so that a whole folder is compared at once. Names that are not
/// UTF-8 are reached by their own bytes.
inline std::map<QString, QByteArray> snapshot(const QString& folder) {
    std::map<QString, QByteArray> all;
    for (const auto& entry :
         std::filesystem::directory_iterator(platform::encodeName(folder).toStdString())) {
        const QString name = platform::decodeName(entry.path().filename().c_str());
        all[name] = entry.is_directory()      ? QByteArray("<folder>")
                    : entry.is_regular_file() ? readAll(folder + u'/' + name)
                                              : QByteArray("<other>");
    }
    return all;
}

}  // namespace sorvel::test
