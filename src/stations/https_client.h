#pragma once
// The window's one HTTPS client: HTTP/1.0 over TLS (or plain HTTP after a redirect to an
// "http://" address), IPv4 only, no certificate or host-name verification, and exactly four
// request lines. Qt's QNetworkAccessManager adds headers of its own, so this client is ours.
// A GET is synchronous for its caller but waits in a nested event loop, so the window keeps
// handling clicks, timers and controller socket events meanwhile (and may re-enter).

#include <QObject>
#include <string>
#include <utility>

namespace aqled {

// Time without progress (connect, bytes sent or received) after which a request is abandoned.
inline constexpr int kHttpTimeoutMs = 30000;
// Redirects followed for one GET; the response that would need one more is the answer.
inline constexpr int kMaxRedirects = 5;
// Interim (1xx) answers skipped before the answer; a server sends one or two, more is a loop.
inline constexpr int kMaxInterimAnswers = 8;
// The largest response head and body accepted; a peer announcing or sending more fails.
inline constexpr qsizetype kMaxHeadBytes = 64 * 1024;
inline constexpr qsizetype kMaxBodyBytes = 32 * 1024 * 1024;

// Failure texts of the client (the reason phrase of an error status is the server's own).
inline constexpr const char* kTimeoutText = "Request aborted on timeout";
inline constexpr const char* kResolveText = "can't resolve hostname to IP address";

// The outcome of one GET. `ok` follows the status rules: below 400, 401 and 407 succeed.
struct HttpResponse {
  bool ok = false;
  std::string error;   // the failure message when !ok: a reason phrase or a client text
  int status = 0;      // status of the answer taken; 0 when none arrived
  std::string reason;  // its reason phrase, byte for byte as sent
  std::string body;    // the body bytes (to the close, or to Content-Length)
  int redirects = 0;   // redirects followed
};

class HttpsClient : public QObject {
  Q_OBJECT

 public:
  // `timeoutMs` is the time without progress that aborts a request (tests shorten it).
  // The client must outlive any GET in progress on it (the window owns it for its life).
  explicit HttpsClient(int timeoutMs = kHttpTimeoutMs, QObject* parent = nullptr);
  ~HttpsClient() override;

  HttpsClient(const HttpsClient&) = delete;
  HttpsClient& operator=(const HttpsClient&) = delete;

  // The value of the Accept line of later requests ("*/*" at creation).
  void SetAccept(std::string accept) { accept_ = std::move(accept); }
  const std::string& Accept() const { return accept_; }
  int TimeoutMs() const { return timeoutMs_; }

  // Abandons the request in progress, if any: its GET returns the failure "Request abandoned".
  void Reset();

  // True while a GET waits.
  bool Busy() const { return current_ != nullptr; }

  // GETs `url` ("https://host[:port]/path", or "http://"), following redirects (a relative
  // Location is resolved against the current address). Returns when the answer is complete
  // or the request failed; never throws. A GET started while another waits abandons it.
  HttpResponse Get(const std::string& url);

 private:
  class Exchange;
  friend class Exchange;

  int timeoutMs_;
  std::string accept_ = "*/*";
  Exchange* current_ = nullptr;
};

}  // namespace aqled
