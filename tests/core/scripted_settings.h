#pragma once

#include "core/settings.h"

#include <string>
#include <vector>

namespace sorvel::test {

/// Records what a settings file applies, in order ("top 1500"), and refuses the step named in
/// `refuse`.
struct ScriptedSettings : core::SettingsTarget {
    std::vector<std::string> calls;
    std::string refuse;
    QString folder;

    Code applyDrive(const QString& f) override { return step("drive", f); }
    Code applyFolder(const QString& f) override { return step("folder", folder = f); }
    Code applyWindowState(int s) override { return step("state", QString::number(s)); }
    Code applyTop(double v) override { return step("top", QString::number(v)); }
    Code applyLeft(double v) override { return step("left", QString::number(v)); }
    Code applyWidth(double v) override { return step("width", QString::number(v)); }
    Code applyHeight(double v) override { return step("height", QString::number(v)); }

    Code step(const char* name, const QString& value) {
        calls.push_back(name + (' ' + value.toStdString()));
        return refuse == name ? code::kAccess : code::kOk;
    }
};

}  // namespace sorvel::test
