// The package download jobs in the real window, against nginx on loopback.
#include <QElapsedTimer>
#include <QRegularExpression>
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

// nginx serves /slow/ at 4 MB/s and /slower/ at 1 MB/s per connection, so a download there
// lasts long enough to act during it.
void startSlowServer(WindowFixture& fixture) {
  fixture.server = std::make_unique<NginxServer>(
      fixture.site.path(),
      "location /slow/ { limit_rate 4m; }\nlocation /slower/ { limit_rate 1m; }");
}

// The speed label's text as bytes per second: "12.34KB/S", "1.50MB/S" or "1.00GB/S"; -1 for
// any other text.
double shownSpeed(const QString& text) {
  static const QRegularExpression form(QStringLiteral("^([0-9]+\\.[0-9]{2})(KB|MB|GB)/S$"));
  QRegularExpressionMatch match = form.match(text);
  if (!match.hasMatch()) return -1;
  double unit = match.captured(2) == QStringLiteral("KB")   ? 1024.0
                : match.captured(2) == QStringLiteral("MB") ? 1048576.0
                                                            : 1073741824.0;
  return match.captured(1).toDouble() * unit;
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
    // Two connections at 1 MB/s each: the download lasts at least six seconds on any machine.
    std::string bytes = patternBytes(12 * 1024 * 1024);
    fixture.site.write("slower/server.zip", bytes);
    startSlowServer(fixture);
    publish(fixture, "/slower/server.zip", md5OfBytes(bytes));
    fixture.open();
    fixture.globals->processorCount = 2;
    MainWindow& w = *fixture.window;
    // A 10 ms timer measures the longest time the window thread was kept from its events, and
    // advances the window's clock by a second every 100 ticks so the speed label is refreshed.
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    int ticks = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      qint64 now = clock.elapsed();
      if (fixture.globals->downloadBusy != 0 && last != 0) longest = std::max(longest, now - last);
      last = now;
      if (++ticks % 100 == 0) fixture.now += 1000;
    });
    clock.start();
    probe.start();
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.进度条1->value() > 5, 20000);
    QTest::mouseClick(w.按钮_下载工具, Qt::LeftButton);  // ignored while busy
    QVERIFY(!fileExists(fixture.program.file("工具.zip")));
    QCOMPARE(w.标签_提示内容->text(), QStringLiteral("正在下载三端文件:"));
    // The label shows the bytes of the last interval in its unit; how many depends on the
    // machine, so only the form and that bytes arrived are checked.
    QTRY_VERIFY_WITH_TIMEOUT(shownSpeed(w.标签_每秒速度->text()) > 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 60000);
    QVERIFY(fixture.settle());
    probe.stop();
    // A window thread that waited on the network would have stood still for seconds; a busy
    // machine alone delays a 10 ms timer by far less.
    qInfo("longest pause of the window thread while data flowed: %lld ms", longest);
    QVERIFY2(longest < 2000, "the window thread was blocked during the download");
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
