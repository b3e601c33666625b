#pragma once

#include <QTreeView>
#include <vector>

namespace sorvel::app {

/// The file list as a view: rows of text in columns, several selected at once, one current.
/// It reports its input after its own handling, so that a handler sees the selection the press
/// or key has made.
class FileListView : public QTreeView {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);

    /// The modifier keys as the handlers count them: 1 Shift, 2 Ctrl, 4 Alt, added together.
    static int shiftState(Qt::KeyboardModifiers modifiers);
    /// A mouse button as the handlers count it: 1 left, 2 right, 4 middle, 0 any other.
    static int buttonCode(Qt::MouseButton button);

    /// Every row as one selection range. QTreeView builds the range row by row, which at a
    /// hundred thousand rows is a wait the user feels.
    void selectAll() override;
    /// How many rows are selected, counted from the selection's ranges, not row by row.
    int selectedRowCount() const;
    /// The selected rows in list order.
    std::vector<int> selectedRowNumbers() const;

Q_SIGNALS:
    /// A left click anywhere in the list, rows or empty space.
    void listClicked();
    /// A mouse button went down: 1 left, 2 right, 4 middle; `shift` as shiftState().
    void mouseDown(int button, int shift, QPoint pos);
    /// A key went down, with the modifier state as shiftState().
    void keyDown(int key, int shift);
    /// The Menu key or Shift+F10: the pop-up menu is asked for from the keyboard.
    void menuKey();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
};

}  // namespace sorvel::app
