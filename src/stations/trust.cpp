#include "stations/trust.h"

#include <QByteArray>
#include <filesystem>

#include "settings/file_io.h"
#include "settings/file_problem.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

const std::string& CaFileProblemPattern() {
  return Gbk<"证书文件无法使用: %s (%s), 站点证书只按系统证书验证 (Path/StationCA)">();
}

}  // namespace

std::string TlsMissingText() { return Gbk<"TLS 库无法加载: 站点数据无法获取">(); }

StationTrust LoadStationTrust(const ProgramSettings& settings, const std::string& appFolder) {
  StationTrust out;
  out.trust.verify = settings.TlsVerify != 0;
  if (!out.trust.verify || settings.StationCA.empty()) return out;
  std::filesystem::path file = PathFromGbk(settings.StationCA);
  if (file.is_relative()) file = PathFromGbk(appFolder) / file;
  const std::string name = GbkFromPath(file);
  const std::optional<std::string> pem = ReadFileWhole(file, kMaxSettingsFileBytes);
  if (!pem) {
    out.problem = Format(CaFileProblemPattern(), {name, ReadProblemOf(file)});
    return out;
  }
  const QList<QSslCertificate> certificates =
      QSslCertificate::fromData(QByteArray::fromStdString(*pem), QSsl::Pem);
  if (certificates.isEmpty()) {
    out.problem = Format(CaFileProblemPattern(), {name, Gbk<"文件中没有 PEM 格式的证书">()});
    return out;
  }
  out.trust.extraCaCertificates = certificates;
  return out;
}

}  // namespace aqled
