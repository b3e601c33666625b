#pragma once

#include "browse/scan.h"

#include <QStringList>

namespace sorvel::test {

/// Keeps every status text and progress report of a command, one line each, in the order the
/// user would see them: "max 3", "value 1", "Sparar a.mp3".
class RecordingObserver : public browse::StatusObserver {
public:
    QStringList seen;
    void setStatus(const QString& text) override { seen << text; }
    void setProgressMax(int max) override { seen << QStringLiteral("max %1").arg(max); }
    void setProgress(int value) override { seen << QStringLiteral("value %1").arg(value); }
};

}  // namespace sorvel::test
