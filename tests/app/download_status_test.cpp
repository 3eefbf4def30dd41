// What the status line says when a package download ends without a current archive, and the
// 停止 button of a running download.
#include <QTest>

#include "download_jobs/package_download.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "scripted_server.h"
#include "window_fixture.h"

namespace {

void publishServerPackage(WindowFixture& fixture, const std::string& url, const std::string& md5) {
  fixture.site.write("xiazaiqi/xiazai.txt",
                     "[三端]\r\nURL=" + url + "\r\nMD5=" + md5 +
                         "\r\n[功能]\r\nMD5=x\r\n[反挂]\r\nMD5=x\r\n[其他]\r\nMD5=x\r\n");
}

// Downloads the server package and waits until the check after it has spoken.
QString downloadServerPackage(WindowFixture& fixture) {
  MainWindow& w = *fixture.window;
  QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
  if (!QTest::qWaitFor([&] { return fixture.globals->downloadBusy == 0; }, 60000)) return "busy";
  if (!fixture.settle()) return "checking";
  qInfo("status line: %s", qPrintable(w.透明标签1->text()));
  return w.透明标签1->text();
}

}  // namespace

class DownloadStatusTest : public QObject {
  Q_OBJECT

 private slots:
  void aMissingPackageSaysTheServerRefused() {
    WindowFixture fixture;
    fixture.program.write("三端.zip", "an old archive");
    fixture.server = std::make_unique<NginxServer>(fixture.site.path());
    publishServerPackage(fixture, fixture.server->url("/missing.zip"), md5OfBytes("x"));
    fixture.open();
    QVERIFY(fixture.window->按钮_安装三端->isEnabled());
    QString status = downloadServerPackage(fixture);
    QVERIFY2(status.startsWith(QStringLiteral("三端下载失败: 服务器拒绝")), qPrintable(status));
    // The old archive stays until a new one is complete, and can still be installed.
    QCOMPARE(readWholeFile(fixture.program.file("三端.zip")), std::string("an old archive"));
    QVERIFY(fixture.window->按钮_安装三端->isEnabled());
  }

  void aServerThatIsDownSaysTheNetworkFailed() {
    WindowFixture fixture;
    fixture.configure = [](Globals& g) {
      g.downloadTuning.retryLimit = 2;
      g.downloadTuning.retryWaitMs = 20;
    };
    publishServerPackage(fixture,
                         "http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/a.zip",
                         md5OfBytes("x"));
    fixture.open();
    QString status = downloadServerPackage(fixture);
    QVERIFY2(status.startsWith(QStringLiteral("三端下载失败: 网络不通")), qPrintable(status));
  }

  void aDigestMismatchKeepsTheOldArchiveAndIsTold() {
    WindowFixture fixture;
    fixture.program.write("三端.zip", "an old archive");
    fixture.site.write("packages/server.zip", "not what the manifest promises");
    fixture.server = std::make_unique<NginxServer>(fixture.site.path());
    publishServerPackage(fixture, fixture.server->url("/packages/server.zip"), md5OfBytes("x"));
    fixture.open();
    QCOMPARE(downloadServerPackage(fixture), QStringLiteral("三端.zip MD5与远程配置不符"));
    QCOMPARE(fixture.window->标签1->text(), QStringLiteral("发现新版"));
    QCOMPARE(readWholeFile(fixture.program.file("三端.zip")), std::string("an old archive"));
    QVERIFY(!fileExists(fixture.program.file("三端.zip.part")));
    QVERIFY(fixture.window->按钮_安装三端->isEnabled());
  }

  void theRunningDownloadsButtonStopsItAndTheNextClickContinues() {
    WindowFixture fixture;
    fixture.server =
        std::make_unique<NginxServer>(fixture.site.path(), "location /slow/ { limit_rate 1m; }");
    std::string bytes = patternBytes(16 * 1024 * 1024);
    fixture.site.write("slow/server.zip", bytes);
    fixture.program.write("三端.zip", "an old archive");
    publishServerPackage(fixture, fixture.server->url("/slow/server.zip"), md5OfBytes(bytes));
    fixture.open();
    MainWindow& w = *fixture.window;
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QCOMPARE(w.按钮_下载三端->text(), QStringLiteral("停止"));
    QCOMPARE(w.按钮_下载工具->text(), QStringLiteral("下载"));
    QVERIFY(w.按钮_安装三端->isEnabled());  // the old archive is still there
    QTRY_VERIFY_WITH_TIMEOUT(w.进度条1->value() > 0, 20000);
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 10000);
    QVERIFY(fixture.settle());
    QCOMPARE(w.按钮_下载三端->text(), QStringLiteral("下载"));
    QCOMPARE(w.透明标签1->text(), QStringLiteral("三端下载已停止"));
    QVERIFY(!w.进度条1->isVisible());
    QCOMPARE(readWholeFile(fixture.program.file("三端.zip")), std::string("an old archive"));
    QVERIFY(w.按钮_安装三端->isEnabled());
    std::string state = readWholeFile(fixture.program.file("三端.zip.part.state"));
    int64_t stoppedAt = Download::querySnapshot(std::vector<uint8_t>(state.begin(), state.end()),
                                                SnapshotQuery::BytesDone, 0);
    QVERIFY(stoppedAt > 0);

    // The next click continues: the progress line starts at the bytes already there, and the
    // reason the last one stopped is gone.
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QCOMPARE(w.透明标签1->text(), QString());
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->totalBytes > 0, 20000);
    QVERIFY(fixture.globals->doneBytes >= stoppedAt);
    QVERIFY(w.进度条1->value() >= static_cast<int>(stoppedAt * 100 / (16 * 1024 * 1024)));
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 60000);
    QVERIFY(fixture.settle());
    QVERIFY(readWholeFile(fixture.program.file("三端.zip")) == bytes);
    QVERIFY(!fileExists(fixture.program.file("三端.zip.part")));
    QVERIFY(!fileExists(fixture.program.file("三端.zip.part.state")));
    QCOMPARE(w.标签1->text(), QStringLiteral("最新版"));
  }
};

QTEST_MAIN(DownloadStatusTest)
#include "download_status_test.moc"
