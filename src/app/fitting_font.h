#pragma once

#include <QFont>
#include <vector>

class QLabel;

namespace sorvel::app {

/// The largest font, not larger than `base` and not smaller than 7 points, in which every label's
/// text fits its width. The window's design gives fixed places sized for a narrow 8-point font;
/// where the desktop's font is wider, a narrower installed sans-serif family is tried at the
/// same size before a smaller size.
QFont fittingFont(const QFont& base, const std::vector<const QLabel*>& labels);

}  // namespace sorvel::app
