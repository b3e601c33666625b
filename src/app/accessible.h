#pragma once

class QObject;

namespace sorvel::app {

/// Lets screen readers hear what "&Ångra" will take back: Qt gives a menu bar's commands no
/// description, so the command named `mnuAngra` gets an accessible interface of its own whose
/// description is its status tip. Installs once, however often it is called.
void describeUndoForScreenReaders();

/// Lets screen readers hear a pick-only chooser by the name set on it ("Genre", "Enhet"), as a
/// sighted user reads its label, and its choice as its value. Qt's own interface on this platform
/// gives the choice as the name too and leaves the label to a relation that not every screen
/// reader follows. Installs once, however often it is called.
void nameChoosersForScreenReaders();

}  // namespace sorvel::app
