// The trust of config.ini's Set/TlsVerify and Path/StationCA, from real files.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "station_site.h"
#include "stations/trust.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::U;

struct TrustFileCase {
  const char* name;
  const char* stationCa;  // config.ini's value; the folder holds site.pem and junk.pem
  int tlsVerify;
  const char* problem;  // UTF-8, "%s" standing for the folder; empty: none
  bool verify;
  int certificates;
};
void PrintTo(const TrustFileCase& c, std::ostream* os) { *os << c.name; }

class TrustFileTest : public ::testing::TestWithParam<TrustFileCase> {};

TEST_P(TrustFileTest, GivesTheCertificatesOrNamesTheProblemAndKeepsVerifying) {
  const TrustFileCase& c = GetParam();
  QTemporaryDir dir;
  QString cert, key, error;
  ASSERT_TRUE(stationsite::MakeCertificate(dir.path(), &cert, &key, &error)) << error.toStdString();
  ASSERT_TRUE(QFile::rename(cert, dir.filePath("site.pem")));
  QFile junk(dir.filePath("junk.pem"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("-----BEGIN NOTHING-----\nxyz\n") > 0);
  junk.close();

  ProgramSettings settings;
  settings.StationCA = c.stationCa;
  settings.TlsVerify = c.tlsVerify;
  const std::string folder = dir.path().toStdString() + "/";
  const StationTrust trust = LoadStationTrust(settings, folder);
  std::string problem = c.problem;
  if (const size_t at = problem.find("%s"); at != std::string::npos) problem.replace(at, 2, folder);
  EXPECT_EQ(U(trust.problem), problem);
  EXPECT_EQ(trust.trust.verify, c.verify);
  EXPECT_EQ(trust.trust.extraCaCertificates.size(), c.certificates);
}

INSTANTIATE_TEST_SUITE_P(
    StationCa, TrustFileTest,
    ::testing::Values(
        TrustFileCase{"RelativeNameInTheApplicationFolder", "site.pem", 1, "", true, 1},
        TrustFileCase{"MissingFile", "missing.pem", 1,
                      "证书文件无法使用: %smissing.pem (No such file or directory), 站点证书只按系统证书验证 "
                      "(Path/StationCA)",
                      true, 0},
        TrustFileCase{"NoCertificateInIt", "junk.pem", 1,
                      "证书文件无法使用: %sjunk.pem (文件中没有 PEM 格式的证书), 站点证书只按系统证书验证 "
                      "(Path/StationCA)",
                      true, 0},
        // Verification switched off needs no file.
        TrustFileCase{"SwitchedOff", "missing.pem", 0, "", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace aqled
