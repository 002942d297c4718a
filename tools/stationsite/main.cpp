// aqled-stationsite: the stand-in data site for demos and by-hand tests. Serves the four
// station pages over HTTPS on 127.0.0.1, with readings and answers taken from an INI file or
// the command line, and prints (or appends to a file) every request it receives.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <cstdio>

#include "settings/file_io.h"
#include "station_site.h"
#include "stations/catalogue.h"

using namespace aqled;
using namespace aqled::stationsite;

namespace {

// The live site publishes its readings every full hour; a station without a publishTime of its
// own prints the current one, so that aqled never finds the stand-in's readings stale.
std::string CurrentPublishTime() {
  return QDateTime::currentDateTime().toString("yyyy-MM-dd hh:00").toStdString();
}

// How often the stations' publish time is looked at.
constexpr int kPublishCheckMs = 60 * 1000;

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("aqled-stationsite");

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Stand-in data site serving the four station pages over HTTPS on 127.0.0.1.");
  parser.addHelpOption();
  const QCommandLineOption portOption("port", "Port on 127.0.0.1 (default 8443; 0 picks a free one).", "port",
                                      "8443");
  const QCommandLineOption certOption("cert", "PEM certificate (default: made with openssl at start).",
                                      "file");
  const QCommandLineOption keyOption("key", "PEM private key belonging to --cert.", "file");
  const QCommandLineOption caOutOption(
      "ca-out", "Write the certificate the site serves with to this file (config.ini Path/StationCA).",
      "file");
  const QCommandLineOption configOption("config", "INI file with groups [station1] .. [station4].", "file");
  const QCommandLineOption setOption("set", "One setting, e.g. station2/answer=status (repeatable).",
                                     "group/key=value");
  const QCommandLineOption recordOption("record", "Append the raw bytes of every request to this file.",
                                        "file");
  const QCommandLineOption quietOption("quiet", "Do not print the requests.");
  parser.addOptions(
      {portOption, certOption, keyOption, caOutOption, configOption, setOption, recordOption, quietOption});
  parser.process(app);

  bool portOk = false;
  const uint port = parser.value(portOption).toUInt(&portOk);
  if (!portOk || port > 65535) {
    std::fprintf(stderr, "aqled-stationsite: bad --port\n");
    return 2;
  }

  // The settings: the config file, then every --set on top of it, in a scratch INI file.
  QTemporaryDir scratch;
  if (!scratch.isValid()) {
    std::fprintf(stderr, "aqled-stationsite: can't make a temporary folder\n");
    return 1;
  }
  const QString iniFile = scratch.filePath("site.ini");
  if (parser.isSet(configOption)) {
    if (!QFile::exists(parser.value(configOption)) || !QFile::copy(parser.value(configOption), iniFile)) {
      std::fprintf(stderr, "aqled-stationsite: can't read %s\n", qPrintable(parser.value(configOption)));
      return 2;
    }
  }
  QSettings settings(iniFile, QSettings::IniFormat);
  for (const QString& item : parser.values(setOption)) {
    const qsizetype eq = item.indexOf('=');
    if (eq <= 0 || !item.left(eq).contains('/')) {
      std::fprintf(stderr, "aqled-stationsite: --set wants group/key=value, got %s\n", qPrintable(item));
      return 2;
    }
    settings.setValue(item.left(eq), item.mid(eq + 1));
  }

  StationSite site;
  std::array<StationSetup, kStationCount + 1> setups;
  std::array<bool, kStationCount + 1> livePublishTime{};
  for (int n = 1; n <= kStationCount; ++n) {
    StationSetup& setup = setups[static_cast<size_t>(n)];
    setup = DefaultSetup(n);
    setup.values.publishTime = CurrentPublishTime();
    QString error;
    if (!ReadSetup(settings, n, setup, &error)) {
      std::fprintf(stderr, "aqled-stationsite: %s\n", qPrintable(error));
      return 2;
    }
    livePublishTime[static_cast<size_t>(n)] =
        !settings.contains("station" + QString::number(n) + "/publishTime");
    ServeStation(site, n, setup);
  }
  QTimer publishing;
  QObject::connect(&publishing, &QTimer::timeout, &site, [&] {
    const std::string now = CurrentPublishTime();
    for (int n = 1; n <= kStationCount; ++n) {
      StationSetup& setup = setups[static_cast<size_t>(n)];
      if (!livePublishTime[static_cast<size_t>(n)] || setup.values.publishTime == now) continue;
      setup.values.publishTime = now;
      ServeStation(site, n, setup);
    }
  });
  publishing.start(kPublishCheckMs);

  QString certFile = parser.value(certOption);
  QString keyFile = parser.value(keyOption);
  if (certFile.isEmpty() != keyFile.isEmpty()) {
    std::fprintf(stderr, "aqled-stationsite: give both --cert and --key, or neither\n");
    return 2;
  }
  QString error;
  if (certFile.isEmpty() && !MakeCertificate(scratch.path(), &certFile, &keyFile, &error)) {
    std::fprintf(stderr, "aqled-stationsite: %s\n", qPrintable(error));
    return 1;
  }
  if (!site.Start(certFile, keyFile, static_cast<quint16>(port), &error)) {
    std::fprintf(stderr, "aqled-stationsite: %s\n", qPrintable(error));
    return 1;
  }

  // aqled trusts the site through this copy of its certificate (a made one is its own CA).
  const QString caOut = parser.value(caOutOption);
  if (!caOut.isEmpty()) {
    QFile cert(certFile);
    const QByteArray pem = cert.open(QIODevice::ReadOnly) ? cert.readAll() : QByteArray();
    const FileWriteResult written = WriteFileWhole(
        caOut.toStdString(), std::string_view(pem.constData(), static_cast<size_t>(pem.size())));
    if (pem.isEmpty() || !written) {
      std::fprintf(stderr, "aqled-stationsite: can't write %s: %s\n", qPrintable(caOut),
                   pem.isEmpty() ? "no certificate" : written.error.c_str());
      return 1;
    }
  }

  // The certificate, the key and the settings are in memory now; nothing is left behind when
  // the site is stopped with Ctrl+C.
  scratch.remove();

  const QString record = parser.value(recordOption);
  const bool quiet = parser.isSet(quietOption);
  QObject::connect(&site, &StationSite::requestReceived, &site,
                   [record, quiet](const QByteArray& bytes, const QString& path) {
                     if (!record.isEmpty()) {
                       QFile file(record);
                       if (file.open(QIODevice::Append)) file.write(bytes);
                     }
                     if (!quiet) {
                       std::printf("request for %s (%lld bytes):\n%s\n", qPrintable(path),
                                   static_cast<long long>(bytes.size()), Printable(bytes).c_str());
                       std::fflush(stdout);
                     }
                   });

  std::printf("aqled-stationsite: serving %s\nconfig.ini: [Path] StationSite=%s\n", site.Base().c_str(),
              site.Base().c_str());
  if (!caOut.isEmpty())
    std::printf("config.ini: [Path] StationCA=%s\n",
                QFileInfo(caOut).absoluteFilePath().toUtf8().constData());
  std::fflush(stdout);
  return app.exec();
}
