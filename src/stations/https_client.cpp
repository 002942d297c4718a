#include "stations/https_client.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

constexpr const char* kUserAgent = "Mozilla/4.0";
constexpr const char* kAbandonedText = "Request abandoned";

// The parsed head of one response.
struct ResponseHead {
  int status = 0;
  std::string reason;
  std::optional<std::string> location;
  qint64 contentLength = -1;  // -1: read to the close
};

// Parses "HTTP/x.y SSS reason" and the header lines; false when the status line is not one.
bool ParseHead(std::string_view head, ResponseHead& out) {
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    const size_t lf = head.find('\n');
    std::string_view line = head.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    head.remove_prefix(lf + 1);
  }
  if (lines.empty()) return false;
  const std::string_view status = lines[0];
  if (status.substr(0, 5) != "HTTP/") return false;
  const size_t sp = status.find(' ');
  if (sp == std::string_view::npos || status.size() < sp + 4) return false;
  const std::optional<std::uint64_t> code = ParseDecimal(status.substr(sp + 1, 3));
  if (!code) return false;
  if (status.size() > sp + 4 && status[sp + 4] != ' ') return false;
  out.status = static_cast<int>(*code);
  // The reason phrase is kept exactly as sent: everything after the blank behind the code.
  out.reason = status.size() > sp + 5 ? std::string(status.substr(sp + 5)) : std::string();

  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string_view::npos) continue;
    const std::string name = LowerAscii(Trim(lines[i].substr(0, colon)));
    const std::string value = Trim(lines[i].substr(colon + 1));
    if (name == "location" && !out.location) {
      out.location = value;
    } else if (name == "content-length") {
      // At most 18 digits: every such length fits a qint64.
      const std::optional<std::uint64_t> digits =
          value.size() <= 18 ? ParseDecimal(value) : std::optional<std::uint64_t>();
      const bool valid = digits.has_value();
      const qint64 n = valid ? static_cast<qint64>(*digits) : 0;
      // A malformed or contradicting length is ignored: the body then runs to the close.
      if (!valid || (out.contentLength >= 0 && out.contentLength != n)) {
        out.contentLength = -2;
      } else if (out.contentLength != -2) {
        out.contentLength = n;
      }
    }
  }
  if (out.contentLength == -2) out.contentLength = -1;
  return true;
}

// The end of the head (the index just after the empty line), or npos.
size_t HeadEnd(const QByteArray& buffer, size_t& headLength) {
  const qsizetype crlf = buffer.indexOf("\r\n\r\n");
  const qsizetype lf = buffer.indexOf("\n\n");
  if (crlf >= 0 && (lf < 0 || crlf < lf)) {
    headLength = static_cast<size_t>(crlf) + 2;
    return static_cast<size_t>(crlf) + 4;
  }
  if (lf >= 0) {
    headLength = static_cast<size_t>(lf) + 1;
    return static_cast<size_t>(lf) + 2;
  }
  return std::string::npos;
}

}  // namespace

// One connection: the request, the response head and (unless a redirect is to be followed)
// the body. Lives on the stack of HttpsClient::Get for the time of its nested event loop.
class HttpsClient::Exchange {
 public:
  struct Outcome {
    bool completed = false;  // a response arrived (see head/body); otherwise `error`
    std::string error;
    ResponseHead head;
    std::string body;
  };

  Exchange(HttpsClient& client, const QUrl& url, QDeadlineTimer deadline)
      : client_(client),
        url_(url),
        deadline_(deadline),
        tls_(url.scheme().compare("https", Qt::CaseInsensitive) == 0) {}

  Outcome Run() {
    const bool tls = tls_;
    const QString host = url_.host(QUrl::FullyEncoded);
    const int defaultPort = tls ? 443 : 80;
    const int port = url_.port(defaultPort);

    QSslSocket socket;
    socket_ = &socket;
    QTimer idle;
    idle.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the time-out must never cut a request short.
    idle.setTimerType(Qt::PreciseTimer);
    idle.setInterval(client_.timeoutMs_);
    idle_ = &idle;
    // The whole GET's deadline, which no progress moves.
    QTimer whole;
    whole.setSingleShot(true);
    whole.setTimerType(Qt::PreciseTimer);
    whole.setInterval(static_cast<int>(std::max<qint64>(deadline_.remainingTime(), 0)));
    whole_ = &whole;
    QEventLoop loop;
    loop_ = &loop;

    QByteArray target = url_.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty()) target = "/";
    if (url_.hasQuery()) target += "?" + url_.query(QUrl::FullyEncoded).toUtf8();
    QByteArray hostLine = host.toUtf8();
    if (port != defaultPort) hostLine += ":" + QByteArray::number(port);
    request_ = "GET " + target + " HTTP/1.0\r\n" + "Accept: " + QByteArray::fromStdString(client_.accept_) +
               "\r\n" + "User-Agent: " + kUserAgent + "\r\n" + "Host: " + hostLine + "\r\n\r\n";

    QObject::connect(&idle, &QTimer::timeout, &socket, [this] { Fail(kTimeoutText); });
    QObject::connect(&whole, &QTimer::timeout, &socket, [this] { Fail(kDeadlineText); });
    QObject::connect(&socket, &QAbstractSocket::connected, &socket, [this, tls] {
      connected_ = true;
      Progress();
      if (!tls) SendRequest();
    });
    QObject::connect(&socket, &QSslSocket::encrypted, &socket, [this] {
      encrypted_ = true;
      Progress();
      SendRequest();
    });
    // With verification off the socket may still report the certificate's faults once; with
    // it on they end the handshake, and are kept for the failure's message.
    QObject::connect(&socket, &QSslSocket::sslErrors, &socket, [this](const QList<QSslError>& errors) {
      if (!client_.verify_) {
        socket_->ignoreSslErrors();
        return;
      }
      for (const QSslError& e : errors) {
        const std::string text = FromQString(e.errorString());
        if (std::find(certificateProblems_.begin(), certificateProblems_.end(), text) ==
            certificateProblems_.end())
          certificateProblems_.push_back(text);
      }
    });
    QObject::connect(&socket, &QAbstractSocket::bytesWritten, &socket, [this] { Progress(); });
    QObject::connect(&socket, &QSslSocket::encryptedBytesWritten, &socket, [this] { Progress(); });
    QObject::connect(&socket, &QIODevice::readyRead, &socket, [this] { Read(); });
    QObject::connect(&socket, &QAbstractSocket::disconnected, &socket, [this] { Closed(); });
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, &socket,
                     [this](QAbstractSocket::SocketError e) { Error(e); });

    client_.current_ = this;
    // Qt keeps what it reads for the caller without a bound by default; the body goes from a
    // bounded socket buffer straight into its one buffer.
    socket.setReadBufferSize(kSocketReadBufferBytes);
    idle.start();
    whole.start();
    if (tls) {
      QSslConfiguration config = socket.sslConfiguration();
      config.setPeerVerifyMode(client_.verify_ ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
      if (client_.verify_ && !client_.caCertificates_.isEmpty())
        config.setCaCertificates(client_.caCertificates_);
      config.setProtocol(QSsl::AnyProtocol);
      // The name the certificate must carry is the host connected to.
      socket.setSslConfiguration(config);
      socket.connectToHostEncrypted(host, static_cast<quint16>(port), QIODevice::ReadWrite,
                                    QAbstractSocket::IPv4Protocol);
    } else {
      socket.connectToHost(host, static_cast<quint16>(port), QIODevice::ReadWrite,
                           QAbstractSocket::IPv4Protocol);
    }
    if (!done_) loop.exec();
    // The loop also ends when the application quits; a request cut off that way is abandoned.
    if (!done_) Fail(kAbandonedText);
    if (client_.current_ == this) client_.current_ = nullptr;
    idle.stop();
    whole.stop();
    socket.disconnect();
    socket.abort();
    socket_ = nullptr;
    idle_ = nullptr;
    whole_ = nullptr;
    loop_ = nullptr;
    return std::move(outcome_);
  }

  // Abandons the exchange from outside (a reset, or a newer GET on the same client).
  void Abandon() { Fail(kAbandonedText); }

 private:
  void Progress() {
    if (!done_) idle_->start();
  }

  void SendRequest() {
    if (done_ || sent_) return;
    sent_ = true;
    socket_->write(request_);
  }

  void Read() {
    if (done_) return;
    Progress();
    Take();
  }

  // Takes what the socket holds: the head through a small buffer, the body straight into
  // outcome_.body.
  void Take() {
    if (!headDone_) {
      buffer_ += socket_->readAll();
      TakeHead();
    }
    if (done_ || !headDone_) return;
    std::string& body = outcome_.body;
    qint64 available = socket_->bytesAvailable();
    while (available > 0 && !done_) {
      // One byte past the cap is enough to know the body is too large.
      const auto room = static_cast<qint64>(kMaxBodyBytes) + 1 - static_cast<qint64>(body.size());
      const qint64 want = std::min(available, room);
      const size_t old = body.size();
      body.resize(old + static_cast<size_t>(want));
      const qint64 got = socket_->read(body.data() + old, want);
      body.resize(old + static_cast<size_t>(std::max<qint64>(got, 0)));
      if (got <= 0) break;
      CheckBody();
      available = socket_->bytesAvailable();
    }
  }

  // The end of the body: its Content-Length reached, or the cap passed.
  void CheckBody() {
    std::string& body = outcome_.body;
    const qint64 expected = outcome_.head.contentLength;
    if (expected >= 0 && static_cast<qint64>(body.size()) >= expected) {
      body.resize(static_cast<size_t>(expected));
      Complete();
    } else if (body.size() > static_cast<size_t>(kMaxBodyBytes)) {
      Fail("Response body too large");
    }
  }

  void TakeHead() {
    if (done_) return;
    while (!headDone_) {
      size_t headLength = 0;
      const size_t end = HeadEnd(buffer_, headLength);
      if (end == std::string::npos) {
        if (buffer_.size() > kMaxHeadBytes) Fail("Response head too long");
        return;
      }
      if (!ParseHead(std::string_view(buffer_.constData(), headLength), outcome_.head)) {
        Fail("Malformed status line from the server");
        return;
      }
      buffer_.remove(0, static_cast<qsizetype>(end));
      if (outcome_.head.status >= 100 && outcome_.head.status <= 199) {
        // An interim answer ("100 Continue", "103 Early Hints") has no body; the answer follows.
        outcome_.head = ResponseHead{};
        if (++interimAnswers_ > kMaxInterimAnswers) {
          Fail("Too many interim answers from the server");
          return;
        }
        continue;
      }
      headDone_ = true;
      if (outcome_.head.contentLength > kMaxBodyBytes) {
        Fail("Response body too large");
        return;
      }
      const int s = outcome_.head.status;
      if (s >= 300 && s <= 399 && outcome_.head.location) {
        Complete();  // a redirect is followed or fails; its body is not needed
        return;
      }
      // The body is received into one buffer, which a known length fills exactly; without
      // one it may grow to the cap (untouched room costs no memory).
      const qint64 length = outcome_.head.contentLength;
      outcome_.body.reserve(static_cast<size_t>(length >= 0 ? length : kMaxBodyBytes + 1));
      outcome_.body.assign(buffer_.constData(), static_cast<size_t>(buffer_.size()));
      buffer_ = QByteArray();
      CheckBody();
    }
  }

  void Closed() {
    if (done_) return;
    Take();
    if (done_) return;
    if (!headDone_) {
      if (!connected_) {
        Fail("Connection closed before it was established");
      } else if (tls_ && !encrypted_) {
        Fail(certificateProblems_.empty()
                 ? std::string("TLS handshake failed: the server closed the connection")
                 : CertificateFailure());
      } else {
        Fail("Connection closed before the server answered");
      }
    } else if (outcome_.head.contentLength >= 0) {
      Fail("Connection closed before the whole body arrived");
    } else {
      Complete();
    }
  }

  void Error(QAbstractSocket::SocketError e) {
    if (done_) return;
    if (e == QAbstractSocket::RemoteHostClosedError) {
      Closed();
      return;
    }
    // A peer that ends the stream without a TLS close after a body that runs to the close
    // has still sent the whole body.
    if (headDone_ && outcome_.head.contentLength < 0 && encrypted_) {
      Closed();
      return;
    }
    const std::string detail = FromQString(socket_->errorString());
    switch (e) {
      case QAbstractSocket::HostNotFoundError:
        Fail(kResolveText);
        return;
      case QAbstractSocket::ConnectionRefusedError:
        Fail("Connection refused by the server");
        return;
      default:
        break;
    }
    if (!connected_) {
      Fail("Can't connect to the server: " + detail);
    } else if (tls_ && !encrypted_) {
      Fail(certificateProblems_.empty() ? "TLS handshake failed: " + detail : CertificateFailure());
    } else if (!headDone_) {
      Fail("Connection failed before the server answered: " + detail);
    } else {
      Fail("Connection failed while reading the answer: " + detail);
    }
  }

  void Complete() {
    if (done_) return;
    done_ = true;
    outcome_.completed = true;
    Stop();
  }

  void Fail(const std::string& message) {
    if (done_) return;
    done_ = true;
    outcome_.completed = false;
    outcome_.error = message;
    Stop();
  }

  void Stop() {
    if (idle_) idle_->stop();
    if (whole_) whole_->stop();
    if (loop_) loop_->exit();
  }

  std::string CertificateFailure() const {
    std::string problems;
    for (const std::string& p : certificateProblems_) problems += (problems.empty() ? "" : "; ") + p;
    return CertificateFailureText(problems);
  }

  HttpsClient& client_;
  QUrl url_;
  QDeadlineTimer deadline_;
  bool tls_;
  QSslSocket* socket_ = nullptr;
  QTimer* idle_ = nullptr;
  QTimer* whole_ = nullptr;
  QEventLoop* loop_ = nullptr;
  QByteArray request_;
  QByteArray buffer_;
  bool connected_ = false;
  bool encrypted_ = false;
  bool sent_ = false;
  bool headDone_ = false;
  int interimAnswers_ = 0;
  std::vector<std::string> certificateProblems_;  // GBK, each once
  bool done_ = false;
  Outcome outcome_;
};

std::string CertificateFailureText(const std::string& problems) {
  return Gbk<"证书验证失败: ">() + problems + " (Path/StationCA, Set/TlsVerify)";
}

bool LoadTlsBackend() {
  if (!QSslSocket::supportsSsl()) return false;
  // Qt's default configuration, which every later socket starts from, is made now as well.
  QSslConfiguration::defaultConfiguration();
  return true;
}

HttpsClient::HttpsClient(int timeoutMs, QObject* parent) : QObject(parent), timeoutMs_(timeoutMs) {}

void HttpsClient::SetTrust(const TlsTrust& trust) {
  verify_ = trust.verify;
  caCertificates_.clear();
  // Qt reads the system's store only while no certificates are set, so both go in together.
  // The store is read once for the process (a quarter of a second for a few hundred files).
  if (trust.extraCaCertificates.isEmpty()) return;
  static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
  caCertificates_ = system + trust.extraCaCertificates;
}

HttpsClient::~HttpsClient() { Reset(); }

void HttpsClient::Reset() {
  if (current_ != nullptr) {
    Exchange* running = current_;
    current_ = nullptr;
    running->Abandon();
  }
}

HttpResponse HttpsClient::Get(const std::string& url) {
  Reset();
  HttpResponse response;
  const QDeadlineTimer deadline(deadlineMs_, Qt::PreciseTimer);
  QUrl current = QUrl(ToQString(url), QUrl::StrictMode);
  for (;;) {
    const QString scheme = current.scheme().toLower();
    if (!current.isValid() || (scheme != "https" && scheme != "http") || current.host().isEmpty()) {
      response.error = "Invalid address: " + FromQString(current.toString());
      if (current.toString().isEmpty()) response.error = "Invalid address: " + url;
      return response;
    }
    Exchange exchange(*this, current, deadline);
    Exchange::Outcome outcome = exchange.Run();
    if (!outcome.completed) {
      response.error = std::move(outcome.error);
      return response;
    }
    const ResponseHead& head = outcome.head;
    if (head.status >= 300 && head.status <= 399 && head.location) {
      if (response.redirects >= kMaxRedirects) {
        response.status = head.status;
        response.reason = head.reason;
        response.error = kTooManyRedirectsText;
        return response;
      }
      ++response.redirects;
      current = current.resolved(QUrl(QString::fromStdString(*head.location)));
      continue;
    }
    response.status = head.status;
    response.reason = head.reason;
    response.body = std::move(outcome.body);
    response.ok = head.status < 400 || head.status == 401 || head.status == 407;
    if (!response.ok) response.error = head.reason;
    return response;
  }
}

}  // namespace aqled
