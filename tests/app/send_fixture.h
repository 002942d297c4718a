#pragma once
// A window started against the stand-in data site on 127.0.0.1 (HTTPS with a certificate made
// for the test run), with its share folder in the temporary application folder.

#include <QByteArray>
#include <QImage>
#include <QTcpSocket>
#include <algorithm>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "card.h"
#include "link/controller_link.h"
#include "link/frame.h"
#include "station_site.h"

namespace aqled::testing {

// What the station pages print in these tests (UTF-8); no reading holds a dash.
inline stationsite::PageValues SiteValues(int station) {
  switch (station) {
    case 1:
      return {"清新", "1250", "18", "96", "2024-03-05 08:00"};
    case 2:
      return {"非常清新", "3400", "9", "72", "2024-03-05 08:00"};
    case 3:
      return {"一般", "980", "25", "110", "2024-03-05 08:00"};
    default:
      return {"清新", "560", "30", "80", "2024-03-05 08:00"};
  }
}

struct SendFixture : AppFolderFixture {
  static void SetUpTestSuite() {
    certDir_ = new QTemporaryDir;
    certOk_ =
        certDir_->isValid() && stationsite::MakeCertificate(certDir_->path(), &cert_, &key_, &certError_);
  }
  static void TearDownTestSuite() {
    delete certDir_;
    certDir_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(certOk_) << certError_.toStdString();
    QString error;
    ASSERT_TRUE(site.Start(cert_, key_, 0, &error)) << error.toStdString();
    for (int n = 1; n <= 4; ++n) ServeStation(n, stationsite::StationSetup{});
    WithLogFolder();
  }

  void ServeStation(int n, stationsite::StationSetup setup) {
    setup.values = SiteValues(n);
    stationsite::ServeStation(site, n, setup);
  }
  // Every station prints its usual readings, published at the full hour of `t`, as the real
  // site does.
  void PublishAt(const QDateTime& t) {
    for (int n = 1; n <= 4; ++n) {
      stationsite::StationSetup setup;
      setup.values = SiteValues(n);
      setup.values.publishTime = t.toString("yyyy-MM-dd hh:00").toStdString();
      stationsite::ServeStation(site, n, setup);
    }
  }

  // The lines of section Path that point the window at the stand-in site and make it trust the
  // site's certificate, as an operator does.
  std::string SiteKeys() const {
    return "StationSite=" + site.Base() + "\r\nStationCA=" + cert_.toStdString() + "\r\n";
  }

  // config.ini naming the stand-in site, ShareFolder in the temporary folder and `httpBase`,
  // followed by `setKeys` (lines of section Set, each ended by CR LF).
  void ConfigFor(const std::string& httpBase, const std::string& setKeys) {
    WithConfig("[Path]\r\n" + SiteKeys() + "FileBaseDir=" + (folder / "share").string() +
               "/\r\nHttpBaseDir=" + httpBase + "\r\n[Set]\r\n" + setKeys);
  }

  // A started window with a display area, so that every page file has pixels.
  std::unique_ptr<TForm1> StartSized(int w = 96, int h = 48) {
    auto form = Start();
    Control<SpinEdit>(*form, "dtw")->SetValue(w);
    Control<SpinEdit>(*form, "dth")->SetValue(h);
    return form;
  }

  // The log lines on screen without their time stamps (UTF-8).
  static std::vector<std::string> Lines(const TForm1& form) {
    std::vector<std::string> out;
    for (int i = 0; i < Control<LogView>(form, "log")->LineCount(); ++i)
      out.push_back(Control<LogView>(form, "log")->LineText(i).mid(14).toStdString());
    return out;
  }
  static size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                             [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
  static size_t IndexOf(const std::vector<std::string>& lines, const std::string& prefix, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
      if (lines[i].rfind(prefix, 0) == 0) return i;
    return lines.size();
  }

  stationsite::StationSite site;
  static inline QTemporaryDir* certDir_ = nullptr;
  static inline bool certOk_ = false;
  static inline QString cert_, key_, certError_;
};

}  // namespace aqled::testing
