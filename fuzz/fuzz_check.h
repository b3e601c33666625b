#pragma once

// A failed property is a finding like a crash: abort() makes libFuzzer save the input that broke
// it.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

namespace sorvel::fuzz {

/// The path of `name` in a folder of the run's own, which goes when the run ends.
inline QString scratchPath(const QString& name) {
    static const auto dir = std::make_unique<QTemporaryDir>();
    FUZZ_CHECK(dir->isValid());
    return dir->path() + u'/' + name;
}

/// Makes scratchPath(name) hold exactly `bytes`, and gives its path.
inline QString scratchFile(const QString& name, const QByteArray& bytes) {
    QFile file(scratchPath(name));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(bytes) == bytes.size());
    return file.fileName();
}

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

}  // namespace sorvel::fuzz
