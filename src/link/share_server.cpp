#include "link/share_server.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QUrl>
#include <cctype>
#include <system_error>

#include "text/gbk.h"

namespace aqled {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStarted =
    "\xb9\xb2\xcf\xed\xb7\xfe\xce\xf1\xc6\xf4\xb6\xaf\xb3\xc9\xb9\xa6: ";  // "共享服务启动成功: "
constexpr const char* kFailed =
    "\xb9\xb2\xcf\xed\xb7\xfe\xce\xf1\xc6\xf4\xb6\xaf\xca\xa7\xb0\xdc: ";  // "共享服务启动失败: "
constexpr const char* kBadAddress =
    "\xb9\xb2\xcf\xed\xb7\xfe\xce\xf1\xb5\xd8\xd6\xb7\xce\xde\xd0\xa7: ";  // "共享服务地址无效: "

// Splits an address into the authority and what follows it (path, query, fragment).
void SplitAddress(std::string_view address, std::string_view& authority, std::string_view& rest) {
  const size_t scheme = address.find("://");
  std::string_view s = scheme == std::string_view::npos ? address : address.substr(scheme + 3);
  const size_t end = s.find_first_of("/?#");
  authority = s.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : s.substr(end);
}

QByteArray ContentTypeOf(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".bmp") return "image/bmp";
  if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
  if (ext == ".xml") return "text/xml";
  return "application/octet-stream";
}

}  // namespace

int SharePortOf(std::string_view httpBaseDir) {
  std::string_view authority, rest;
  SplitAddress(httpBaseDir, authority, rest);
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  size_t hostEnd = 0;
  if (!authority.empty() && authority.front() == '[') {  // [IPv6]
    hostEnd = authority.find(']');
    if (hostEnd == std::string_view::npos) return -1;
  }
  const size_t colon = authority.find(':', hostEnd);
  if (colon == std::string_view::npos) return 80;
  const std::string_view digits = authority.substr(colon + 1);
  if (digits.empty()) return 80;
  long port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9' || port > 65535) return -1;
    port = port * 10 + (c - '0');
  }
  return port >= 1 && port <= 65535 ? static_cast<int>(port) : -1;
}

std::string SharePathOf(std::string_view httpBaseDir) {
  std::string_view authority, rest;
  SplitAddress(httpBaseDir, authority, rest);
  std::string path(rest.substr(0, rest.find_first_of("?#")));
  if (path.empty() || path.front() != '/') path.insert(0, "/");
  if (path.back() != '/') path += '/';
  return path;
}

// Qt's HTTP server with our own request handling: Qt's routes neither guard file names nor
// answer HEAD without a body, so every request comes here.
class ShareServer::Http : public QAbstractHttpServer {
 public:
  explicit Http(const ShareServer& owner) : owner_(owner) {}

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
    const auto method = request.method();
    const bool head = method == QHttpServerRequest::Method::Head;
    std::optional<fs::path> file;
    if (head || method == QHttpServerRequest::Method::Get)
      file = owner_.Resolve(request.url().path(QUrl::FullyDecoded));
    QFile f;
    if (file) {
      f.setFileName(QString::fromStdString(file->string()));
      if (!f.open(QIODevice::ReadOnly)) file.reset();
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    if (!file) {
      NotFound(responder, head);
      return true;
    }
    const QByteArray body = head ? QByteArray() : f.readAll();
    responder.writeStatusLine(QHttpServerResponder::StatusCode::Ok);
    responder.writeHeader("Content-Type", ContentTypeOf(*file));
    responder.writeHeader("Content-Length", QByteArray::number(head ? f.size() : body.size()));
    responder.writeBody(body.constData(), body.size());  // an empty body ends the header only
    return true;
  }

  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
    QHttpServerResponder responder = makeResponder(request, socket);
    NotFound(responder, request.method() == QHttpServerRequest::Method::Head);
  }

 private:
  // A HEAD answer carries the header of the GET answer and no body.
  static void NotFound(QHttpServerResponder& responder, bool head) {
    static const QByteArray kBody = "Not Found";
    responder.writeStatusLine(QHttpServerResponder::StatusCode::NotFound);
    responder.writeHeader("Content-Type", "text/plain");
    responder.writeHeader("Content-Length", QByteArray::number(kBody.size()));
    responder.writeBody(head ? QByteArray() : kBody);
  }

  const ShareServer& owner_;
};

ShareServer::ShareServer(std::string shareFolder, std::string httpBaseDir)
    : shareFolder_(std::move(shareFolder)),
      urlPath_(QUrl::fromPercentEncoding(QByteArray::fromStdString(GbkToUtf8(SharePathOf(httpBaseDir))))),
      http_(std::make_unique<Http>(*this)) {}

ShareServer::~ShareServer() = default;

bool ShareServer::Listen(quint16 port, const QHostAddress& address) {
  const quint16 bound = http_->listen(address, port);
  if (bound == 0) return false;
  port_ = bound;
  return true;
}

std::optional<fs::path> ShareServer::Resolve(const QString& decodedPath) const {
  if (!decodedPath.startsWith(urlPath_)) return std::nullopt;
  const QString name = decodedPath.mid(urlPath_.size());
  if (name.isEmpty() || name == "." || name == ".." || name.contains('/') || name.contains('\\') ||
      name.contains(QChar(0)))
    return std::nullopt;
  std::error_code ec;
  const fs::path folder = fs::canonical(PathFromGbk(shareFolder_), ec);
  if (ec) return std::nullopt;
  const fs::path file = fs::canonical(folder / fs::path(name.toStdString()), ec);
  if (ec || file.parent_path() != folder || !fs::is_regular_file(file, ec)) return std::nullopt;
  return file;
}

bool StartShareServer(ShareServer& server, const std::string& httpBaseDir, LogSink& log) {
  const int port = SharePortOf(httpBaseDir);
  if (port < 0) {
    log.AppendLog(kLogError, kBadAddress + httpBaseDir);
    return false;
  }
  if (!server.Listen(static_cast<quint16>(port))) {
    log.AppendLog(kLogError, kFailed + std::to_string(port));
    return false;
  }
  log.AppendLog(kLogSent, kStarted + std::to_string(port));
  return true;
}

}  // namespace aqled
