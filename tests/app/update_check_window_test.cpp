// The window stays responsive while the update check waits on a manifest server that never
// answers or trickles, and Qt's own texts are Chinese.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "scripted_server.h"
#include "translations.h"
#include "window_fixture.h"

namespace {

// Measures the longest time the window thread was kept from its events.
class PauseProbe {
 public:
  PauseProbe() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      qint64 now = clock_.elapsed();
      if (last_ >= 0) longest = std::max(longest, now - last_);
      last_ = now;
    });
    clock_.start();
    timer_.start();
  }
  qint64 longest = 0;

 private:
  QElapsedTimer clock_;
  QTimer timer_;
  qint64 last_ = -1;
};

}  // namespace

class UpdateCheckWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void aTricklingManifestNeverFreezesTheWindow() {
    ScriptedServer slow([](ScriptedConnection& c) { tricklesForever(c, "[反挂]", 500); });
    WindowFixture fixture;
    fixture.manifestUrl = slow.url("/xiazaiqi/xiazai.txt");
    PauseProbe probe;
    fixture.open(true, false);
    MainWindow& w = *fixture.window;
    QVERIFY(fixture.globals->checkRunning);
    QVERIFY(!w.按钮_检查更新->isEnabled());
    QTest::qWait(300);
    w.选择夹1->setCurrentIndex(1);
    QTest::qWait(300);
    QVERIFY(w.编辑框1->isVisible());  // the settings page is painted
    w.选择夹1->setCurrentIndex(0);
    QTest::mouseClick(w.按钮_检查更新, Qt::LeftButton);  // disabled: nothing queues up
    QTest::qWait(1500);
    QVERIFY(fixture.globals->checkRunning);
    qInfo("longest pause of the window thread during a trickling check: %lld ms", probe.longest);
    // A check on the window thread would hold it for the whole fetch (tens of seconds); a busy
    // machine alone delays a 10 ms timer by far less.
    QVERIFY2(probe.longest < 3000, "the window thread was blocked by the check");
    QElapsedTimer closing;
    closing.start();
    fixture.close();
    qInfo("closing during the check took %lld ms", closing.elapsed());
    // Waiting for the fetch would take its 30 s idle limit; the check ends within a second,
    // with room for a sanitizer on a loaded machine.
    QVERIFY(closing.elapsed() < 10000);
  }

  void aSilentManifestServerLetsTheWindowPaintAndClose() {
    ScriptedServer silent(neverAnswers);
    WindowFixture fixture;
    fixture.manifestUrl = silent.url("/xiazaiqi/xiazai.txt");
    fixture.open(true, false);
    QVERIFY(fixture.window->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(fixture.window.get()));
    QVERIFY(fixture.globals->checkRunning);
    QCOMPARE(fixture.window->透明标签1->text(), QString());
    QElapsedTimer closing;
    closing.start();
    fixture.close();
    QVERIFY(closing.elapsed() < 10000);  // not the fetch's 30 s idle limit
  }

  void theIntervalBoxShowsThreeDigits() {
    WindowFixture fixture;
    fixture.open();
    IntervalBox* box = fixture.window->编辑框1;
    QCOMPARE(box->size(), QSize(32, 23));
    box->setText(QStringLiteral("100"));
    auto* edit = box->findChild<QLineEdit*>();
    QVERIFY(edit != nullptr);
    QVERIFY(edit->contentsRect().width() >= edit->fontMetrics().horizontalAdvance("100"));
  }

  void standardButtonsReadChinese() {
    QVERIFY(installChineseTranslations());
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
  }

  void rootsTypedIntoTheBoxesComeBackAtTheNextStart() {
    WindowFixture fixture;
    fixture.open();
    fixture.window->编辑框_三端目录->setPlainText(QStringLiteral("/srv/one\n/srv/two"));
    fixture.window->编辑框_反挂目录->setPlainText(QString());
    fixture.close();  // the window saves the boxes as it closes
    fixture.open();
    QCOMPARE(fixture.window->编辑框_三端目录->toPlainText(), QStringLiteral("/srv/one\n/srv/two"));
    QCOMPARE(fixture.window->编辑框_反挂目录->toPlainText(), QString());
    QCOMPARE(fixture.window->编辑框_功能目录->toPlainText(), QStringLiteral("D:/Mirserver"));
  }
};

QTEST_MAIN(UpdateCheckWindowTest)
#include "update_check_window_test.moc"
