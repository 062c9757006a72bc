// The file list: the logs of one folder, with nothing selected until the user picks an entry. It
// raises a click notification for a left click on an entry and for every change of selection made
// with the keyboard; that notification comes while the key is handled, so after whatever watched
// the key's key-down. From no selection, Down (or any move) selects the first entry.
// A left click selects its entry whatever modifier is held, and once an entry is selected no
// click or key leaves the list without one (Ctrl on the selected entry does not deselect it).
// Other mouse buttons do nothing at all: no selection, no notification, not even the focus.
#pragma once

#include <QByteArray>
#include <QList>
#include <QListWidget>

#include "platform/native_name.h"

namespace parlotrim {

class FileListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit FileListBox(QWidget* parent = nullptr);

  // Lists names (as the file system holds them; shown decoded), none selected.
  void SetNames(const QList<NativeName>& names);
  // The bare name of the selected entry; empty when none is selected.
  NativeName FileName() const;

 signals:
  void Clicked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  QItemSelectionModel::SelectionFlags selectionCommand(
      const QModelIndex& index, const QEvent* event = nullptr) const override;

 private:
  void OnSelectionChanged();

  bool inKey_ = false;  // a key is being handled: selection changes come from the keyboard
};

}  // namespace parlotrim
