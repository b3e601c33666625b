#include "app/accessible.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QAction>
#include <QComboBox>
#include <QMenuBar>
#include <QRegularExpression>

namespace sorvel::app {
namespace {

/// A command on the menu bar as a screen reader sees it: the default one's name, role, state,
/// place and press, and the status tip as its description.
class MenuBarCommand : public QAccessibleObject, public QAccessibleActionInterface {
public:
    MenuBarCommand(QAction* action, QMenuBar* bar) : QAccessibleObject(action), bar_(bar) {}

    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(bar_);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::MenuItem; }
    QWindow* window() const override { return bar_->window()->windowHandle(); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name: {
                QString name = action()->text();
                return name.remove(QRegularExpression(QStringLiteral("&(?!&)")));
            }
            case QAccessible::Description:
                return action()->statusTip();
            case QAccessible::Accelerator:
                return action()->shortcut().toString(QKeySequence::NativeText);
            default:
                return {};
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.disabled = !action()->isEnabled();
        s.invisible = !action()->isVisible() || !bar_->isVisible();
        s.focusable = true;
        return s;
    }
    QRect rect() const override {
        const QRect r = bar_->actionGeometry(action());
        return QRect(bar_->mapToGlobal(r.topLeft()), r.size());
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                 : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && action()->isEnabled())
            action()->trigger();
    }
    QStringList keyBindingsForAction(const QString&) const override {
        return {action()->shortcut().toString(QKeySequence::NativeText)};
    }

private:
    QAction* action() const { return static_cast<QAction*>(object()); }

    QMenuBar* bar_;
};

/// A pick-only chooser: the name it was given, its choice as the value, its list as its child,
/// and the presses that open the list.
class NamedChooser : public QAccessibleWidget {
public:
    explicit NamedChooser(QComboBox* chooser) : QAccessibleWidget(chooser, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return widget()->accessibleName();
            case QAccessible::Value:
                return chooser()->currentText();
            default:
                return QAccessibleWidget::text(t);
        }
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(chooser()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == chooser()->view() ? 0 : -1;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = chooser()->view()->isVisible();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction())
            chooser()->showPopup();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    QComboBox* chooser() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* namedChooser(const QString& key, QObject* object) {
    auto* chooser = qobject_cast<QComboBox*>(object);
    if (key != QLatin1StringView("QComboBox") || chooser == nullptr || chooser->isEditable() ||
        chooser->accessibleName().isEmpty()) {
        return nullptr;
    }
    return new NamedChooser(chooser);
}

QAccessibleInterface* undoCommand(const QString& key, QObject* object) {
    auto* action = qobject_cast<QAction*>(object);
    if (key != QLatin1StringView("QAction") || action == nullptr ||
        action->objectName() != QLatin1StringView("mnuAngra")) {
        return nullptr;
    }
    for (QObject* o : action->associatedObjects()) {
        if (auto* bar = qobject_cast<QMenuBar*>(o))
            return new MenuBarCommand(action, bar);
    }
    return nullptr;
}

}  // namespace

void nameChoosersForScreenReaders() {
    static const bool installed = [] {
        QAccessible::installFactory(namedChooser);
        return true;
    }();
    (void)installed;
}

void describeUndoForScreenReaders() {
    static const bool installed = [] {
        QAccessible::installFactory(undoCommand);
        return true;
    }();
    (void)installed;
}

}  // namespace sorvel::app
