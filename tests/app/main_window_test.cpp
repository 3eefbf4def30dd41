// The main window under the offscreen platform: template, initial state, settings.
#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include <unistd.h>

#include "platform/files.h"
#include "platform/folder_lock.h"
#include "platform/ini.h"
#include "shell/program_folder.h"
#include "window_fixture.h"

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  static QRect inTab(MainWindow& window, QWidget* widget) {
    return QRect(widget->mapTo(window.选择夹1, QPoint(0, 0)), widget->size());
  }

 private slots:
  void templateGeometryAndTexts() {
    WindowFixture fixture;
    fixture.open();
    MainWindow& w = *fixture.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("下载器"));
    QCOMPARE(w.size(), QSize(681, 433));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(w.选择夹1->geometry(), QRect(5, 9, 664, 368));
    QCOMPARE(w.选择夹1->count(), 2);
    QCOMPARE(w.选择夹1->tabText(0), QStringLiteral("下载"));
    QCOMPARE(w.选择夹1->tabText(1), QStringLiteral("设置"));
    QCOMPARE(w.选择夹1->currentIndex(), 0);
    QCOMPARE(inTab(w, w.分组框1), QRect(11, 31, 200, 192));
    QCOMPARE(inTab(w, w.分组框3), QRect(429, 32, 200, 192));
    QCOMPARE(inTab(w, w.分组框5), QRect(11, 228, 200, 88));
    QCOMPARE(inTab(w, w.按钮_检查更新), QRect(552, 305, 80, 32));
    QCOMPARE(inTab(w, w.透明标签1), QRect(469, 345, 184, 14));
    QCOMPARE(inTab(w, w.分组框4), QRect(19, 39, 232, 56));
    QCOMPARE(w.按钮_安装功能->geometry(), QRect(112, 136, 48, 24));
    QCOMPARE(w.编辑框1->geometry(), QRect(144, 19, 32, 23));
    QCOMPARE(w.进度条1->geometry(), QRect(118, 382, 200, 18));
    QCOMPARE(w.分组框2->title(), QStringLiteral("Quzavi功能插件下载"));
    QCOMPARE(w.选择框_检查更新->text(), QStringLiteral("定时检查更新 每隔"));
    QCOMPARE(w.标签4->text(), QStringLiteral("小时"));
    QCOMPARE(w.编辑框_三端目录->toPlainText(), QStringLiteral("D:/Mirserver"));
    // Every control carries its template name as its object name.
    for (const char* name : {"按钮_下载三端", "编辑框_反挂目录", "标签5", "进度条1", "时钟1"}) {
      QVERIFY2(w.findChild<QObject*>(QString::fromUtf8(name)) != nullptr, name);
    }
    // The tab strip is not covered by the page layers: a click on it switches pages.
    QRect tab = w.选择夹1->tabBar()->tabRect(1);
    QVERIFY(tab.bottom() < 31);
  }

  void initialStateBeforeAnyDownload() {
    WindowFixture fixture;
    fixture.open();
    MainWindow& w = *fixture.window;
    for (QPushButton* b : {w.按钮_安装三端, w.按钮_安装功能, w.按钮_安装反挂, w.按钮_工具安装}) {
      QVERIFY(!b->isEnabled());
    }
    QVERIFY(!w.标签_提示内容->isVisible());
    QVERIFY(!w.进度条1->isVisible());
    QVERIFY(!w.标签_每秒速度->isVisible());
    QCOMPARE(w.编辑框1->text(), QStringLiteral("24"));
    QVERIFY(!w.选择框_检查更新->isChecked());
    QCOMPARE(w.透明标签1->text(), QStringLiteral("读取远程配置失败"));  // no manifest published
    QVERIFY(!fileExists(fixture.program.file("Config.ini")));
    // Leaving a directory box and closing the window without a change writes nothing.
    w.编辑框_三端目录->setFocus();
    w.编辑框_功能目录->setFocus();
    fixture.close();
    QVERIFY(!fileExists(fixture.program.file("Config.ini")));
  }

  void pageSwitchKeepsState() {
    WindowFixture fixture;
    fixture.program.write("Config.ini", "[Download]\r\nAuto=1\r\nTime=6\r\n");
    fixture.open();
    MainWindow& w = *fixture.window;
    QVERIFY(w.分组框1->isVisible());
    QVERIFY(!w.分组框4->isVisible());
    QTest::mouseClick(w.选择夹1->tabBar(), Qt::LeftButton, {},
                      w.选择夹1->tabBar()->tabRect(1).center());
    QCOMPARE(w.选择夹1->currentIndex(), 1);
    QVERIFY(w.分组框4->isVisible());
    QVERIFY(!w.分组框1->isVisible());
    w.选择夹1->setCurrentIndex(0);
    w.选择夹1->setCurrentIndex(1);
    QVERIFY(w.选择框_检查更新->isChecked());
    QCOMPARE(w.编辑框1->text(), QStringLiteral("6"));
  }

  void checkBoxClickSavesBothSettings() {
    WindowFixture fixture;
    fixture.open();
    MainWindow& w = *fixture.window;
    w.选择夹1->setCurrentIndex(1);
    fixture.now = 777;
    QTest::mouseClick(w.选择框_检查更新, Qt::LeftButton);
    QString config = QString::fromStdString(fixture.program.file("Config.ini"));
    QCOMPARE(QString::fromStdString(readWholeFile(config.toStdString())),
             QStringLiteral("[Download]\r\nAuto=1\r\nTime=24\r\n"));
    QCOMPARE(fixture.globals->lastCheckTick, uint64_t{777});
    QTest::mouseClick(w.选择框_检查更新, Qt::LeftButton);
    QCOMPARE(QString::fromStdString(iniRead(config.toStdString(), "Download", "Auto", "")),
             QStringLiteral("0"));
  }

  void intervalBoxAcceptsAnyTextAndSavesOnFocusLoss() {
    WindowFixture fixture;
    fixture.open();
    MainWindow& w = *fixture.window;
    w.选择夹1->setCurrentIndex(1);
    w.activateWindow();
    w.编辑框1->setFocus();
    QVERIFY(QTest::qWaitFor([&] { return w.编辑框1->hasFocus(); }, 2000));
    w.编辑框1->findChild<QLineEdit*>()->selectAll();
    QTest::keyClicks(w.编辑框1, QStringLiteral("100"));
    QCOMPARE(w.编辑框1->text(), QStringLiteral("100"));
    w.选择框_检查更新->setFocus();  // as a Tab key or a click elsewhere would
    QVERIFY(QTest::qWaitFor([&] { return !w.编辑框1->hasFocus(); }, 2000));
    std::string config = fixture.program.file("Config.ini");
    QCOMPARE(QString::fromStdString(iniRead(config, "Download", "Time", "")),
             QStringLiteral("100"));
    QCOMPARE(QString::fromStdString(iniRead(config, "Download", "Auto", "")), QStringLiteral("0"));
    // The arrows step the number between 1 and 48, from whatever was typed.
    w.编辑框1->stepBy(1);
    QCOMPARE(w.编辑框1->text(), QStringLiteral("48"));
    w.编辑框1->setText(QStringLiteral("2"));
    w.编辑框1->stepBy(-5);
    QCOMPARE(w.编辑框1->text(), QStringLiteral("1"));
  }

  void timerStartsACheckOnlyAfterTheInterval() {
    WindowFixture fixture;
    fixture.program.write("Config.ini", "[Download]\r\nAuto=1\r\nTime=1\r\n");
    fixture.open();
    MainWindow& w = *fixture.window;
    w.时钟1->setInterval(5);
    fixture.site.write("xiazaiqi/xiazai.txt", "[反挂]\r\n");
    fixture.now = 1000 + 3600000;
    QTest::qWait(50);
    QCOMPARE(w.透明标签1->text(), QStringLiteral("读取远程配置失败"));  // not yet checked again
    fixture.now = 1000 + 3600001;
    QTRY_COMPARE_WITH_TIMEOUT(w.透明标签1->text(), QStringLiteral("三端MD5 错误"), 5000);
    QCOMPARE(fixture.globals->lastCheckTick, uint64_t{1000 + 3600001});
  }

  void checkButtonRunsTheCheck() {
    WindowFixture fixture;
    fixture.open();
    MainWindow& w = *fixture.window;
    fixture.site.write("xiazaiqi/xiazai.txt",
                       "[三端]\r\nMD5=d41d8cd98f00b204e9800998ecf8427e\r\n[功能]\r\nMD5=x\r\n"
                       "[反挂]\r\nMD5=x\r\n[其他]\r\nMD5=x\r\n");
    QTest::mouseClick(w.按钮_检查更新, Qt::LeftButton);
    QVERIFY(fixture.settle());
    QCOMPARE(w.透明标签1->text(), QString());
    QCOMPARE(w.标签1->text(), QStringLiteral("最新版"));
    QCOMPARE(w.标签1->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    QCOMPARE(w.标签2->text(), QStringLiteral("发现新版"));
    QCOMPARE(w.标签2->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  }

  void aSecondWindowOnTheProgramFolderIsToldWhoHoldsIt() {
    TempDir program;
    FolderLockResult first = lockFolder(program.path(), std::chrono::milliseconds(0));
    QVERIFY(first.state == FolderLockState::Taken);
    MainWindow window;
    QtWindow bridge(&window);
    window.show();
    FolderLock second;
    {
      BoxAnswerer answerer;
      QVERIFY(!claimProgramFolder(bridge, program.path(), second));
      const std::string told =
          "另一个下载器(进程 " + std::to_string(::getpid()) + ")正在使用此目录";
      QCOMPARE(answerer.texts, std::vector<std::string>{told});
      QVERIFY(answerer.owners.front());  // over the window, which then closes
    }
    QVERIFY(!second.held());
    QVERIFY(!fileExists(program.file("Config.ini")));

    // Once the first has let go, the next window takes the folder without a word.
    first.lock.release();
    BoxAnswerer answerer;
    QVERIFY(claimProgramFolder(bridge, program.path(), second));
    QVERIFY(second.held());
    QVERIFY(answerer.texts.empty());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
