#include "main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "shell/controls.h"
#include "update/settings.h"
#include "update/update_check.h"

namespace {

// The page layers start at the top of the first page control, just under the tab strip, so
// they never cover the strip's tabs.
constexpr int kPageTop = 31;
constexpr int kTabLeft = 5, kTabTop = 9, kTabWidth = 664, kTabHeight = 368;

template <class Control>
Control* make(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* widget = new Control(parent);
  widget->setObjectName(QString::fromUtf8(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

// A control of a tab page: template coordinates are relative to the tab control.
template <class Control>
Control* makeOnPage(QWidget* page, const char* name, int left, int top, int width, int height) {
  return make<Control>(page, name, left, top - kPageTop, width, height);
}

QPlainTextEdit* makeRootBox(QWidget* parent, const char* name) {
  auto* box = make<QPlainTextEdit>(parent, name, 8, 19, 184, 112);
  box->setPlainText(QStringLiteral("D:/Mirserver"));
  box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  return box;
}

QIcon applicationIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(30, 110, 200));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(2, 2, 28, 28, 6, 6);
  painter.setBrush(Qt::white);
  const QPoint arrow[] = {{16, 26}, {7, 15}, {12, 15}, {12, 6}, {20, 6}, {20, 15}, {25, 15}};
  painter.drawPolygon(arrow, 7);
  return QIcon(pixmap);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("主窗口"));
  setWindowTitle(QStringLiteral("下载器"));
  setWindowIcon(applicationIcon());
  setFixedSize(kWidth, kHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->geometry();
    move((area.width() - kWidth) / 2, (area.height() - kHeight) / 2);
  }
  选择夹1 = make<QTabWidget>(this, control::选择夹1, kTabLeft, kTabTop, kTabWidth, kTabHeight);
  选择夹1->addTab(new QWidget, QStringLiteral("下载"));
  选择夹1->addTab(new QWidget, QStringLiteral("设置"));
  buildDownloadPage();
  buildSettingsPage();
  buildProgressLine();
  connect(选择夹1, &QTabWidget::currentChanged, this, &MainWindow::showPage);
  选择夹1->setCurrentIndex(0);
  showPage(0);
}

void MainWindow::buildDownloadPage() {
  下载页 = make<QWidget>(选择夹1, "下载页", 0, kPageTop, kTabWidth, kTabHeight - kPageTop);
  QWidget* page = 下载页;

  分组框1 = makeOnPage<QGroupBox>(page, control::分组框1, 11, 31, 200, 192);
  分组框1->setTitle(QStringLiteral("Velmar三端下载"));
  编辑框_三端目录 = makeRootBox(分组框1, control::编辑框_三端目录);
  按钮_下载三端 = make<QPushButton>(分组框1, control::按钮_下载三端, 24, 136, 56, 24);
  按钮_安装三端 = make<QPushButton>(分组框1, control::按钮_安装三端, 112, 136, 56, 24);
  标签1 = make<QLabel>(分组框1, control::标签1, 28, 168, 64, 14);

  分组框2 = makeOnPage<QGroupBox>(page, control::分组框2, 219, 32, 200, 192);
  分组框2->setTitle(QStringLiteral("Quzavi功能插件下载"));
  编辑框_功能目录 = makeRootBox(分组框2, control::编辑框_功能目录);
  按钮_下载功能 = make<QPushButton>(分组框2, control::按钮_下载功能, 24, 136, 56, 24);
  按钮_安装功能 = make<QPushButton>(分组框2, control::按钮_安装功能, 112, 136, 48, 24);
  标签2 = make<QLabel>(分组框2, control::标签2, 28, 168, 64, 14);

  分组框3 = makeOnPage<QGroupBox>(page, control::分组框3, 429, 32, 200, 192);
  分组框3->setTitle(QStringLiteral("Quzavi反挂插件下载"));
  编辑框_反挂目录 = makeRootBox(分组框3, control::编辑框_反挂目录);
  按钮_下载反挂 = make<QPushButton>(分组框3, control::按钮_下载反挂, 24, 136, 56, 24);
  按钮_安装反挂 = make<QPushButton>(分组框3, control::按钮_安装反挂, 112, 136, 48, 24);
  标签3 = make<QLabel>(分组框3, control::标签3, 28, 168, 64, 14);

  分组框5 = makeOnPage<QGroupBox>(page, control::分组框5, 11, 228, 200, 88);
  分组框5->setTitle(QStringLiteral("其他工具下载"));
  按钮_下载工具 = make<QPushButton>(分组框5, control::按钮_下载工具, 25, 25, 55, 26);
  按钮_工具安装 = make<QPushButton>(分组框5, control::按钮_工具安装, 112, 26, 56, 26);
  标签5 = make<QLabel>(分组框5, control::标签5, 15, 62, 56, 16);

  // Rollback sits in the free space below each 安装 button, as wide as it; nothing moves.
  按钮_回滚三端 = make<QPushButton>(分组框1, control::按钮_回滚三端, 112, 164, 56, 22);
  按钮_回滚功能 = make<QPushButton>(分组框2, control::按钮_回滚功能, 112, 164, 48, 22);
  按钮_回滚反挂 = make<QPushButton>(分组框3, control::按钮_回滚反挂, 112, 164, 48, 22);
  for (QPushButton* button : {按钮_回滚三端, 按钮_回滚功能, 按钮_回滚反挂}) {
    button->setText(QStringLiteral("回滚"));
    button->setToolTip(QStringLiteral("回滚到上次安装前的状态"));
  }

  for (QPushButton* button : {按钮_下载三端, 按钮_下载功能, 按钮_下载反挂, 按钮_下载工具}) {
    button->setText(QStringLiteral("下载"));
  }
  for (QPushButton* button : {按钮_安装三端, 按钮_安装功能, 按钮_安装反挂, 按钮_工具安装}) {
    button->setText(QStringLiteral("安装"));
    button->setEnabled(false);
  }

  按钮_检查更新 = makeOnPage<QPushButton>(page, control::按钮_检查更新, 552, 305, 80, 32);
  按钮_检查更新->setText(QStringLiteral("检查更新"));
  透明标签1 = makeOnPage<QLabel>(page, control::透明标签1, 469, 345, 184, 14);
  透明标签1->setAutoFillBackground(false);
  透明标签1->setAttribute(Qt::WA_TranslucentBackground);

  时钟1 = new QTimer(this);
  时钟1->setObjectName(QString::fromUtf8(control::时钟1));
  时钟1->setInterval(kCheckTimerPeriodMs);
}

void MainWindow::buildSettingsPage() {
  设置页 = make<QWidget>(选择夹1, "设置页", 0, kPageTop, kTabWidth, kTabHeight - kPageTop);
  分组框4 = makeOnPage<QGroupBox>(设置页, control::分组框4, 19, 39, 232, 56);
  分组框4->setTitle(QStringLiteral("自动更新"));
  选择框_检查更新 = make<QCheckBox>(分组框4, control::选择框_检查更新, 16, 24, 128, 16);
  选择框_检查更新->setText(QStringLiteral("定时检查更新 每隔"));
  编辑框1 = make<IntervalBox>(分组框4, control::编辑框1, 144, 19, 32, 23);
  编辑框1->setText(QStringLiteral("24"));
  标签4 = make<QLabel>(分组框4, control::标签4, 200, 23, 24, 17);
  标签4->setText(QStringLiteral("小时"));
}

void MainWindow::buildProgressLine() {
  标签_提示内容 = make<QLabel>(this, control::标签_提示内容, 7, 385, 105, 13);
  进度条1 = make<QProgressBar>(this, control::进度条1, 118, 382, 200, 18);
  进度条1->setRange(0, 100);
  进度条1->setValue(0);
  标签_每秒速度 = make<QLabel>(this, control::标签_每秒速度, 330, 384, 128, 16);
  for (QWidget* widget : {static_cast<QWidget*>(标签_提示内容), static_cast<QWidget*>(进度条1),
                          static_cast<QWidget*>(标签_每秒速度)}) {
    widget->setVisible(false);
  }
}

void MainWindow::showPage(int index) {
  下载页->setVisible(index == 0);
  设置页->setVisible(index == 1);
  (index == 0 ? 下载页 : 设置页)->raise();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  const bool rootBox =
      watched == 编辑框_三端目录 || watched == 编辑框_功能目录 || watched == 编辑框_反挂目录;
  if (rootBox && event->type() == QEvent::FocusOut) emit rootBoxLeft();
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  emit closing();
  QWidget::closeEvent(event);
}

void MainWindow::bindEvents(Globals& g) {
  for (QPlainTextEdit* box : {编辑框_三端目录, 编辑框_功能目录, 编辑框_反挂目录}) {
    box->installEventFilter(this);
  }
  connect(this, &MainWindow::rootBoxLeft, this, [&g] { saveServerRoots(g); });
  connect(this, &MainWindow::closing, this, [&g] { saveServerRoots(g); });
  connect(时钟1, &QTimer::timeout, this, [&g] { onCheckTimer(g); });
  connect(选择框_检查更新, &QCheckBox::clicked, this, [&g] { saveAutoCheckSettings(g); });
  connect(编辑框1, &IntervalBox::focusLost, this, [&g] { saveAutoCheckSettings(g); });
  connect(按钮_检查更新, &QPushButton::clicked, this, [&g] { checkForUpdates(g); });
}

void MainWindow::startCheckTimer() {
  时钟1->start();
}
