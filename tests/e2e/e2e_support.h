#pragma once
// The card simulator as the end-to-end tests start it.

#include <QFile>
#include <QString>
#include <QStringList>
#include <filesystem>

namespace aqled::testing {

// The built aqled-cardsim: beside the tests in AQLED_BIN_DIR, else where CMake built it.
inline QString CardsimPath() {
  const QString dir = qEnvironmentVariable("AQLED_BIN_DIR");
  if (!dir.isEmpty() && QFile::exists(dir + "/aqled-cardsim")) return dir + "/aqled-cardsim";
  return AQLED_CARDSIM_PATH;
}

// The simulator's arguments for a card that logs in to `port` as `barcode`/`name` with a
// `width` x `height` screen, keeps its storage, screen pictures and log in `folder`, answers
// progress queries quickly, heartbeats once a minute and ends itself after `exitAfterSeconds`.
inline QStringList CardsimArgs(quint16 port, const QString& barcode, const QString& name, int width,
                               int height, const std::filesystem::path& folder, int exitAfterSeconds) {
  const QString tmp = QString::fromStdString(folder.string());
  return {"--port",
          QString::number(port),
          "--barcode",
          barcode,
          "--name",
          name,
          "--width",
          QString::number(width),
          "--height",
          QString::number(height),
          "--heartbeat-ms",
          "60000",
          "--storage",
          tmp + "/card-storage",
          "--output",
          tmp + "/card-screen",
          "--log",
          tmp + "/card.log",
          "--progress-wait-ms",
          "50",
          "--exit-after-seconds",
          QString::number(exitAfterSeconds)};
}

}  // namespace aqled::testing
