#include "app/fitting_font.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>

namespace sorvel::app {
namespace {

bool fits(const QFont& font, const std::vector<const QLabel*>& labels) {
    const QFontMetrics fm(font);
    for (const QLabel* l : labels) {
        if (fm.horizontalAdvance(l->text()) > l->contentsRect().width()) {
            return false;
        }
    }
    return true;
}

}  // namespace

QFont fittingFont(const QFont& base, const std::vector<const QLabel*>& labels) {
    QStringList families{base.family()};
    for (const QString& f : {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                             QStringLiteral("Nimbus Sans"), QStringLiteral("Arial")}) {
        if (QFontDatabase::hasFamily(f)) {
            families.push_back(f);
        }
    }
    const double start = base.pointSizeF() > 0 ? base.pointSizeF() : 9.0;
    // In half points, from the desktop's size down to 7.
    for (int halves = static_cast<int>(start * 2); halves >= 14; --halves) {
        for (const QString& family : families) {
            QFont f = base;
            f.setFamily(family);
            f.setPointSizeF(halves / 2.0);
            if (fits(f, labels)) {
                return f;
            }
        }
    }
    QFont smallest = base;
    smallest.setPointSizeF(7.0);
    return smallest;
}

}  // namespace sorvel::app
