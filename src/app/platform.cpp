#include "app/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QNetworkInterface>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "settings/file_io.h"
#include "text/gbk.h"

namespace aqled {

QString ApplicationTitle() { return QString::fromUtf8("LED显示软件"); }

namespace {

// A folder as the system holds it: GBK (a name GBK cannot hold kept by path escapes), one
// separator at the end.
std::string FolderText(const std::filesystem::path& folder) {
  std::string gbk = GbkFromPath(folder);
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  if (gbk.empty() || gbk.back() != separator) gbk.push_back(separator);
  return gbk;
}

std::string FolderText(const QString& folder) {
  return FolderText(std::filesystem::path(QDir::toNativeSeparators(folder).toStdU16String()));
}

QString CanonicalOrClean(const QString& path) {
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

// The user's folder gets file/ and log/, then the sample config.ini last, so that a start
// that stops half-way tries again next time. True when config.ini was written.
bool PrepareUserFolder(const QString& folder) {
  QDir dir(folder);
  if (!dir.mkpath(QStringLiteral(".")) || !dir.mkpath(QStringLiteral("file")) ||
      !dir.mkpath(QStringLiteral("log")))
    return false;
  QFile sample(QStringLiteral(":/aqled/config.sample.ini"));
  if (!sample.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = sample.readAll();
  const std::filesystem::path config =
      std::filesystem::path(dir.filePath(QStringLiteral("config.ini")).toStdU16String());
  return static_cast<bool>(
      WriteFileWhole(config, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))));
}

}  // namespace

std::string ExecutableFolder() {
  std::filesystem::path folder;
#ifdef __linux__
  // The link holds the folder's name byte for byte, also bytes that are no UTF-8.
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) folder = exe.parent_path();
#endif
  if (folder.empty())
    folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdU16String();
  return FolderText(folder);
}

AppFolderChoice ChooseAppFolder(const QString& executableFolder, const QString& installFolder,
                                const QString& userFolder) {
  const bool installed =
      !installFolder.isEmpty() && CanonicalOrClean(executableFolder) == CanonicalOrClean(installFolder);
  if (userFolder.isEmpty() || (!installed && QFileInfo(executableFolder).isWritable()))
    return {FolderText(executableFolder), false, false};
  AppFolderChoice choice{FolderText(userFolder), true, false};
  if (!QFileInfo::exists(QDir(userFolder).filePath(QStringLiteral("config.ini"))))
    choice.prepared = PrepareUserFolder(userFolder);
  return choice;
}

AppFolderChoice ChooseAppFolder() {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  const QString user = data.isEmpty() ? QString() : QDir(data).filePath(QStringLiteral("aqled"));
  AppFolderChoice choice =
      ChooseAppFolder(QCoreApplication::applicationDirPath(), QStringLiteral(AQLED_INSTALL_BINDIR), user);
  // A folder of its own is held byte for byte, as the executable's link names it.
  if (!choice.perUser) choice.folder = ExecutableFolder();
  return choice;
}

std::string ConfigLocationText(const std::string& appFolder) {
  return Gbk<"配置文件: ">() + appFolder + "config.ini";
}

std::string FirstLocalIpv4() {
  for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
    const auto flags = nic.flags();
    if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack)) continue;
    for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
      const QHostAddress ip = entry.ip();
      if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
        return ip.toString().toStdString();
    }
  }
  return "127.0.0.1";
}

void RegisterFontSubstitutions() {
  const QString ming = QStringLiteral("AR PL UMing CN");
  QFont::insertSubstitution(QString::fromUtf8("宋体"), ming);
  QFont::insertSubstitution(QString::fromUtf8("新宋体"), ming);
  QFont::insertSubstitution(QStringLiteral("SimSun"), ming);
  QFont::insertSubstitution(QStringLiteral("NSimSun"), ming);
  QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
}

QTranslator* InstallQtTranslations() {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

SingleCopyLock::SingleCopyLock() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  QString name = ApplicationTitle() + ".lock";
  if (folder.isEmpty() || !QDir(folder).exists()) {
    // The temporary folder is shared by every user: the lock name carries the user's id.
    folder = QDir::tempPath();
#ifdef Q_OS_UNIX
    name = ApplicationTitle() + QStringLiteral("-%1.lock").arg(getuid());
#endif
  }
  lock_ = std::make_unique<QLockFile>(QDir(folder).filePath(name));
  lock_->setStaleLockTime(0);  // only a lock whose process is gone is stale
}

bool SingleCopyLock::TryAcquire() { return lock_->tryLock(0); }

QString SingleCopyLock::Path() const { return lock_->fileName(); }

}  // namespace aqled
