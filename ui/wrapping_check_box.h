// A check box whose caption wraps onto further lines within its box, beside the indicator,
// instead of running past its right edge. The whole box takes clicks.
#pragma once

#include <QCheckBox>

namespace parlotrim {

class WrappingCheckBox : public QCheckBox {
  Q_OBJECT

 public:
  explicit WrappingCheckBox(const QString& text, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  QRect CaptionRect() const;
};

}  // namespace parlotrim
