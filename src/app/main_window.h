#pragma once
// The main window, built in code from its fixed template. Every control is a public member
// named as in the template and carries that name as its Qt object name, so the core reaches
// it by name through QtWindow. Controls of the two tab pages sit on one layer per page above
// the tab control, placed relative to the tab control's own top-left corner (tab strip
// included), as the template's coordinates mean.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

#include "interval_box.h"
#include "zip/zip.h"

struct Globals;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 681;
  static constexpr int kHeight = 433;

  explicit MainWindow(QWidget* parent = nullptr);

  QTabWidget* 选择夹1;
  // Page "下载"
  QWidget* 下载页;
  QGroupBox* 分组框1;
  QPlainTextEdit* 编辑框_三端目录;
  QPushButton* 按钮_下载三端;
  QPushButton* 按钮_安装三端;
  QLabel* 标签1;
  QGroupBox* 分组框2;
  QPlainTextEdit* 编辑框_功能目录;
  QPushButton* 按钮_下载功能;
  QPushButton* 按钮_安装功能;
  QLabel* 标签2;
  QGroupBox* 分组框3;
  QPlainTextEdit* 编辑框_反挂目录;
  QPushButton* 按钮_下载反挂;
  QPushButton* 按钮_安装反挂;
  QLabel* 标签3;
  // Below each 安装 button (not in the original template): rollback of the last install.
  QPushButton* 按钮_回滚三端;
  QPushButton* 按钮_回滚功能;
  QPushButton* 按钮_回滚反挂;
  QGroupBox* 分组框5;
  QPushButton* 按钮_下载工具;
  QPushButton* 按钮_工具安装;
  QLabel* 标签5;
  QPushButton* 按钮_检查更新;
  QLabel* 透明标签1;
  QTimer* 时钟1;
  ZIP ZIP压缩1;
  // Page "设置"
  QWidget* 设置页;
  QGroupBox* 分组框4;
  QCheckBox* 选择框_检查更新;
  IntervalBox* 编辑框1;
  QLabel* 标签4;
  // Progress line below the tab control
  QLabel* 标签_提示内容;
  QProgressBar* 进度条1;
  QLabel* 标签_每秒速度;

  // Binds the events that the settings and update check handle (the package buttons are
  // bound in bindings.h). Separate from construction so tests can build an unbound window.
  void bindEvents(Globals& g);
  // Starts the periodic-check timer.
  void startCheckTimer();

 signals:
  // A directory box lost the keyboard focus.
  void rootBoxLeft();
  // The window is closing (before it hides).
  void closing();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildDownloadPage();
  void buildSettingsPage();
  void buildProgressLine();
  void showPage(int index);
};
