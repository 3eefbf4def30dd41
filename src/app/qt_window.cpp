#include "qt_window.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "interval_box.h"

namespace {

QString toQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtWindow::QtWindow(QWidget* mainWindow) : mainWindow_(mainWindow) {}

QWidget* QtWindow::find(std::string_view control) const {
  QString name = toQString(control);
  if (mainWindow_->objectName() == name) return mainWindow_;
  return mainWindow_->findChild<QWidget*>(name);
}

void QtWindow::setText(std::string_view control, std::string_view text) {
  QWidget* widget = find(control);
  QString value = toQString(text);
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
    edit->setPlainText(value);
  } else if (auto* box = qobject_cast<IntervalBox*>(widget)) {
    box->setText(value);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(value);
  }
}

std::string QtWindow::text(std::string_view control) {
  QWidget* widget = find(control);
  QString value;
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    value = label->text();
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    value = button->text();
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
    value = edit->toPlainText();
  } else if (auto* box = qobject_cast<IntervalBox*>(widget)) {
    value = box->text();
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    value = group->title();
  }
  return value.toStdString();
}

void QtWindow::setVisible(std::string_view control, bool visible) {
  if (QWidget* widget = find(control)) widget->setVisible(visible);
}

void QtWindow::setEnabled(std::string_view control, bool enabled) {
  if (QWidget* widget = find(control)) widget->setEnabled(enabled);
}

bool QtWindow::isEnabled(std::string_view control) {
  QWidget* widget = find(control);
  return widget != nullptr && widget->isEnabled();
}

void QtWindow::setTextColor(std::string_view control, Rgb color) {
  QWidget* widget = find(control);
  if (widget == nullptr) return;
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, QColor(color.red, color.green, color.blue));
  widget->setPalette(palette);
}

void QtWindow::setChecked(std::string_view control, bool checked) {
  if (auto* button = qobject_cast<QAbstractButton*>(find(control))) button->setChecked(checked);
}

bool QtWindow::isChecked(std::string_view control) {
  auto* button = qobject_cast<QAbstractButton*>(find(control));
  return button != nullptr && button->isChecked();
}

void QtWindow::setProgress(std::string_view control, int position) {
  if (auto* bar = qobject_cast<QProgressBar*>(find(control))) bar->setValue(position);
}

void QtWindow::messageBox(std::string_view text, BoxOwner owner) {
  QMessageBox box(owner == BoxOwner::MainWindow ? mainWindow_ : nullptr);
  box.setObjectName(QStringLiteral("消息框"));
  box.setWindowTitle(QStringLiteral("下载器"));
  box.setText(toQString(text));
  box.setStandardButtons(QMessageBox::Ok);
  box.setWindowModality(owner == BoxOwner::MainWindow ? Qt::WindowModal : Qt::ApplicationModal);
  box.exec();
}

void QtWindow::pumpEvents() {
  QCoreApplication::processEvents();
}

void QtWindow::postToWindowThread(std::function<void()> work) {
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}
