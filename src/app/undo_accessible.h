#pragma once

class QObject;

namespace sorvel::app {

/// Lets screen readers hear what "&Ångra" will take back: Qt gives a menu bar's commands no
/// description, so the command named `mnuAngra` gets an accessible interface of its own whose
/// description is its status tip. Installs once, however often it is called.
void describeUndoForScreenReaders();

}  // namespace sorvel::app
