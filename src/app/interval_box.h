#pragma once
// The interval box: a single-line box with up/down arrows. Any typed text is accepted as it
// is; the arrows step the leading number of the text between 1 and 48.
#include <QAbstractSpinBox>

class IntervalBox : public QAbstractSpinBox {
  Q_OBJECT

 public:
  explicit IntervalBox(QWidget* parent = nullptr);

  QString text() const;
  void setText(const QString& text);
  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& position) const override;
  void fixup(QString& input) const override;

 signals:
  void focusLost();

 protected:
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;
};
