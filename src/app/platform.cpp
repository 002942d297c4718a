#include "app/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QLibraryInfo>
#include <QNetworkInterface>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

#include "text/gbk.h"

namespace aqled {

QString ApplicationTitle() { return QString::fromUtf8("LED显示软件"); }

std::string ExecutableFolder() {
  std::filesystem::path folder;
#ifdef __linux__
  // The link holds the folder's name byte for byte, also bytes that are no UTF-8.
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) folder = exe.parent_path();
#endif
  if (folder.empty()) {
    folder = std::filesystem::path(
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdU16String());
  }
  std::string gbk = GbkFromPath(folder);
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  if (gbk.empty() || gbk.back() != separator) gbk.push_back(separator);
  return gbk;
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
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::tempPath();
  lock_ = std::make_unique<QLockFile>(QDir(folder).filePath(ApplicationTitle() + ".lock"));
  lock_->setStaleLockTime(0);  // only a lock whose process is gone is stale
}

bool SingleCopyLock::TryAcquire() { return lock_->tryLock(0); }

QString SingleCopyLock::Path() const { return lock_->fileName(); }

}  // namespace aqled
