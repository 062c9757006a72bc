#include "ui/file_list_box.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

#include "platform/code_page.h"

namespace parlotrim {

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
  // The list takes the focus itself on a left press (mousePressEvent): the toolkit would give
  // it on a press of any button, before the list sees the press.
  setFocusPolicy(Qt::TabFocus);
  connect(this, &QListWidget::itemSelectionChanged, this, &FileListBox::OnSelectionChanged);
  connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) emit Clicked();
  });
}

void FileListBox::SetNames(const QList<NativeName>& names) {
  clear();
  for (const NativeName& name : names) {
    auto* item = new QListWidgetItem(DecodeFileName(name), this);
    item->setData(Qt::UserRole, name);
  }
  setCurrentItem(nullptr, QItemSelectionModel::Clear);
}

NativeName FileListBox::FileName() const {
  const QList<QListWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? NativeName()
                           : selected.first()->data(Qt::UserRole).value<NativeName>();
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

void FileListBox::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setFocus(Qt::MouseFocusReason);
  QListWidget::mousePressEvent(event);
}

void FileListBox::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) QListWidget::mouseReleaseEvent(event);
}

void FileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setFocus(Qt::MouseFocusReason);
  QListWidget::mouseDoubleClickEvent(event);
}

QModelIndex FileListBox::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (!currentIndex().isValid() && count() > 0 && action == MoveEnd)
    return model()->index(count() - 1, 0);
  return QListWidget::moveCursor(action, modifiers);
}

QItemSelectionModel::SelectionFlags FileListBox::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
  // In single selection, Ctrl with a click or Space on the selected entry deselects it; here it
  // leaves the selection as it is.
  const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
  return command.testFlag(QItemSelectionModel::Deselect) ? QItemSelectionModel::NoUpdate : command;
}

}  // namespace parlotrim
