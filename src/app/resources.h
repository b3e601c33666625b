#pragma once

namespace sorvel::app {

/// Makes the program's pictures available under ":/sorvel/". The windows' library is static, so
/// its resources are registered by hand; any number of calls registers them once.
void initResources();

}  // namespace sorvel::app
