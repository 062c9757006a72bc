// A one-line text box that announces when it receives the focus from the user or the program.
// When a mouse press brings the focus, the announcement waits until the press has placed the
// caret, so that a handler that selects the text is not undone by the press. Focus that only
// comes back with the window (after a message box or a switch of application) is no news.
#pragma once

#include <QLineEdit>

namespace parlotrim {

class KeywordBox : public QLineEdit {
  Q_OBJECT

 public:
  explicit KeywordBox(QWidget* parent = nullptr);

 signals:
  void GotFocus();

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  bool focusByPress_ = false;
};

}  // namespace parlotrim
