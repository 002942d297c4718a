#include "share/share_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "logging/line_budget.h"
#include "settings/file_io.h"
#include "share/open_files.h"
#include "text/datetime.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

namespace fs = std::filesystem;

namespace {

// The body of every refusal.
constexpr std::string_view kNotFoundBody = "Not Found";
// The body of the answer to a request whose handling failed (out of memory, a page that threw).
constexpr std::string_view kServerErrorBody = "Internal Server Error";
// How often the whole-request time-outs are checked while connections are open.
constexpr int kSweepIntervalMs = 500;

// Splits an address into the authority and what follows it (path, query, fragment).
void SplitAddress(std::string_view address, std::string_view& authority, std::string_view& rest) {
  const size_t scheme = address.find("://");
  std::string_view s = scheme == std::string_view::npos ? address : address.substr(scheme + 3);
  const size_t end = s.find_first_of("/?#");
  authority = s.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : s.substr(end);
}

// The authority without user information.
std::string_view HostAndPort(std::string_view httpBaseDir) {
  std::string_view authority, rest;
  SplitAddress(httpBaseDir, authority, rest);
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  return authority;
}

const char* ContentTypeOf(std::string_view name) {
  const std::string ext = ExtensionOf(name);
  if (ext == ".bmp") return "image/bmp";
  if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
  if (ext == ".xml") return "text/xml";
  return "application/octet-stream";
}

// The path of a request target as sent: the query and fragment cut off, and an absolute form
// ("http://host/share/x") taken to its path.
std::string_view TargetPath(std::string_view target) {
  const size_t scheme = target.find("://");
  if (scheme != std::string_view::npos && target.find('/') > scheme) {
    target.remove_prefix(scheme + 3);
    const size_t slash = target.find('/');
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  return target.substr(0, target.find_first_of("?#"));
}

// A response given up by its maker when it goes out of scope (the library keeps a queued one).
struct ResponseRelease {
  void operator()(MHD_Response* response) const noexcept { MHD_destroy_response(response); }
};
using ResponsePtr = std::unique_ptr<MHD_Response, ResponseRelease>;

// A plain-text answer whose body is static.
MHD_Response* PlainResponse(std::string_view body) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_PERSISTENT);
  if (response) MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
  return response;
}

// The peer's address as the controller link writes it: an IPv4 address mapped into IPv6 (a
// connection to the dual socket) is the IPv4 address itself.
QHostAddress Normalized(const QHostAddress& address) {
  bool v4 = false;
  const quint32 ip = address.toIPv4Address(&v4);
  return v4 ? QHostAddress(ip) : address;
}

}  // namespace

int SharePortOf(std::string_view httpBaseDir) {
  const std::string_view authority = HostAndPort(httpBaseDir);
  size_t hostEnd = 0;
  if (!authority.empty() && authority.front() == '[') {  // [IPv6]
    hostEnd = authority.find(']');
    if (hostEnd == std::string_view::npos) return -1;
  }
  const size_t colon = authority.find(':', hostEnd);
  if (colon == std::string_view::npos) return 80;
  const std::string_view digits = authority.substr(colon + 1);
  if (digits.empty()) return 80;
  const std::optional<uint64_t> port = ParseDecimal(digits);
  return port && *port >= 1 && *port <= 65535 ? static_cast<int>(*port) : -1;
}

std::string SharePathOf(std::string_view httpBaseDir) {
  std::string_view authority, rest;
  SplitAddress(httpBaseDir, authority, rest);
  std::string path(rest.substr(0, rest.find_first_of("?#")));
  if (path.empty() || path.front() != '/') path.insert(0, "/");
  if (path.back() != '/') path += '/';
  return path;
}

std::string ShareHostOf(std::string_view httpBaseDir) {
  std::string_view authority = HostAndPort(httpBaseDir);
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    return std::string(close == std::string_view::npos ? std::string_view() : authority.substr(1, close - 1));
  }
  return std::string(authority.substr(0, authority.find(':')));
}

ByteRange ParseByteRange(std::string_view header, uint64_t size) {
  const std::string trimmed = Trim(header);
  constexpr std::string_view kUnit = "bytes=";
  if (LowerAscii(std::string_view(trimmed).substr(0, kUnit.size())) != kUnit) return {};
  const std::string value = Trim(std::string_view(trimmed).substr(kUnit.size()));
  if (value.find(',') != std::string::npos) return {};  // several ranges: the whole file
  const size_t dash = value.find('-');
  if (dash == std::string::npos) return {};
  const std::string firstText = Trim(std::string_view(value).substr(0, dash));
  const std::optional<uint64_t> first = ParseDecimal(firstText);
  const std::string lastText = Trim(std::string_view(value).substr(dash + 1));
  const std::optional<uint64_t> last = ParseDecimal(lastText);
  if (firstText.empty()) {  // "-n": the last n bytes
    if (!last) return {};
    if (*last == 0 || size == 0) return {ByteRange::kUnsatisfiable};
    const uint64_t length = std::min(*last, size);
    return {ByteRange::kPart, size - length, length};
  }
  if (!first || (!lastText.empty() && (!last || *last < *first))) return {};  // malformed: ignored
  if (*first >= size) return {ByteRange::kUnsatisfiable};
  const uint64_t end = last ? std::min(*last, size - 1) : size - 1;
  return {ByteRange::kPart, *first, end - *first + 1};
}

// libmicrohttpd without threads of its own: its epoll descriptor is watched by the Qt event
// loop, a timer runs it when its time-outs fall due, and a second timer ends requests that
// outlast the whole-request time-out.
class ShareServer::Daemon {
 public:
  Daemon(const ShareServer& owner, const ShareServerOptions& options) : owner_(owner), options_(options) {
    clock_.start();
    notFound_ = PlainResponse(kNotFoundBody);
    serverError_ = PlainResponse(kServerErrorBody);
    runTimer_.setSingleShot(true);
    QObject::connect(&runTimer_, &QTimer::timeout, [this] { Run(); });
    reportTimer_.setSingleShot(true);
    QObject::connect(&reportTimer_, &QTimer::timeout, [this] {
      if (refusals_) refusals_->Flush();
      ArmReport();
    });
    sweepTimer_.setInterval(kSweepIntervalMs);
    QObject::connect(&sweepTimer_, &QTimer::timeout, [this] { Sweep(); });
  }

  ~Daemon() {
    notifier_.reset();
    if (mhd_) MHD_stop_daemon(mhd_);  // reports every open connection closed
    MHD_destroy_response(notFound_);
    MHD_destroy_response(serverError_);
  }

  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Starts listening; returns the port or 0.
  quint16 Start(quint16 port, const QHostAddress& address) {
    RaiseOpenFileLimit();
    limit_ = std::min(options_.maxConnections,
                      DescriptorBudgetUnder(OpenFileLimit(), options_.linkConnections).shareConnections);
    unsigned flags = MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    const sockaddr* bindTo = nullptr;
    const bool any = address == QHostAddress::Any;
    if (any) {
      flags |= MHD_USE_DUAL_STACK;
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
      flags |= MHD_USE_IPv6;
      v6.sin6_family = AF_INET6;
      v6.sin6_port = htons(port);
      const Q_IPV6ADDR bytes = address.toIPv6Address();
      std::memcpy(&v6.sin6_addr, &bytes, sizeof v6.sin6_addr);
      bindTo = reinterpret_cast<const sockaddr*>(&v6);
    } else if (address != QHostAddress::AnyIPv4) {
      v4.sin_family = AF_INET;
      v4.sin_port = htons(port);
      v4.sin_addr.s_addr = htonl(address.toIPv4Address());
      bindTo = reinterpret_cast<const sockaddr*>(&v4);
    }
    mhd_ = StartMhd(flags, port, bindTo);
    // A machine without IPv6 cannot open the dual socket; every IPv4 address is then "all".
    if (!mhd_ && any) mhd_ = StartMhd(MHD_USE_EPOLL | MHD_USE_ERROR_LOG, port, nullptr);
    if (!mhd_) return 0;
    const MHD_DaemonInfo* bound = MHD_get_daemon_info(mhd_, MHD_DAEMON_INFO_BIND_PORT);
    const MHD_DaemonInfo* epoll = MHD_get_daemon_info(mhd_, MHD_DAEMON_INFO_EPOLL_FD);
    if (!bound || !epoll || bound->port == 0) {
      MHD_stop_daemon(mhd_);
      mhd_ = nullptr;
      return 0;
    }
    notifier_ = std::make_unique<QSocketNotifier>(epoll->epoll_fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Run(); });
    Rearm();
    return bound->port;
  }

  unsigned ConnectionCount() const { return static_cast<unsigned>(connections_.size()); }
  unsigned ConnectionLimit() const { return limit_; }

  // The addresses whose connections the reserve is kept for. Strangers beyond their share lose
  // their connections now, the idle ones first, so that a card's next connection finds room.
  void SetCardAddresses(const std::vector<QHostAddress>& addresses) {
    cards_.clear();
    for (const QHostAddress& a : addresses) cards_.push_back(Normalized(a).toString());
    const unsigned strangers = Strangers();
    const unsigned room = StrangerRoom();
    for (unsigned excess = strangers > room ? strangers - room : 0; excess > 0; --excess) {
      if (!Displace(nullptr, true)) break;
    }
  }
  // The summary of peers refused or cut off that waits for its interval, written now.
  void WritePendingSummary() {
    if (refusals_) refusals_->Close();
    ArmReport();
  }
  // Refusals while there is no log are not counted.
  void SetLog(LogSink* log) {
    log_ = log;
    if (log_) {
      refusals_.emplace(
          *log_, wallClock_, 1, [this](long long n) { return RefusalLine(n); },
          kShareLimitReportSeconds * 1000, LineBudget::Pace::kSpaced);
    } else {
      refusals_.reset();
    }
    ArmReport();
  }

 private:
  // What the server keeps of one TCP connection.
  struct Connection {
    int fd = -1;
    QString address;            // the peer's, normalized
    qint64 requestStartMs = 0;  // when the current request began (or the connection)
    std::string target;         // the request target of the current request, as sent
    bool answered = false;      // a response is queued for the current request
    bool cut = false;           // ended by the whole-request time-out, or displaced
    bool inRequest = false;     // a request has begun and its answer is not complete
  };

  MHD_Daemon* StartMhd(unsigned flags, quint16 port, const sockaddr* bindTo) {
    MHD_OptionItem options[] = {
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&Daemon::OnMessage), this},
        // The limit per address is the server's own (OnAccept): card addresses have none.
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(limit_), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kShareConnectionMemory), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(options_.idleTimeoutSeconds), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Daemon::OnConnection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Daemon::OnCompleted), this},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&Daemon::OnTarget), this},
        // SIGPIPE is ignored (Listen), so answers may be sent with sendfile().
        {MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, nullptr},
        {bindTo ? MHD_OPTION_SOCK_ADDR : MHD_OPTION_END, 0, const_cast<sockaddr*>(bindTo)},
        {MHD_OPTION_END, 0, nullptr}};
    return MHD_start_daemon(flags, port, &Daemon::OnAccept, this, &Daemon::OnRequest, this, MHD_OPTION_ARRAY,
                            options, MHD_OPTION_END);
  }

  // Lets the library do what its descriptors and time-outs call for, then waits for the next.
  void Run() {
    if (!mhd_) return;
    closedInRun_ = false;
    MHD_run(mhd_);
    // A connection closed in this run freed a slot; the library takes the listening socket back
    // into its watch only at the start of a run, so that run follows at once.
    if (closedInRun_) MHD_run(mhd_);
    Rearm();
  }

  void Rearm() {
    MHD_UNSIGNED_LONG_LONG ms = 0;
    if (MHD_get_timeout(mhd_, &ms) == MHD_YES)
      runTimer_.start(static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(ms, 60000)));
    else
      runTimer_.stop();
  }

  // Ends every request older than the whole-request time-out: shutting its socket down makes
  // the library see the end of the stream and close the connection in its next run.
  void Sweep() {
    const qint64 now = clock_.elapsed();
    const qint64 limit = static_cast<qint64>(options_.requestTimeoutSeconds) * 1000;
    int cut = 0;
    for (const auto& [key, c] : connections_) {
      if (c->cut || options_.requestTimeoutSeconds == 0 || now - c->requestStartMs < limit) continue;
      c->cut = true;
      ::shutdown(c->fd, SHUT_RDWR);
      ++cut;
    }
    if (cut > 0) {
      Refused(cut, "request time-out");
      Run();
    }
    if (connections_.empty()) sweepTimer_.stop();
  }

  // Counts peers refused or cut off by a limit and reports them in one line at most every
  // kShareLimitReportSeconds: the first at once, the rest summed up when the interval is over.
  void Refused(int count, const std::string& why) {
    lastReason_ = why;
    if (!refusals_) return;
    if (refusals_->Take(1, count)) log_->AppendLog(kLogError, RefusalLine(count));
    ArmReport();
  }

  // The line for `count` peers, named by the reason of the latest.
  std::string RefusalLine(long long count) const {
    return Gbk<"共享服务拒绝或断开连接: ">() + std::to_string(count) + " (" + lastReason_ + ")";
  }

  // The report timer fires when the open interval of refusals ends, and waits for none otherwise.
  void ArmReport() {
    const std::optional<qint64> left = refusals_ ? refusals_->MillisLeft() : std::nullopt;
    if (left)
      reportTimer_.start(static_cast<int>(*left));
    else
      reportTimer_.stop();
  }

  static Connection* ConnectionOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Connection*>(info->socket_context) : nullptr;
  }

  // The library's callbacks below never let an exception through into C: a failure drops the
  // connection (or, inside a request, answers 500) and the server goes on.

  static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                           MHD_ConnectionNotificationCode code) noexcept {
    auto* self = static_cast<Daemon*>(cls);
    try {
      if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        self->Opened(connection, socketContext);
      } else if (auto* c = static_cast<Connection*>(*socketContext)) {
        *socketContext = nullptr;
        self->Closed(c);
      }
    } catch (...) {
      Drop(connection);
    }
  }

  // Takes a new connection into the books; its context stays empty when that fails.
  void Opened(MHD_Connection* connection, void** socketContext) {
    auto owned = std::make_unique<Connection>();
    Connection* c = owned.get();
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    c->fd = fd ? fd->connect_fd : -1;
    c->requestStartMs = clock_.elapsed();
    const MHD_ConnectionInfo* peer = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (peer && peer->client_addr) c->address = Normalized(QHostAddress(peer->client_addr)).toString();
    ++perAddress_[c->address];
    try {
      connections_.emplace(c, std::move(owned));
    } catch (...) {
      Forget(c->address);
      throw;
    }
    *socketContext = c;
    if (!sweepTimer_.isActive()) sweepTimer_.start();
    // A card's connection took the last place: one is freed for the card's next connection.
    if (IsCard(c->address) && connections_.size() >= limit_) Displace(c, false);
  }

  void Closed(const Connection* c) {
    closedInRun_ = true;
    Forget(c->address);
    connections_.erase(c);
  }

  // One connection less from `address`.
  void Forget(const QString& address) {
    if (auto count = perAddress_.find(address); count != perAddress_.end() && --count->second == 0)
      perAddress_.erase(count);
  }

  // Ends a connection whose handling failed; the library closes it in its next run.
  static void Drop(MHD_Connection* connection) noexcept {
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (fd) ::shutdown(fd->connect_fd, SHUT_RDWR);
  }

  // Called with the request target as sent, before anything is decoded.
  static void* OnTarget(void*, const char* uri, MHD_Connection* connection) noexcept {
    try {
      if (Connection* c = ConnectionOf(connection)) {
        c->target = uri ? uri : "";
        c->answered = false;
        c->inRequest = true;
      }
    } catch (...) {
      Drop(connection);
    }
    return nullptr;
  }

  static void OnCompleted(void* cls, MHD_Connection* connection, void**,
                          MHD_RequestTerminationCode) noexcept {
    auto* self = static_cast<Daemon*>(cls);
    if (Connection* c = ConnectionOf(connection)) {
      c->requestStartMs = self->clock_.elapsed();
      c->inRequest = false;
    }
  }

  bool IsCard(const QString& address) const {
    return std::find(cards_.begin(), cards_.end(), address) != cards_.end();
  }

  // Connections from addresses that are not a card's.
  unsigned Strangers() const {
    unsigned cards = 0;
    for (const QString& card : cards_) {
      if (auto count = perAddress_.find(card); count != perAddress_.end()) cards += count->second;
    }
    return static_cast<unsigned>(connections_.size()) -
           std::min(cards, static_cast<unsigned>(connections_.size()));
  }

  // The places strangers may take: all of them while no card is logged in, otherwise all but
  // the cards' reserve.
  unsigned StrangerRoom() const {
    if (cards_.empty()) return limit_;
    return limit_ - std::min(kShareCardReserve, limit_ / 2);
  }

  // Called with each accepted peer before the library takes it: a stranger beyond the limit of
  // its address or beyond the strangers' room is closed at once; a card's address is always
  // taken.
  static MHD_Result OnAccept(void* cls, const sockaddr* address, socklen_t) noexcept {
    try {
      return static_cast<Daemon*>(cls)->Accepts(address);
    } catch (...) {
      return MHD_NO;
    }
  }

  MHD_Result Accepts(const sockaddr* address) {
    const QString peer = address ? Normalized(QHostAddress(address)).toString() : QString();
    if (IsCard(peer)) return MHD_YES;
    const auto count = perAddress_.find(peer);
    if (count != perAddress_.end() && count->second >= options_.maxConnectionsPerAddress) {
      Refused(1, "connection limit of one address");
      return MHD_NO;
    }
    if (Strangers() >= StrangerRoom()) {
      Refused(1, "connections kept for the cards");
      return MHD_NO;
    }
    return MHD_YES;
  }

  // Ends one connection to make room: a stranger's before a card's (only a stranger's when
  // `strangersOnly`), an idle one before one in a request, the one waiting longest first; never
  // `keep`. The library closes it in its next run. False when there is none to end.
  bool Displace(const Connection* keep, bool strangersOnly) {
    Connection* chosen = nullptr;
    auto rank = [this](const Connection* c) {
      return std::tuple(IsCard(c->address), c->inRequest, c->requestStartMs);
    };
    for (const auto& [key, c] : connections_) {
      if (c.get() == keep || c->cut || (strangersOnly && IsCard(c->address))) continue;
      if (!chosen || rank(c.get()) < rank(chosen)) chosen = c.get();
    }
    if (!chosen) return false;
    chosen->cut = true;
    ::shutdown(chosen->fd, SHUT_RDWR);
    Refused(1, "displaced for a card");
    return true;
  }

  static void OnMessage(void* cls, const char* format, va_list args) noexcept {
    try {
      static_cast<Daemon*>(cls)->Message(format, args);
    } catch (...) {
      // Nothing to do: the message is lost, the library goes on.
    }
  }

  void Message(const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line = text;
    // Some messages quote the whole HTML page of the error answer: the status says enough.
    const size_t html = line.find(" ('<html>");
    const size_t htmlEnd = line.find("</html>')");
    if (html != std::string::npos && htmlEnd != std::string::npos && htmlEnd > html)
      line.erase(html, htmlEnd + 9 - html);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    Refused(1, line);
  }

  // Answers with a page the owner made; the library keeps its own copy of the body.
  static MHD_Result QueuePage(MHD_Connection* connection, ShareAnswer& page) {
    const ResponsePtr response(
        MHD_create_response_from_buffer(page.body.size(), page.body.data(), MHD_RESPMEM_MUST_COPY));
    if (!response) return MHD_NO;
    MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_TYPE, page.contentType.c_str());
    MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    return MHD_queue_response(connection, MHD_HTTP_OK, response.get());
  }

  // Whether the request announces a body.
  static bool AnnouncesBody(MHD_Connection* connection) {
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) ||
           (length && std::string_view(length) != "0");
  }

  // Called once the head is in, then again after the body. A request with a body is answered at
  // once, which makes the library close the connection after the answer without reading the
  // body; one without is answered on the second call, which keeps the connection open for the
  // next request.
  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char*, const char* method,
                              const char*, const char*, size_t* uploadSize, void** request) noexcept {
    auto* self = static_cast<Daemon*>(cls);
    try {
      return self->Answer(connection, method, uploadSize, request);
    } catch (...) {
      // Queuing is the last step of every answer, so nothing is queued for this request yet.
      if (Connection* c = ConnectionOf(connection)) c->answered = true;
      return MHD_queue_response(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, self->serverError_);
    }
  }

  MHD_Result Answer(MHD_Connection* connection, const char* method, size_t* uploadSize, void** request) {
    Connection* c = ConnectionOf(connection);
    if (!c) return MHD_NO;
    const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    const bool served = head || std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
    if (!*request) {
      *request = c;
      if (served && !AnnouncesBody(connection)) return MHD_YES;
    }
    if (c->answered || *uploadSize != 0) {  // a body arriving after all is dropped, never kept
      *uploadSize = 0;
      return MHD_YES;
    }
    c->answered = true;
    if (!served) return MHD_queue_response(connection, MHD_HTTP_NOT_FOUND, notFound_);

    const std::string_view path = TargetPath(c->target);
    const QString decoded =
        QUrl::fromPercentEncoding(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    if (owner_.pages_) {
      if (std::optional<ShareAnswer> page = owner_.pages_(decoded)) return QueuePage(connection, *page);
    }
    Descriptor fd(owner_.OpenPublished(decoded));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
      return MHD_queue_response(connection, MHD_HTTP_NOT_FOUND, notFound_);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    ByteRange range;
    // Range applies to GET only; without validators an If-Range can never be confirmed.
    if (!head && !MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_RANGE)) {
      const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE);
      if (value) range = ParseByteRange(value, size);
    }

    ResponsePtr response;
    unsigned status = MHD_HTTP_OK;
    std::string contentRange;
    if (range.kind == ByteRange::kUnsatisfiable) {
      fd.Close();
      status = MHD_HTTP_RANGE_NOT_SATISFIABLE;
      contentRange = "bytes */" + std::to_string(size);
      response.reset(MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT));
    } else {
      uint64_t first = 0, length = size;
      if (range.kind == ByteRange::kPart) {
        first = range.first;
        length = range.length;
        status = MHD_HTTP_PARTIAL_CONTENT;
        contentRange = "bytes " + std::to_string(first) + "-" + std::to_string(first + length - 1) + "/" +
                       std::to_string(size);
      }
      // The library reads the file as it sends (sendfile) and closes it with the response.
      response.reset(MHD_create_response_from_fd_at_offset64(length, fd.get(), first));
      if (response) {
        fd.release();
        MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_TYPE, ContentTypeOf(path));
        MHD_add_response_header(response.get(), MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
      }
    }
    if (!response) return MHD_NO;
    if (!contentRange.empty())
      MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_RANGE, contentRange.c_str());
    return MHD_queue_response(connection, status, response.get());
  }

  const ShareServer& owner_;
  const ShareServerOptions options_;
  MHD_Daemon* mhd_ = nullptr;
  MHD_Response* notFound_ = nullptr;
  MHD_Response* serverError_ = nullptr;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer runTimer_;
  QTimer sweepTimer_;
  QElapsedTimer clock_;
  std::unordered_map<const Connection*, std::unique_ptr<Connection>>
      connections_;                         // open, by the library's context
  std::map<QString, unsigned> perAddress_;  // open connections by peer address
  std::vector<QString> cards_;              // the card addresses, normalized
  unsigned limit_ = 0;                      // connections held at once
  LogSink* log_ = nullptr;
  SystemClock wallClock_;
  std::optional<LineBudget> refusals_;  // while there is a log
  QTimer reportTimer_;
  bool closedInRun_ = false;
  std::string lastReason_;
};

ShareServer::ShareServer(std::string shareFolder, std::string httpBaseDir, ShareServerOptions options)
    : shareFolder_(std::move(shareFolder)),
      urlPath_(QUrl::fromPercentEncoding(QByteArray::fromStdString(GbkToUtf8(SharePathOf(httpBaseDir))))),
      options_(options) {}

ShareServer::~ShareServer() = default;

bool ShareServer::Listen(quint16 port, const QHostAddress& address) {
  if (daemon_) return false;
  // A peer that leaves in the middle of an answer must cost that connection, not the process.
  std::signal(SIGPIPE, SIG_IGN);
  auto daemon = std::make_unique<Daemon>(*this, options_);
  const quint16 bound = daemon->Start(port, address);
  if (bound == 0) return false;
  daemon_ = std::move(daemon);
  daemon_->SetLog(log_);
  daemon_->SetCardAddresses(cardAddresses_);
  port_ = bound;
  return true;
}

unsigned ShareServer::ConnectionCount() const { return daemon_ ? daemon_->ConnectionCount() : 0; }

unsigned ShareServer::ConnectionLimit() const { return daemon_ ? daemon_->ConnectionLimit() : 0; }

void ShareServer::SetCardAddresses(std::vector<QHostAddress> addresses) {
  if (addresses == cardAddresses_) return;
  cardAddresses_ = std::move(addresses);
  if (daemon_) daemon_->SetCardAddresses(cardAddresses_);
}

void ShareServer::SetLog(LogSink* log) {
  log_ = log;
  if (daemon_) daemon_->SetLog(log);
}

void ShareServer::WritePendingSummary() {
  if (daemon_) daemon_->WritePendingSummary();
}

int ShareServer::OpenPublished(const QString& decodedPath) const {
  if (!decodedPath.startsWith(urlPath_)) return -1;
  const QString name = decodedPath.mid(urlPath_.size());
  if (name.isEmpty() || name.startsWith('.') || name.contains('/') || name.contains('\\') ||
      name.contains(QChar(0)))
    return -1;
  const Descriptor folder(::open(PathFromGbk(shareFolder_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) return -1;
  // No link is followed, and opening never waits (a FIFO would otherwise block the loop).
  Descriptor fd(::openat(folder.get(), name.toStdString().c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  const int published = fd.get();
  fd.release();
  return published;
}

std::optional<fs::path> ShareServer::Resolve(const QString& decodedPath) const {
  const int fd = OpenPublished(decodedPath);
  if (fd < 0) return std::nullopt;
  ::close(fd);
  return PathFromGbk(shareFolder_) / fs::path(decodedPath.mid(urlPath_.size()).toStdString());
}

bool StartShareServer(ShareServer& server, const std::string& httpBaseDir, LogSink& log) {
  const int port = SharePortOf(httpBaseDir);
  if (port < 0) {
    log.AppendLog(kLogError, Gbk<"共享服务地址无效: ">() + httpBaseDir);
    return false;
  }
  // The address of HttpBaseDir when it is one of this machine's; a name or a foreign address
  // (the card reaches this machine through a forwarding) gets every address.
  const std::string host = ShareHostOf(httpBaseDir);
  QHostAddress address = QHostAddress::Any;
  const QHostAddress named(QString::fromStdString(host));
  if (!named.isNull() && QNetworkInterface::allAddresses().contains(named)) address = named;
  if (!server.Listen(static_cast<quint16>(port), address)) {
    log.AppendLog(kLogError, Gbk<"共享服务启动失败: ">() + std::to_string(port));
    return false;
  }
  server.SetLog(&log);
  log.AppendLog(kLogSent, Gbk<"共享服务启动成功: ">() + std::to_string(port));
  const std::string where = address == QHostAddress::Any                          ? Gbk<"全部地址">()
                            : address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + host + "]"
                                                                                  : host;
  log.AppendLog(kLogInfo, Gbk<"共享服务地址: ">() + where + ":" + std::to_string(port));
  return true;
}

}  // namespace aqled
