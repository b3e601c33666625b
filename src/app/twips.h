#pragma once

#include <QRect>
#include <QScreen>
#include <cmath>

namespace sorvel::app {

/// Converts the design's twips (1/1440 inch) to pixels and back at a screen's logical resolution:
/// 15 twips a pixel at 96 dpi.
class Twips {
public:
    Twips() = default;
    Twips(double dpiX, double dpiY) : perPxX_(1440.0 / dpiX), perPxY_(1440.0 / dpiY) {}
    /// The screen's logical resolution; 96 dpi without a screen.
    static Twips of(const QScreen* screen) {
        return screen == nullptr
                   ? Twips(96, 96)
                   : Twips(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
    }

    int x(double twips) const { return static_cast<int>(std::lround(twips / perPxX_)); }
    int y(double twips) const { return static_cast<int>(std::lround(twips / perPxY_)); }
    double fromX(int px) const { return px * perPxX_; }
    double fromY(int px) const { return px * perPxY_; }
    QRect rect(double left, double top, double width, double height) const {
        return {x(left), y(top), x(width), y(height)};
    }

private:
    double perPxX_ = 15;
    double perPxY_ = 15;
};

}  // namespace sorvel::app
