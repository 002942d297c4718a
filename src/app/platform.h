#pragma once
// What the application takes from the platform it runs on: its folder, this PC's address,
// the fonts standing in for the Windows faces, and the lock that keeps to one copy.

#include <QLockFile>
#include <QString>
#include <QTranslator>
#include <memory>
#include <string>

namespace aqled {

// The application title under which a running copy is known: "LED显示软件".
QString ApplicationTitle();

// AppFolder: the folder of the executable as GBK (a name GBK cannot hold kept by path escapes,
// text/gbk.h), ending in the platform's separator.
std::string ExecutableFolder();

// Where AppFolder is for one run. A copy in a folder of its own (writable, and not the program
// folder a package installs into) keeps everything beside its executable and needs its
// config.ini there. An installed copy uses the user's own data folder instead, which is
// prepared with the sample config.ini, file/ and log/ when it has no config.ini yet.
struct AppFolderChoice {
  std::string folder;     // AppFolder, GBK, ending in the platform's separator
  bool perUser = false;   // the user's data folder, not the executable's
  bool prepared = false;  // this start wrote the sample config.ini
};

// `executableFolder`: the folder of the running executable; `installFolder`: the folder the
// build installs programs into (empty: none); `userFolder`: the user's data folder for aqled.
// All three are plain paths without a final separator.
AppFolderChoice ChooseAppFolder(const QString& executableFolder, const QString& installFolder,
                                const QString& userFolder);

// ChooseAppFolder for this process: its executable, the install folder it was built for and
// the user's XDG data folder + "aqled".
AppFolderChoice ChooseAppFolder();

// The log line that tells the operator which config.ini a per-user folder uses:
// "配置文件: " + the path, GBK.
std::string ConfigLocationText(const std::string& appFolder);

// The first IPv4 address of an interface that is up and not loopback, "127.0.0.1" when none.
std::string FirstLocalIpv4();

// Registers the Debian faces that stand in for "宋体", "新宋体" (AR PL UMing CN) and
// "MS Sans Serif" (DejaVu Sans). Safe to call more than once.
void RegisterFontSubstitutions();

// Loads Qt's own Chinese texts (qtbase_zh_CN.qm from Qt's translations folder), so that the
// standard buttons and dialogs read 确定, 取消, 打开. Returns the installed translator, owned
// by the application, or null when the file is missing (Qt's English texts stay).
QTranslator* InstallQtTranslations();

// The lock that marks a running copy: a lock file named after the application title in the
// user's runtime folder (the temporary folder when there is none). A lock left by a copy that
// died is taken over.
class SingleCopyLock {
 public:
  SingleCopyLock();
  // True when this process now holds the lock; false when another copy holds it.
  bool TryAcquire();
  QString Path() const;

 private:
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace aqled
