#include "ui/file_list_box.h"

#include <QDir>
#include <QItemSelectionModel>
#include <QKeyEvent>

namespace parlotrim {

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemSelectionChanged, this, &FileListBox::OnSelectionChanged);
  connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) emit Clicked();
  });
}

void FileListBox::SetFolder(const QString& folder) {
  QDir dir(folder);
  dir.setNameFilters({QStringLiteral("*.txt")});
  dir.setFilter(QDir::Files);  // matching is case-insensitive unless QDir::CaseSensitive
  dir.setSorting(QDir::Name | QDir::IgnoreCase);
  clear();
  addItems(dir.entryList());
  setCurrentItem(nullptr, QItemSelectionModel::Clear);
}

QString FileListBox::FileName() const {
  const QList<QListWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->text();
}

void FileListBox::OnSelectionChanged() {
  if (inKey_) emit Clicked();
}

void FileListBox::keyPressEvent(QKeyEvent* event) {
  // The view puts its cursor on the first entry when it gets the focus, without selecting
  // it; with nothing selected, a move must select the first entry rather than step past it.
  if (selectedItems().isEmpty() && currentIndex().isValid())
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  inKey_ = true;
  QListWidget::keyPressEvent(event);
  inKey_ = false;
}

QModelIndex FileListBox::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (!currentIndex().isValid() && count() > 0 && action == MoveEnd)
    return model()->index(count() - 1, 0);
  return QListWidget::moveCursor(action, modifiers);
}

}  // namespace parlotrim
