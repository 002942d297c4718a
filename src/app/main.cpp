// Program entry: one copy only, the main window, its start-up and the event loop. Arguments are
// ignored; the exit status is 0 in every case.
//
// AppFolder is the executable's folder when that is a folder of its own, else the user's data
// folder (ChooseAppFolder); there the log names the config.ini in use.
//
// AQLED_SCREENSHOTS=<folder> starts the window without showing it to the operator, saves each
// of its five pages as page0.png ... page4.png into the folder and ends (the README's pictures).

#include <QApplication>
#include <QDir>
#include <QTabWidget>

#include "app/main_window.h"
#include "app/platform.h"
#include "logging/operation_log.h"
#include "share/open_files.h"
#include "text/gbk.h"

namespace {

int SaveScreenshots(aqled::TForm1& window, const QString& folder) {
  QDir().mkpath(folder);
  window.show();
  auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    QApplication::processEvents();
    window.grab().save(QDir(folder).filePath(QString("page%1.png").arg(page)));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  aqled::RaiseOpenFileLimit();
  aqled::LoadTextCodec();  // before the servers can hold every descriptor
  // Arguments are ignored, Qt's own (-platform, -reverse, -stylesheet, ...) too: Qt is shown
  // the program name only.
  int qtArgc = argc > 0 ? 1 : 0;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(aqled::ApplicationTitle());
  aqled::InstallQtTranslations();
  aqled::RegisterFontSubstitutions();

  const QString screenshots = qEnvironmentVariable("AQLED_SCREENSHOTS");
  aqled::SingleCopyLock lock;
  if (screenshots.isEmpty() && !lock.TryAcquire()) return 0;

  const aqled::AppFolderChoice folder = aqled::ChooseAppFolder();
  aqled::FormOptions options;
  options.appFolder = folder.folder;
  aqled::TForm1 window(options);
  window.FormCreate();
  if (window.QuitRequested()) return 0;
  if (folder.perUser) window.AppendLog(aqled::kLogInfo, aqled::ConfigLocationText(folder.folder));
  if (!screenshots.isEmpty()) return SaveScreenshots(window, screenshots);
  window.show();
  app.exec();
  return 0;
}
