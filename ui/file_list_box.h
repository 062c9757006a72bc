// The file list: the logs of one folder, with nothing selected until the user picks an entry. It
// raises a click notification for a left click on an entry and for every change of selection made
// with the keyboard; that notification comes while the key is handled, so after whatever watched
// the key's key-down. From no selection, Down (or any move) selects the first entry.
#pragma once

#include <QByteArray>
#include <QList>
#include <QListWidget>

namespace parlotrim {

class FileListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit FileListBox(QWidget* parent = nullptr);

  // Lists names (as the file system holds them; shown decoded), none selected.
  void SetNames(const QList<QByteArray>& names);
  // The bare name of the selected entry; empty when none is selected.
  QByteArray FileName() const;

 signals:
  void Clicked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

 private:
  void OnSelectionChanged();

  bool inKey_ = false;  // a key is being handled: selection changes come from the keyboard
};

}  // namespace parlotrim
