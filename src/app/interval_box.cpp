#include "interval_box.h"

#include <QLineEdit>
#include <algorithm>

#include "update/settings.h"

namespace {
constexpr long kMinimumHours = 1;
constexpr long kMaximumHours = 48;
}  // namespace

IntervalBox::IntervalBox(QWidget* parent) : QAbstractSpinBox(parent) {
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  setKeyboardTracking(true);
  // The box is only 32 pixels wide: no inner margins, so two digits fit beside the arrows.
  lineEdit()->setTextMargins(0, 0, 0, 0);
  lineEdit()->setContentsMargins(0, 0, 0, 0);
  setContentsMargins(0, 0, 0, 0);
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
