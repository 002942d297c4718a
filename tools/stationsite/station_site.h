#pragma once
// A stand-in for the data site: an HTTPS server on 127.0.0.1 that serves station pages in the
// layout the extraction expects, answers chosen statuses, redirects, malformed bodies or
// nothing at all, and records every request byte for byte. Runs on the caller's event loop,
// so a test can drive it and the client under test together. A path can be held behind a
// gate, so that a test acts while a client is known to wait for that path's answer.

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QSettings;
class QSslSocket;

namespace aqled::stationsite {

// One station's readings as the page prints them (UTF-8).
struct PageValues {
  std::string level;
  std::string negativeIons;
  std::string pm25;
  std::string ozone;
  std::string publishTime;
};

enum class LineEnds { kCrLf, kLf, kCr };

// The HTML (UTF-8) of a station page in the data site's layout: the freshness row first, then
// the real-time block ("实时数据" … "日均值") with the publish time and the values row, then a
// daily-average block with other values.
std::string StationPageHtml(const std::string& title, const PageValues& values, LineEnds ends);

// What the site answers on one path.
struct Answer {
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;  // sent after Content-Type
  std::string body;
  bool contentLength = true;  // send Content-Length; otherwise the body ends at the close
  bool silent = false;        // read the request and never answer, keeping the connection
  bool hangUp = false;        // read the request and close without a word
  std::string raw;            // when not empty: sent as it stands instead of a formed answer
  int chunkDelayMs = 0;       // > 0: send the answer in pieces of `chunkBytes`, this far apart
  int chunkBytes = 16;
};

// A 302 "Found" to `location`, with a short body.
Answer RedirectAnswer(const std::string& location);

// One request as received: every byte up to and including the empty line (and whatever came
// with it), and the path of its request line.
struct ReceivedRequest {
  QByteArray bytes;
  std::string path;
};

class StationSite : public QTcpServer {
  Q_OBJECT

 public:
  explicit StationSite(QObject* parent = nullptr);
  ~StationSite() override;

  // Listens on 127.0.0.1:`port` (0: any free port) with the PEM certificate and key files.
  // False with `error` set when the files cannot be read or the port is taken.
  bool Start(const QString& certFile, const QString& keyFile, quint16 port, QString* error);

  // "https://127.0.0.1:<port>", the value for config.ini Path/StationSite.
  std::string Base() const;

  // The answer for an exact path (no query); unknown paths get 404 "Not Found".
  void SetAnswer(const std::string& path, Answer answer) { answers_[path] = std::move(answer); }
  void ClearAnswers() { answers_.clear(); }

  const std::vector<ReceivedRequest>& Requests() const { return requests_; }
  void ClearRequests() { requests_.clear(); }

  // Closes the gate of `path`: a request for it is read, recorded and signalled like any
  // other, then waits on its open connection, with nothing sent, until the gate opens.
  void Hold(const std::string& path);
  // Opens the gate of `path`: the waiting requests get the answer the path has now, in the
  // order they came, and later ones are answered at once until Hold closes it again. Opening
  // a gate that nothing waits behind (or that was never closed) just lets the next request
  // through. A waiting client that gives up is forgotten when its connection closes.
  void Release(const std::string& path);
  // Requests for `path` waiting behind its gate whose connections are still open.
  std::size_t Held(const std::string& path) const;

 signals:
  // A whole request head has arrived. Emitted from the event loop just after the request is
  // recorded (and, when its gate is closed, queued behind it), before any answer is sent; a
  // receiver may Release that very request or run a nested event loop.
  void requestReceived(const QByteArray& bytes, const QString& path);

 protected:
  void incomingConnection(qintptr handle) override;

 private:
  struct Connection {
    QByteArray buffer;
    bool answered = false;
  };
  void OnReadyRead(QSslSocket* socket);
  void AnswerPath(QSslSocket* socket, const std::string& path);
  void Send(QSslSocket* socket, const Answer& answer);
  void Forget(QSslSocket* socket);

  QSslCertificate certificate_;
  QSslKey key_;
  std::map<std::string, Answer> answers_;
  std::map<QSslSocket*, Connection> connections_;
  std::vector<ReceivedRequest> requests_;
  std::set<std::string> closedGates_;
  std::map<std::string, std::vector<QSslSocket*>> held_;  // in arrival order
};

// Runs `action` once, at the next request for `path` the site receives: from its
// requestReceived signal, so inside whatever nested event loop the client is waiting in, and
// before that request is answered (or while it is held).
void OnceOnRequest(StationSite& site, const std::string& path, std::function<void()> action);

// How the site answers for one station of the catalogue.
struct StationSetup {
  enum class Mode {
    kPage,          // 200 with the page
    kStatus,        // `status` with `reason`, a short HTML body
    kUnauthorized,  // 401 "Unauthorized" with the page as its body
    kRedirects,     // `redirects` redirects in a row, then the page
    kBadUtf8,       // the page with one malformed UTF-8 sequence in it
    kSilent,        // no answer at all
  };
  PageValues values;
  Mode mode = Mode::kPage;
  int status = 404;
  std::string reason = "Not Found";
  int redirects = 1;
  LineEnds lineEnds = LineEnds::kCrLf;
};

// Built-in readings for station 1 to 4, so the site serves sensible pages without a config.
StationSetup DefaultSetup(int station);

// A station answered with `status` and the reason phrase `reason` instead of its page.
StationSetup FailingSetup(int status, std::string reason);

// `base` overlaid with the keys of group "station<n>" of `settings`: level, negativeIons,
// pm25, ozone, publishTime, answer (page|status|unauthorized|redirects|badutf8|silent),
// status, reason, redirects, lineends (crlf|lf|cr). False with `error` on a bad value.
bool ReadSetup(const QSettings& settings, int station, StationSetup& setup, QString* error);

// Installs the answers of `station` (its page path, and the redirect chain's paths under
// "/redirect/<site id>/") on the site.
void ServeStation(StationSite& site, int station, const StationSetup& setup);

// Makes a self-signed certificate with the openssl command-line tool in `dir`, for the names
// `altNames` (an openssl subjectAltName value; 127.0.0.1 by default). The certificate is its own
// CA: a client that trusts the file (config.ini Path/StationCA) trusts the site. False with
// `error` when the tool fails.
bool MakeCertificate(const QString& dir, QString* certFile, QString* keyFile, QString* error,
                     const QString& altNames = "IP:127.0.0.1");

// The request bytes made readable: CR and LF shown as "\r" and "\n", other control bytes and
// bytes above 126 as "\xHH"; one request line per output line.
std::string Printable(const QByteArray& bytes);

}  // namespace aqled::stationsite
