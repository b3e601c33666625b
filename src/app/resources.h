#pragma once

namespace sorvel::app {

/// Makes the program's pictures available under ":/sorvel/". The windows' library is static, so
/// its resources are registered by hand; any number of calls registers them once.
void initResources();

/// Gives Qt's own texts (the text fields' context menu and the like) in Swedish, where the
/// system has Qt's Swedish translation; otherwise they stay English. Call once, after the
/// application object exists.
void installQtTexts();

}  // namespace sorvel::app
