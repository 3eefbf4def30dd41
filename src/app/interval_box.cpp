#include "interval_box.h"

#include <QLineEdit>
#include <QProxyStyle>
#include <QStyleOptionSpinBox>
#include <algorithm>

#include "update/settings.h"

namespace {
constexpr long kMinimumHours = 1;
constexpr long kMaximumHours = 48;
constexpr int kArrowWidth = 9;  // narrow arrows leave room for three digits in 32 pixels

// The application's style with narrower arrow buttons, so the number is never clipped.
class NarrowArrowStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                       const QWidget* widget) const override {
    if (control != CC_SpinBox) return QProxyStyle::subControlRect(control, option, part, widget);
    const QRect frame = option->rect.adjusted(1, 1, -1, -1);
    const int half = frame.height() / 2;
    const int arrowsLeft = frame.right() - kArrowWidth + 1;
    switch (part) {
      case SC_SpinBoxUp:
        return QRect(arrowsLeft, frame.top(), kArrowWidth, half);
      case SC_SpinBoxDown:
        return QRect(arrowsLeft, frame.top() + half, kArrowWidth, frame.height() - half);
      case SC_SpinBoxEditField:
        return QRect(frame.left() + 1, frame.top(), arrowsLeft - frame.left() - 1, frame.height());
      default:
        return QProxyStyle::subControlRect(control, option, part, widget);
    }
  }
};
}  // namespace

IntervalBox::IntervalBox(QWidget* parent) : QAbstractSpinBox(parent) {
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  setKeyboardTracking(true);
  // The box is only 32 pixels wide: no inner margins, so two digits fit beside the arrows.
  lineEdit()->setTextMargins(0, 0, 0, 0);
  lineEdit()->setContentsMargins(0, 0, 0, 0);
  setContentsMargins(0, 0, 0, 0);
  auto* style = new NarrowArrowStyle();
  style->setParent(this);
  setStyle(style);
}

QString IntervalBox::text() const {
  return lineEdit()->text();
}

void IntervalBox::setText(const QString& text) {
  lineEdit()->setText(text);
  lineEdit()->setCursorPosition(0);  // show the start of the number in the narrow box
}

void IntervalBox::stepBy(int steps) {
  long value = leadingNumber(text().toUtf8().constData()) + steps;
  setText(QString::number(std::clamp(value, kMinimumHours, kMaximumHours)));
}

QValidator::State IntervalBox::validate(QString&, int&) const {
  return QValidator::Acceptable;
}

void IntervalBox::fixup(QString&) const {}

QAbstractSpinBox::StepEnabled IntervalBox::stepEnabled() const {
  return StepUpEnabled | StepDownEnabled;
}

void IntervalBox::focusOutEvent(QFocusEvent* event) {
  QAbstractSpinBox::focusOutEvent(event);
  emit focusLost();
}
