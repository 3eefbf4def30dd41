// The road of one package through the real window, against the demo vendor site: check,
// download, install into two roots (one missing), plugin list edited, "安装完成".
#include <QTest>
#include <filesystem>

#include "demo_site.h"
#include "platform/files.h"
#include "window_fixture.h"

class RoadOfAPackageTest : public QObject {
  Q_OBJECT

 private slots:
  void serverPackageFromNewToInstalled() {
    DemoSite site;
    TempDir root;
    root.write("mir200/PlugList.txt", "A.dll\r\njxq.dll\r\n");
    WindowFixture fixture;
    fixture.open();
    fixture.globals->manifestUrl = site.manifestUrl();
    MainWindow& w = *fixture.window;
    QTest::mouseClick(w.按钮_检查更新, Qt::LeftButton);
    QVERIFY(fixture.settle());
    QCOMPARE(w.标签1->text(), QStringLiteral("发现新版"));
    QVERIFY(!w.按钮_安装三端->isEnabled());

    QTest::mouseClick(w.按钮_下载三端, Qt::LeftButton);
    QVERIFY(w.进度条1->isVisible());
    QCOMPARE(w.标签_提示内容->text(), QStringLiteral("正在下载三端文件:"));
    QTRY_VERIFY_WITH_TIMEOUT(fixture.globals->downloadBusy == 0, 60000);
    QVERIFY(fixture.settle());
    QVERIFY(!w.进度条1->isVisible());
    QCOMPARE(w.标签1->text(), QStringLiteral("最新版"));
    QVERIFY(w.按钮_安装三端->isEnabled());

    std::string missing = root.file("missing");
    w.编辑框_三端目录->setPlainText(QString::fromStdString(missing + "\n" + root.path()));
    BoxAnswerer boxes;
    QTest::mouseClick(w.按钮_安装三端, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts.size(), size_t{2}, 30000);
    QCOMPARE(QString::fromStdString(boxes.texts[0]),
             QString::fromStdString(missing + "目录不存在"));
    QCOMPARE(QString::fromStdString(boxes.texts[1]), QStringLiteral("安装完成"));
    QVERIFY(boxes.owners[0] && boxes.owners[1]);
    QVERIFY(fileExists(root.file("mir200/M2Server.exe")));
    QVERIFY(fileExists(root.file("SelGate/SelGate.exe")));
    QVERIFY(fileExists(root.file("Velmar引擎控制台/控制台.exe")));
    QVERIFY(!fileExists(root.file("更新说明.txt")));
    QCOMPARE(QString::fromStdString(readWholeFile(root.file("mir200/PlugList.txt"))),
             QStringLiteral("A.dll\r\nM2LinkerX86.dll\r\nQZVM2PlusLoad.dll\r\n"));
    QVERIFY(!std::filesystem::exists(missing));
  }
};

QTEST_MAIN(RoadOfAPackageTest)
#include "road_of_a_package_test.moc"
