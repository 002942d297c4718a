#include "app/viewer.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include "text/gbk.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>  // before shellapi.h, which needs its types
#include <shellapi.h>
// clang-format on
#endif

namespace aqled {

bool DesktopViewer::Open(const std::string& gbkPath) {
  const std::filesystem::path path = PathFromGbk(gbkPath);
#ifdef _WIN32
  // ShellExecute reports success by a value above 32.
  const HINSTANCE started =
      ShellExecuteW(nullptr, nullptr, L"MSPAINT.EXE", path.c_str(), nullptr, SW_SHOWMAXIMIZED);
  return reinterpret_cast<INT_PTR>(started) > 32;
#else
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path.c_str())));
#endif
}

}  // namespace aqled
