#pragma once
// The card simulator as the end-to-end tests start it, and the fixture that runs it beside the
// window and the stand-in site.

#include <QFile>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>

#include "send_fixture.h"

namespace aqled::testing {

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

// A picture file as 32-bit RGB, so that pictures of any file format compare pixel for pixel.
inline QImage RgbPicture(const std::filesystem::path& p) {
  return QImage(QString::fromStdString(p.string())).convertToFormat(QImage::Format_RGB32);
}

// The window's fixture with aqled-cardsim beside it; the card ends with the test.
struct CardFixture : SendFixture {
  void TearDown() override {
    if (card.state() != QProcess::NotRunning) {
      card.kill();
      card.waitForFinished(2000);
    }
    SendFixture::TearDown();
  }
  std::string CardLog() const { return ReadAll(folder / "card.log"); }
  // Starts the card with `args` (CardsimArgs and any more).
  void StartCard(const QStringList& args) {
    card.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    card.start(BuiltProgram("aqled-cardsim"), args);
    ASSERT_TRUE(card.waitForStarted(5000)) << BuiltProgram("aqled-cardsim").toStdString();
  }
  QProcess card;
};

struct HttpAnswer {
  int status = 0;
  QByteArray body;
};

// A GET on loopback, waited for by events for at most ten seconds.
inline HttpAnswer HttpGet(const QString& url) {
  QNetworkAccessManager manager;
  manager.setProxy(QNetworkProxy::NoProxy);
  std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(url))));
  WaitFor([&] { return reply->isFinished(); }, 10000);
  return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

}  // namespace aqled::testing
