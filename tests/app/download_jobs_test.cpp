// The package download jobs in the real window, against nginx on loopback.
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "platform/files.h"
#include "platform/md5.h"
#include "window_fixture.h"

namespace {

// Publishes a manifest whose server package is `serverPath` on the fixture's site.
void publish(WindowFixture& fixture, const std::string& serverPath, const std::string& md5) {
  std::string url = fixture.server->url(serverPath);
  fixture.site.write("xiazaiqi/xiazai.txt",
                     "[三端]\r\nURL=" + url + "\r\nMD5=" + md5 +
                         "\r\n[功能]\r\nURL=\r\nMD5=x\r\n[反挂]\r\nURL=\r\nMD5=x\r\n"
                         "[其他]\r\nURL=" +
                         url + "\r\nMD5=x\r\n");
}

// nginx serves /slow/ at 4 MB/s, so a download there lasts long enough to act during it.
void startSlowServer(WindowFixture& fixture) {
  fixture.server =
      std::make_unique<NginxServer>(fixture.site.path(), "location /slow/ { limit_rate 4m; }");
}

}  // namespace

class DownloadJobsTest : public QObject {
  Q_OBJECT

 private slots:
  void clickDownloadsTheArchiveAndTheCheckTurnsCurrent() {
    WindowFixture fixture;
    std::string bytes = patternBytes(3 * 1024 * 1024 + 7);
    fixture.site.write("packages/server.zip", bytes);
    fixture.program.write("三端.zip", "an old archive");
    startSlowServer(fixture);
    publish(fixture, "/packages/server.zip", md5OfBytes(bytes));
    fixture.open();
    MainWindow& w = *fixture.window;
    QCOMPARE(w.标签1->text(), QStringLiteral("发现新版"));
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QVERIFY(w.进度条1->isVisible());
    QVERIFY(w.标签_每秒速度->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 60000);
    QVERIFY(fixture.settle());
    QVERIFY(!w.进度条1->isVisible());
    QVERIFY(!w.标签_提示内容->isVisible());
    QCOMPARE(w.标签_提示内容->text(), QString());
    QCOMPARE(w.进度条1->value(), 0);
    QVERIFY(readWholeFile(fixture.program.file("三端.zip")) == bytes);
    QCOMPARE(w.标签1->text(), QStringLiteral("最新版"));
    QVERIFY(w.按钮_安装三端->isEnabled());
  }

  void secondClickDuringADownloadChangesNothingAndTheWindowKeepsRepainting() {
    WindowFixture fixture;
    std::string bytes = patternBytes(12 * 1024 * 1024);
    fixture.site.write("slow/server.zip", bytes);
    startSlowServer(fixture);
    publish(fixture, "/slow/server.zip", md5OfBytes(bytes));
    fixture.open();
    MainWindow& w = *fixture.window;
    // A 10 ms timer measures the longest time the window thread was kept from its events.
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      qint64 now = clock.elapsed();
      if (fixture.globals->downloadBusy != 0 && last != 0) longest = std::max(longest, now - last);
      last = now;
    });
    clock.start();
    probe.start();
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.进度条1->value() > 5, 20000);
    QTest::mouseClick(w.按钮_下载工具, Qt::LeftButton);  // ignored while busy
    QVERIFY(!fileExists(fixture.program.file("工具.zip")));
    QCOMPARE(w.标签_提示内容->text(), QStringLiteral("正在下载三端文件:"));
    QTRY_VERIFY_WITH_TIMEOUT(w.标签_每秒速度->text().endsWith(QStringLiteral("MB/S")), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 60000);
    QVERIFY(fixture.settle());
    probe.stop();
    qInfo("longest pause of the window thread while data flowed: %lld ms", longest);
    QVERIFY2(longest < 500, "the window thread was blocked during the download");
    QCOMPARE(w.标签1->text(), QStringLiteral("最新版"));
  }

  void emptyUrlShowsItsMessageAndKeepsTheOldArchive() {
    WindowFixture fixture;
    fixture.program.write("功能.zip", "old");
    fixture.open();
    fixture.site.write("xiazaiqi/xiazai.txt", "[三端]\r\nMD5=x\r\n[反挂]\r\n");
    QTest::mouseClick(fixture.window->按钮_检查更新, Qt::LeftButton);
    BoxAnswerer boxes;
    QTest::mouseClick(fixture.window->按钮_下载功能, Qt::LeftButton);
    QTRY_COMPARE(boxes.texts.size(), size_t{1});
    QCOMPARE(QString::fromStdString(boxes.texts[0]), QStringLiteral("功能下载地址为空"));
    QVERIFY(boxes.owners[0]);
    QCOMPARE(QString::fromStdString(readWholeFile(fixture.program.file("功能.zip"))),
             QStringLiteral("old"));
    QCOMPARE(fixture.globals->downloadBusy, 0);
    QVERIFY(!fixture.window->进度条1->isVisible());
  }

  void failedTransferReturnsToIdleAndStaysNew() {
    WindowFixture fixture;
    startSlowServer(fixture);
    publish(fixture, "/packages/missing.zip", md5OfBytes("whatever"));
    fixture.open();
    MainWindow& w = *fixture.window;
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 30000);
    QVERIFY(fixture.settle());
    QVERIFY(!w.进度条1->isVisible());
    QCOMPARE(w.标签1->text(), QStringLiteral("发现新版"));
    QVERIFY(!w.按钮_安装三端->isEnabled());
    // The job is idle again: the next click starts a new download.
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QVERIFY(w.进度条1->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 30000);
    QVERIFY(fixture.settle());
  }

  void closingTheWindowDuringADownloadEndsCleanly() {
    WindowFixture fixture;
    std::string bytes = patternBytes(32 * 1024 * 1024);
    fixture.site.write("slow/server.zip", bytes);
    startSlowServer(fixture);
    publish(fixture, "/slow/server.zip", md5OfBytes(bytes));
    fixture.open();
    QTest::mouseClick(fixture.window->按钮_下载三端, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.window->进度条1->value() > 1, 20000);
    QElapsedTimer closing;
    closing.start();
    fixture.close();  // stops the download and waits for its threads
    qInfo("closing during a download took %lld ms", closing.elapsed());
    QVERIFY(fixture.globals == nullptr);
    QTest::qWait(100);  // late events, if any, find nothing to touch
  }
};

QTEST_MAIN(DownloadJobsTest)
#include "download_jobs_test.moc"
