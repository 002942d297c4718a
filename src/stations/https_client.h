#pragma once
// The window's one HTTPS client: HTTP/1.0 over TLS (or plain HTTP after a redirect to an
// "http://" address), IPv4 only, and exactly four request lines. The site's certificate (its
// chain and its host name) is verified against the system's store and any extra CA
// certificates the client is given, unless verification is switched off. Qt's
// QNetworkAccessManager adds headers of its own, so this client is ours. A GET is synchronous
// for its caller but waits in a nested event loop, so the window keeps handling clicks, timers
// and controller socket events meanwhile (and may re-enter).

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <string>
#include <utility>

#include "stations/limits.h"

namespace aqled {

// Failure texts of the client (the reason phrase of an error status is the server's own).
inline constexpr const char* kTimeoutText = "Request aborted on timeout";
inline constexpr const char* kResolveText = "can't resolve hostname to IP address";
inline constexpr const char* kDeadlineText = "Request not complete within the fetch deadline";
inline constexpr const char* kTooManyRedirectsText = "Too many redirects";

// The failure message (GBK) of a site certificate that did not pass verification:
// "证书验证失败: " + `problems` + " (Path/StationCA, Set/TlsVerify)".
std::string CertificateFailureText(const std::string& problems);

// What the client trusts of a site's certificate.
struct TlsTrust {
  bool verify = true;                          // false: any certificate, any host name
  QList<QSslCertificate> extraCaCertificates;  // trusted beside the system's store
};

// Loads the TLS library and its backend now, so that no later shortage of file descriptors can
// keep them from loading (Qt does not try a failed load again). False when TLS is missing.
bool LoadTlsBackend();

// The outcome of one GET. `ok` follows the status rules: below 400, 401 and 407 succeed.
struct HttpResponse {
  bool ok = false;
  std::string error;   // the failure message when !ok: a reason phrase or a client text
  int status = 0;      // status of the answer taken; 0 when none arrived
  std::string reason;  // its reason phrase, byte for byte as sent
  std::string body;    // the body bytes (to the close, or to Content-Length), received into it
  int redirects = 0;   // redirects followed
};

class HttpsClient : public QObject {
  Q_OBJECT

 public:
  // `timeoutMs` is the time without progress that aborts a request (tests shorten it). A new
  // client verifies certificates against the system's store alone.
  // The client must outlive any GET in progress on it (the window owns it for its life).
  explicit HttpsClient(int timeoutMs = kHttpTimeoutMs, QObject* parent = nullptr);
  ~HttpsClient() override;

  HttpsClient(const HttpsClient&) = delete;
  HttpsClient& operator=(const HttpsClient&) = delete;

  // The value of the Accept line of later requests ("*/*" at creation).
  void SetAccept(std::string accept) { accept_ = std::move(accept); }
  const std::string& Accept() const { return accept_; }
  int TimeoutMs() const { return timeoutMs_; }

  // The time one GET may take in all, redirects included (kFetchDeadlineMs at creation).
  void SetDeadlineMs(int deadlineMs) { deadlineMs_ = deadlineMs; }
  int DeadlineMs() const { return deadlineMs_; }

  // The certificates later requests trust. With extra CA certificates the system's store is
  // read beside them, the first time for the process.
  void SetTrust(const TlsTrust& trust);

  // Abandons the request in progress, if any: its GET returns the failure "Request abandoned".
  void Reset();

  // True while a GET waits.
  bool Busy() const { return current_ != nullptr; }

  // GETs `url` ("https://host[:port]/path", or "http://"), following up to kMaxRedirects
  // redirects (a relative Location is resolved against the current address; one more is a
  // failure). Returns when the answer is complete or the request failed, at the latest at the
  // deadline; never throws. A GET started while another waits abandons it. Failure messages
  // are GBK; a reason phrase is the server's bytes as sent.
  HttpResponse Get(const std::string& url);

 private:
  class Exchange;
  friend class Exchange;

  int timeoutMs_;
  int deadlineMs_ = kFetchDeadlineMs;
  bool verify_ = true;
  QList<QSslCertificate> caCertificates_;  // empty: Qt's default, the system's store
  std::string accept_ = "*/*";
  Exchange* current_ = nullptr;
};

}  // namespace aqled
