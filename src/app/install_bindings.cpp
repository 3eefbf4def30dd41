// The four install buttons run their install jobs on the window thread, on the window's zip
// component; the three rollback buttons undo the last install of their package in its roots. A
// request to quit that arrives while a job handles window events is noted for the job (which then
// ends quietly) and still goes on to end the application.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPushButton>

#include "bindings.h"
#include "install/event_pump.h"
#include "install/install_jobs.h"
#include "install/rollback_job.h"
#include "main_window.h"

namespace {

// Watches the application object for its Quit event, which Qt sends when quit() is called
// and posts when the last window closes. The event is never consumed.
class QuitWatch : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
      noteQuitRequest();
    }
    return false;
  }
};

}  // namespace

void bindInstallButtons(MainWindow& window, Globals& g) {
  QCoreApplication::instance()->installEventFilter(new QuitWatch(&window));
  MainWindow* w = &window;
  const std::pair<QPushButton*, PackageId> buttons[] = {
      {w->按钮_安装三端, PackageId::Server},
      {w->按钮_安装功能, PackageId::Plugin},
      {w->按钮_安装反挂, PackageId::AntiCheat},
  };
  for (auto [button, id] : buttons) {
    const PackageInfo* package = &packageInfo(id);
    QObject::connect(button, &QPushButton::clicked, w,
                     [w, &g, package] { installPackage(g, *package, w->ZIP压缩1); });
  }
  QObject::connect(w->按钮_工具安装, &QPushButton::clicked, w,
                   [w, &g] { installTools(g, w->ZIP压缩1); });
  const std::pair<QPushButton*, PackageId> rollbacks[] = {
      {w->按钮_回滚三端, PackageId::Server},
      {w->按钮_回滚功能, PackageId::Plugin},
      {w->按钮_回滚反挂, PackageId::AntiCheat},
  };
  for (auto [button, id] : rollbacks) {
    const PackageInfo* package = &packageInfo(id);
    QObject::connect(button, &QPushButton::clicked, w,
                     [&g, package] { rollbackPackage(g, *package); });
  }
}
