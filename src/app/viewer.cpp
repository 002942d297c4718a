#include "app/viewer.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include "text/gbk.h"

namespace aqled {

bool DesktopViewer::Open(const std::string& gbkPath) {
  const std::filesystem::path path = PathFromGbk(gbkPath);
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path.c_str())));
}

}  // namespace aqled
