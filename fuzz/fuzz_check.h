#pragma once

// A failed property is a finding like a crash: abort() makes libFuzzer save the input that broke
// it.

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(c)                                                                     \
    ((c) ? void()                                                                         \
         : (std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #c), \
            std::abort()))

namespace sorvel::fuzz {

/// Makes `name`, in a folder of the run's own that goes when the run ends, hold exactly `bytes`;
/// gives its path.
inline QString scratchFile(const QString& name, const QByteArray& bytes) {
    static const QTemporaryDir dir;
    QFile file(dir.path() + u'/' + name);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    return file.fileName();
}

}  // namespace sorvel::fuzz
