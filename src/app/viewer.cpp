#include "app/viewer.h"

#include <QDesktopServices>
#include <QUrl>

#include "text/gbk.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>  // before shellapi.h, which needs its types
#include <shellapi.h>
// clang-format on
#endif

namespace aqled {

void DesktopViewer::Open(const std::string& gbkPath) {
#ifdef _WIN32
  const std::wstring path = ToQString(gbkPath).toStdWString();
  ShellExecuteW(nullptr, nullptr, L"MSPAINT.EXE", path.c_str(), nullptr, SW_SHOWMAXIMIZED);
#else
  const std::filesystem::path path = PathFromGbk(gbkPath);
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
#endif
}

}  // namespace aqled
