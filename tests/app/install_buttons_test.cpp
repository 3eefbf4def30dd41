// The install buttons of the real window: a click runs the package's job, which reports
// in message boxes, keeps the install buttons disabled while it runs, and ends quietly
// when the application is asked to quit during it.
#include <QProcess>
#include <QTest>
#include <filesystem>

#include "platform/files.h"
#include "transaction/journal.h"
#include "window_fixture.h"

namespace {

// Zips `files` (relative path -> content) with Info-ZIP into `archive`.
bool makeArchive(const std::string& archive,
                 const std::vector<std::pair<std::string, std::string>>& files) {
  TempDir source;
  for (const auto& [path, content] : files) source.write(path, content);
  QProcess zip;
  zip.setWorkingDirectory(QString::fromStdString(source.path()));
  zip.start(QStringLiteral("zip"),
            {QStringLiteral("-qr"), QString::fromStdString(archive), QStringLiteral(".")});
  return zip.waitForFinished(30000) && zip.exitCode() == 0;
}

std::vector<QPushButton*> installButtons(MainWindow& w) {
  return {w.按钮_安装三端, w.按钮_安装功能, w.按钮_安装反挂, w.按钮_工具安装};
}

}  // namespace

class InstallButtonsTest : public QObject {
  Q_OBJECT

 private slots:
  void buttonsRunTheirJobsAndComeBackAfterwards() {
    WindowFixture fixture;
    QVERIFY(makeArchive(fixture.program.file("三端.zip"), {{"mir200/M2Server.exe", "m2"}}));
    QVERIFY(makeArchive(fixture.program.file("工具.zip"), {{"tool.exe", "tool"}}));
    fixture.open();
    MainWindow& w = *fixture.window;
    TempDir root;
    w.编辑框_三端目录->setPlainText(QString::fromStdString(root.path()));
    QVERIFY(w.按钮_安装三端->isEnabled());
    QVERIFY(!w.按钮_安装功能->isEnabled());

    // While the closing box is open the job still runs: every install button is disabled.
    int boxesSeenWithButtonsDisabled = 0;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (QApplication::activeModalWidget() == nullptr) return;
      bool allDisabled = true;
      for (QPushButton* button : installButtons(w)) allDisabled &= !button->isEnabled();
      if (allDisabled) ++boxesSeenWithButtonsDisabled;
    });
    watch.start();
    BoxAnswerer answerer;
    w.按钮_安装三端->click();
    w.按钮_工具安装->click();

    QCOMPARE(answerer.texts, (std::vector<std::string>{"安装完成", "安装完成"}));
    QCOMPARE(answerer.owners, (std::vector<bool>{true, true}));
    QVERIFY(boxesSeenWithButtonsDisabled > 0);
    QCOMPARE(readWholeFile(root.file("mir200/M2Server.exe")), std::string("m2"));
    QCOMPARE(readWholeFile(fixture.program.file("其他工具/tool.exe")), std::string("tool"));
    QVERIFY(w.按钮_安装三端->isEnabled());
    QVERIFY(!w.按钮_安装功能->isEnabled());
    QVERIFY(!w.按钮_安装反挂->isEnabled());
    QVERIFY(w.按钮_工具安装->isEnabled());
  }

  void rollbackButtonUndoesTheLastInstallInEachRoot() {
    WindowFixture fixture;
    QVERIFY(makeArchive(fixture.program.file("三端.zip"), {{"mir200/M2Server.exe", "m2"}}));
    fixture.open();
    MainWindow& w = *fixture.window;
    TempDir root;
    root.write("mir200/M2Server.exe", "old");
    w.编辑框_三端目录->setPlainText(QString::fromStdString(root.path()));
    BoxAnswerer answerer;
    w.按钮_安装三端->click();
    QCOMPARE(readWholeFile(root.file("mir200/M2Server.exe")), std::string("m2"));
    w.按钮_回滚三端->click();
    w.按钮_回滚三端->click();
    QCOMPARE(answerer.texts,
             (std::vector<std::string>{"安装完成", root.path() + "/ 已回滚到上次安装前的状态",
                                       root.path() + "/ 没有可回滚的安装"}));
    QCOMPARE(readWholeFile(root.file("mir200/M2Server.exe")), std::string("old"));
    QVERIFY(w.按钮_回滚三端->isEnabled());
  }

  void extractionFailureBoxHasNoOwner() {
    WindowFixture fixture;
    fixture.program.write("反挂.zip", "no zip archive");
    fixture.open();
    BoxAnswerer answerer;
    fixture.window->按钮_安装反挂->click();
    QCOMPARE(answerer.texts, std::vector<std::string>{"解压 反挂.zip 失败"});
    QCOMPARE(answerer.owners, std::vector<bool>{false});
  }

  // Last: the quit request leaves the application quitting for the rest of the program.
  void aQuitRequestDuringTheListingEndsTheJobQuietly() {
    WindowFixture fixture;
    QVERIFY(makeArchive(fixture.program.file("三端.zip"),
                        {{"mir200/a.dll", "a"}, {"mir200/b.dll", "b"}}));
    fixture.open();
    MainWindow& w = *fixture.window;
    TempDir root;
    w.编辑框_三端目录->setPlainText(QString::fromStdString(root.path()));
    BoxAnswerer answerer;
    // Handled by the first pump of the file listing, as a click on the close button would be.
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::Quit));
    w.按钮_安装三端->click();

    QVERIFY(answerer.texts.empty());
    QVERIFY(!fileExists(root.file("mir200")));
    QVERIFY(journalPaths(fixture.program.path() + "/").empty());
    QVERIFY(w.按钮_安装三端->isEnabled());
  }
};

QTEST_MAIN(InstallButtonsTest)
#include "install_buttons_test.moc"
