#pragma once

// A failed property is a finding like a crash: abort() makes libFuzzer save the input that broke
// it.

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition) sorvel::fuzz::check(condition, __FILE__, __LINE__, #condition)

namespace sorvel::fuzz {

inline void check(bool holds, const char* file, int line, const char* condition) {
    if (!holds) {
        std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
        std::abort();
    }
}

/// The path of `name` in a folder of the run's own, which goes when the run ends.
inline QString scratchPath(const QString& name) {
    static const QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    return dir.path() + u'/' + name;
}

/// Makes scratchPath(name) hold exactly `bytes`, and gives its path.
inline QString scratchFile(const QString& name, const QByteArray& bytes) {
    QFile file(scratchPath(name));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    return file.fileName();
}

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

}  // namespace sorvel::fuzz
