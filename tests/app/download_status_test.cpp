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
    QVERIFY(!fixture.window->按钮_安装三端->isEnabled());  // no archive is there any more
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

  void aDigestMismatchAfterTheDownloadIsTold() {
    WindowFixture fixture;
    fixture.site.write("packages/server.zip", "not what the manifest promises");
    fixture.server = std::make_unique<NginxServer>(fixture.site.path());
    publishServerPackage(fixture, fixture.server->url("/packages/server.zip"), md5OfBytes("x"));
    fixture.open();
    QCOMPARE(downloadServerPackage(fixture), QStringLiteral("三端.zip MD5与远程配置不符"));
    QCOMPARE(fixture.window->标签1->text(), QStringLiteral("发现新版"));
    QVERIFY(fixture.window->按钮_安装三端->isEnabled());
  }

  void theRunningDownloadsButtonStopsIt() {
    WindowFixture fixture;
    fixture.server =
        std::make_unique<NginxServer>(fixture.site.path(), "location /slow/ { limit_rate 1m; }");
    std::string bytes = patternBytes(16 * 1024 * 1024);
    fixture.site.write("slow/server.zip", bytes);
    publishServerPackage(fixture, fixture.server->url("/slow/server.zip"), md5OfBytes(bytes));
    fixture.open();
    MainWindow& w = *fixture.window;
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QCOMPARE(w.按钮_下载三端->text(), QStringLiteral("停止"));
    QCOMPARE(w.按钮_下载工具->text(), QStringLiteral("下载"));
    QTRY_VERIFY_WITH_TIMEOUT(w.进度条1->value() > 0, 20000);
    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 10000);
    QVERIFY(fixture.settle());
    QCOMPARE(w.按钮_下载三端->text(), QStringLiteral("下载"));
    QCOMPARE(w.透明标签1->text(), QStringLiteral("三端下载已停止"));
    QVERIFY(!w.进度条1->isVisible());
  }
};

QTEST_MAIN(DownloadStatusTest)
#include "download_status_test.moc"
