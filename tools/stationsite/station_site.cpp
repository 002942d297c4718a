#include "station_site.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <cstdio>
#include <iterator>
#include <memory>

#include "stations/catalogue.h"

namespace aqled::stationsite {
namespace {

std::string Join(const std::vector<std::string>& lines, LineEnds ends) {
  const char* eol = ends == LineEnds::kLf ? "\n" : ends == LineEnds::kCr ? "\r" : "\r\n";
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += eol;
  }
  return out;
}

std::string PagePath(int station) {
  return std::string(kStationPagePath) + StationCatalogue()[station - 1].siteId;
}

}  // namespace

std::string StationPageHtml(const std::string& title, const PageValues& v, LineEnds ends) {
  // Indented and split over lines as a real page is; the client trims and joins the lines.
  // Each value stands directly before its "</td>", behind the tags the extraction skips.
  return Join(
      {
          "<!DOCTYPE html>",
          "<html>",
          "<head>",
          "  <meta charset=\"utf-8\">",
          "  <title>" + title + " 空气质量</title>",
          "</head>",
          "<body>",
          "  <table class=\"fresh\">",
          "    <tr>",
          "      <td class=\"icon\"><div class=\"box\"><span class=\"label\"><i class=\"leaf\"></i>"
          "空气清新度</span><span class=\"level\">" +
              v.level + "</span></div></td>",
          "    </tr>",
          "  </table>",
          "  <div class=\"realtime\">",
          "    <div class=\"head\"><p3>实时数据</p3><span class=\"time\">" + v.publishTime + "</span></div>",
          "    <table class=\"values\">",
          "      <tr>",
          "        <td class=\"ion\"><div class=\"cell\"><span class=\"num\"><b>" + v.negativeIons + "</td>",
          "        <td class=\"pm25\"><div class=\"cell\"><span class=\"num\"><i class=\"u\"></i><b>" +
              v.pm25 + "</td>",
          "        <td class=\"o3\"><div class=\"cell\"><span class=\"num\"><i class=\"u\"></i><b>" +
              v.ozone + "</td>",
          "      </tr>",
          "      <tr><th>负氧离子(个/cm³)</th><th>PM2.5(μg/m³)</th><th>臭氧(μg/m³)</th></tr>",
          "    </table>",
          "  </div>",
          "  <div class=\"daily\">",
          "    <div class=\"head\"><p3>日均值</p3><span class=\"time\">00:00</span></div>",
          "    <table class=\"values\">",
          "      <tr>",
          "        <td class=\"ion\"><div class=\"cell\"><span class=\"num\"><b>111</td>",
          "        <td class=\"pm25\"><div class=\"cell\"><span class=\"num\"><i class=\"u\"></i><b>222</td>",
          "        <td class=\"o3\"><div class=\"cell\"><span class=\"num\"><i class=\"u\"></i><b>333</td>",
          "      </tr>",
          "    </table>",
          "  </div>",
          "</body>",
          "</html>",
      },
      ends);
}

Answer RedirectAnswer(const std::string& location) {
  Answer a;
  a.status = 302;
  a.reason = "Found";
  a.headers.push_back({"Location", location});
  a.body = "<html><body>Moved to " + location + "</body></html>\r\n";
  return a;
}

StationSite::StationSite(QObject* parent) : QTcpServer(parent) {}

StationSite::~StationSite() {
  for (auto& [socket, connection] : connections_) {
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
  }
}

bool StationSite::Start(const QString& certFile, const QString& keyFile, quint16 port, QString* error) {
  QFile cert(certFile);
  QFile key(keyFile);
  if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
    if (error) *error = "can't read " + (cert.isOpen() ? keyFile : certFile);
    return false;
  }
  certificate_ = QSslCertificate(&cert, QSsl::Pem);
  const QByteArray keyPem = key.readAll();
  key_ = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
  if (key_.isNull()) key_ = QSslKey(keyPem, QSsl::Rsa, QSsl::Pem);
  if (certificate_.isNull() || key_.isNull()) {
    if (error) *error = "not a PEM certificate and key: " + certFile + ", " + keyFile;
    return false;
  }
  if (!listen(QHostAddress::LocalHost, port)) {
    if (error) *error = errorString();
    return false;
  }
  return true;
}

std::string StationSite::Base() const { return "https://127.0.0.1:" + std::to_string(serverPort()); }

void StationSite::incomingConnection(qintptr handle) {
  auto* socket = new QSslSocket(this);
  if (!socket->setSocketDescriptor(handle)) {
    delete socket;
    return;
  }
  QSslConfiguration config = socket->sslConfiguration();
  config.setLocalCertificate(certificate_);
  config.setPrivateKey(key_);
  config.setPeerVerifyMode(QSslSocket::VerifyNone);
  socket->setSslConfiguration(config);
  connections_[socket] = Connection{};
  connect(socket, &QIODevice::readyRead, this, [this, socket] { OnReadyRead(socket); });
  connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
    Forget(socket);
    socket->deleteLater();
  });
  socket->startServerEncryption();
}

void StationSite::OnReadyRead(QSslSocket* socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  Connection& c = it->second;
  c.buffer += socket->readAll();
  if (c.answered) return;
  const qsizetype end = c.buffer.indexOf("\r\n\r\n");
  const qsizetype endLf = c.buffer.indexOf("\n\n");
  if (end < 0 && endLf < 0) {
    if (c.buffer.size() > 64 * 1024) socket->abort();
    return;
  }
  c.answered = true;

  ReceivedRequest request;
  request.bytes = c.buffer;
  const qsizetype lineEnd = c.buffer.indexOf('\n');
  const QList<QByteArray> parts = c.buffer.left(lineEnd).trimmed().split(' ');
  if (parts.size() >= 2) {
    QByteArray target = parts[1];
    const qsizetype query = target.indexOf('?');
    if (query >= 0) target.truncate(query);
    request.path = target.toStdString();
  }
  requests_.push_back(request);

  // A held request joins its gate's queue before the signal, so that a receiver may release it.
  const bool hold = closedGates_.count(request.path) > 0;
  if (hold) held_[request.path].push_back(socket);
  // The signal and the answer come from the event loop, not from inside the socket's read
  // handler: a receiver may run a nested loop in which this client goes away and its socket is
  // deleted, which must not happen while the socket is still delivering its data.
  QMetaObject::invokeMethod(
      this,
      [this, alive = QPointer<QSslSocket>(socket), request, hold] {
        emit requestReceived(request.bytes, QString::fromStdString(request.path));
        if (!hold && alive && connections_.count(alive.data()) > 0) AnswerPath(alive.data(), request.path);
      },
      Qt::QueuedConnection);
}

void StationSite::AnswerPath(QSslSocket* socket, const std::string& path) {
  const auto answer = answers_.find(path);
  if (answer != answers_.end()) {
    Send(socket, answer->second);
  } else {
    Answer missing;
    missing.status = 404;
    missing.reason = "Not Found";
    missing.body = "<html><body>Not Found</body></html>\r\n";
    Send(socket, missing);
  }
}

void StationSite::Hold(const std::string& path) { closedGates_.insert(path); }

void StationSite::Release(const std::string& path) {
  closedGates_.erase(path);
  const auto queue = held_.find(path);
  if (queue == held_.end()) return;
  const std::vector<QSslSocket*> waiting = std::move(queue->second);
  held_.erase(queue);
  for (QSslSocket* socket : waiting) {
    if (connections_.count(socket) > 0) AnswerPath(socket, path);
  }
}

std::size_t StationSite::Held(const std::string& path) const {
  const auto queue = held_.find(path);
  return queue == held_.end() ? 0 : queue->second.size();
}

void StationSite::Forget(QSslSocket* socket) {
  connections_.erase(socket);
  for (auto it = held_.begin(); it != held_.end();) {
    std::erase(it->second, socket);
    it = it->second.empty() ? held_.erase(it) : std::next(it);
  }
}

void StationSite::Send(QSslSocket* socket, const Answer& answer) {
  if (answer.silent) return;
  if (answer.hangUp) {
    socket->disconnectFromHost();
    return;
  }
  QByteArray bytes = "HTTP/1.0 " + QByteArray::number(answer.status) + " " +
                     QByteArray::fromStdString(answer.reason) + "\r\n" +
                     "Content-Type: text/html; charset=utf-8\r\n";
  for (const auto& [name, value] : answer.headers) {
    bytes += QByteArray::fromStdString(name) + ": " + QByteArray::fromStdString(value) + "\r\n";
  }
  if (answer.contentLength) bytes += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
  bytes += "\r\n";
  bytes += QByteArray::fromStdString(answer.body);
  if (!answer.raw.empty()) bytes = QByteArray::fromStdString(answer.raw);

  if (answer.chunkDelayMs <= 0) {
    socket->write(bytes);
    socket->disconnectFromHost();
    return;
  }
  // Trickle the answer so that a client sees progress long after its request.
  auto remaining = std::make_shared<QByteArray>(bytes);
  auto* timer = new QTimer(socket);
  timer->setInterval(answer.chunkDelayMs);
  const int piece = answer.chunkBytes > 0 ? answer.chunkBytes : 16;
  connect(timer, &QTimer::timeout, socket, [socket, timer, remaining, piece] {
    socket->write(remaining->left(piece));
    remaining->remove(0, piece);
    if (remaining->isEmpty()) {
      timer->stop();
      socket->disconnectFromHost();
    }
  });
  timer->start();
}

void OnceOnRequest(StationSite& site, const std::string& path, std::function<void()> action) {
  auto connection = std::make_shared<QMetaObject::Connection>();
  auto pending = std::make_shared<std::function<void()>>(std::move(action));
  *connection = QObject::connect(&site, &StationSite::requestReceived, &site,
                                 [connection, pending, path](const QByteArray&, const QString& requested) {
                                   if (requested.toStdString() != path) return;
                                   // Taken out first: disconnecting may end this very slot.
                                   const std::function<void()> run = std::move(*pending);
                                   const QMetaObject::Connection handle = *connection;
                                   QObject::disconnect(handle);
                                   run();
                                 });
}

StationSetup FailingSetup(int status, std::string reason) {
  StationSetup setup;
  setup.mode = StationSetup::Mode::kStatus;
  setup.status = status;
  setup.reason = std::move(reason);
  return setup;
}

StationSetup DefaultSetup(int station) {
  static const PageValues kValues[] = {
      {"清新", "1250", "18", "96", "2024-03-05 08:00"},
      {"非常清新", "3400", "9", "72", "2024-03-05 08:00"},
      {"清新", "980", "25", "110", "2024-03-05 08:00"},
      {"一般", "560", "-", "-", "2024-03-05 08:00"},
  };
  StationSetup setup;
  if (station >= 1 && station <= kStationCount) setup.values = kValues[station - 1];
  return setup;
}

bool ReadSetup(const QSettings& settings, int station, StationSetup& setup, QString* error) {
  const QString group = "station" + QString::number(station) + "/";
  auto text = [&](const char* key, std::string& field) {
    if (settings.contains(group + key)) field = settings.value(group + key).toString().toStdString();
  };
  text("level", setup.values.level);
  text("negativeIons", setup.values.negativeIons);
  text("pm25", setup.values.pm25);
  text("ozone", setup.values.ozone);
  text("publishTime", setup.values.publishTime);
  text("reason", setup.reason);
  auto number = [&](const char* key, int& field) {
    if (!settings.contains(group + key)) return true;
    bool ok = false;
    const int n = settings.value(group + key).toString().toInt(&ok);
    if (!ok || n < 0 || n > 999) {
      if (error) *error = group + key + ": not a number from 0 to 999";
      return false;
    }
    field = n;
    return true;
  };
  if (!number("status", setup.status) || !number("redirects", setup.redirects)) return false;
  if (settings.contains(group + "answer")) {
    static const std::map<QString, StationSetup::Mode> kModes = {
        {"page", StationSetup::Mode::kPage},
        {"status", StationSetup::Mode::kStatus},
        {"unauthorized", StationSetup::Mode::kUnauthorized},
        {"redirects", StationSetup::Mode::kRedirects},
        {"badutf8", StationSetup::Mode::kBadUtf8},
        {"silent", StationSetup::Mode::kSilent},
    };
    const QString word = settings.value(group + "answer").toString().toLower();
    const auto mode = kModes.find(word);
    if (mode == kModes.end()) {
      if (error) *error = group + "answer: unknown answer \"" + word + "\"";
      return false;
    }
    setup.mode = mode->second;
  }
  if (settings.contains(group + "lineends")) {
    const QString word = settings.value(group + "lineends").toString().toLower();
    if (word == "crlf") {
      setup.lineEnds = LineEnds::kCrLf;
    } else if (word == "lf") {
      setup.lineEnds = LineEnds::kLf;
    } else if (word == "cr") {
      setup.lineEnds = LineEnds::kCr;
    } else {
      if (error) *error = group + "lineends: one of crlf, lf, cr";
      return false;
    }
  }
  return true;
}

void ServeStation(StationSite& site, int station, const StationSetup& setup) {
  const Station& s = StationCatalogue()[station - 1];
  const std::string path = PagePath(station);
  const std::string title = std::string("站点") + std::to_string(station);
  const std::string page = StationPageHtml(title, setup.values, setup.lineEnds);
  Answer answer;
  answer.body = page;
  switch (setup.mode) {
    case StationSetup::Mode::kPage:
      break;
    case StationSetup::Mode::kStatus:
      answer.status = setup.status;
      answer.reason = setup.reason;
      answer.body = "<html><body>" + setup.reason + "</body></html>\r\n";
      break;
    case StationSetup::Mode::kUnauthorized:
      answer.status = 401;
      answer.reason = "Unauthorized";
      break;
    case StationSetup::Mode::kBadUtf8: {
      // A three-byte sequence cut short in the middle of the level text.
      const size_t at = page.find("</span></div></td>");
      answer.body = page.substr(0, at) + "\xE6\xB8" + page.substr(at);
      break;
    }
    case StationSetup::Mode::kSilent:
      answer.silent = true;
      break;
    case StationSetup::Mode::kRedirects: {
      // The first hop is an absolute path, the later ones relative names, so both kinds of
      // Location are resolved on the way.
      const std::string chain = "/redirect/" + std::string(s.siteId) + "/";
      if (setup.redirects <= 0) break;
      site.SetAnswer(path, RedirectAnswer(chain + "1"));
      for (int i = 1; i < setup.redirects; ++i) {
        site.SetAnswer(chain + std::to_string(i), RedirectAnswer(std::to_string(i + 1)));
      }
      site.SetAnswer(chain + std::to_string(setup.redirects), answer);
      return;
    }
  }
  site.SetAnswer(path, answer);
}

bool MakeCertificate(const QString& dir, QString* certFile, QString* keyFile, QString* error,
                     const QString& altNames) {
  const QString cert = dir + "/cert.pem";
  const QString key = dir + "/key.pem";
  QProcess openssl;
  openssl.setProcessChannelMode(QProcess::MergedChannels);
  openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                            "-nodes", "-keyout", key, "-out", cert, "-days", "365", "-subj",
                            "/CN=aqled-stationsite", "-addext", "subjectAltName=" + altNames});
  if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
      openssl.exitCode() != 0) {
    if (error)
      *error = "openssl failed: " + QString::fromLocal8Bit(openssl.readAll()) + openssl.errorString();
    return false;
  }
  if (certFile) *certFile = cert;
  if (keyFile) *keyFile = key;
  return true;
}

std::string Printable(const QByteArray& bytes) {
  std::string out;
  for (const char ch : bytes) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n\n";
    } else if (b == '\\') {
      out += "\\\\";
    } else if (b < 32 || b > 126) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace aqled::stationsite
