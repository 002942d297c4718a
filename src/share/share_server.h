#pragma once
// The share server: publishes the files of ShareFolder over HTTP so that a controller card can
// download a program from the application itself. It is libmicrohttpd run on the window's
// thread: the library's epoll descriptor is watched by the Qt event loop, which also fires its
// time-outs, so the server has no thread of its own. It serves GET and HEAD for plain files
// directly inside ShareFolder under the path of HttpBaseDir, streamed from the disk, with single
// byte ranges, and the pages its owner makes (SetPages); every other request is answered 404, and folders are
// never listed. The limits are in share/limits.h.

#include <QHostAddress>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/operation_log.h"
#include "share/limits.h"

namespace aqled {

// The port of HttpBaseDir: the number after the host ("http://10.0.0.5:8080/share/" -> 8080),
// 80 when the address names none, -1 when the port is not a number from 1 to 65535.
int SharePortOf(std::string_view httpBaseDir);

// The path part of HttpBaseDir with its final "/" ("http://h:81/led/share/" -> "/led/share/"),
// "/" when the address has none; GBK as given, percent escapes not decoded.
std::string SharePathOf(std::string_view httpBaseDir);

// The host of HttpBaseDir as written, without brackets ("http://[::1]:81/" -> "::1",
// "http://user@h/" -> "h"); empty when the address names none.
std::string ShareHostOf(std::string_view httpBaseDir);

// What a Range header asks of a file of `size` bytes.
struct ByteRange {
  enum Kind { kWhole, kPart, kUnsatisfiable };
  Kind kind = kWhole;
  uint64_t first = 0;   // kPart: the first byte served
  uint64_t length = 0;  // kPart: the count of bytes served
};

// The answer to the value of a Range header ("bytes=0-99", "bytes=100-", "bytes=-100"): kPart
// for one satisfiable range, kUnsatisfiable when it starts at or beyond the end (or asks for the
// last 0 bytes), and kWhole, the whole file, for anything else: a missing or malformed value,
// another unit, several ranges.
ByteRange ParseByteRange(std::string_view value, uint64_t size);

// Settings of one server; the defaults are the limits of share/limits.h. Tests shorten
// the time-outs.
struct ShareServerOptions {
  unsigned maxConnections = kShareMaxConnections;
  unsigned maxConnectionsPerAddress = kShareMaxConnectionsPerAddress;
  unsigned idleTimeoutSeconds = kShareIdleTimeoutSeconds;
  unsigned requestTimeoutSeconds = kShareRequestTimeoutSeconds;
  // Connections the controller link of the same process may hold, counted in the descriptor
  // budget before this server's (DescriptorBudgetUnder); 0 for a server alone in its process.
  std::size_t linkConnections = 0;
};

// A page the owner makes itself instead of a file of ShareFolder.
struct ShareAnswer {
  std::string body;
  std::string contentType;
};
// Asked with the decoded path of every GET and HEAD request before any file: an answer, or
// nothing for a path it does not make.
using SharePages = std::function<std::optional<ShareAnswer>(const QString& decodedPath)>;

class ShareServer {
 public:
  // `shareFolder` (GBK) is opened anew for every request, so it may be created later;
  // `httpBaseDir` (GBK) gives the path under which its files are published.
  ShareServer(std::string shareFolder, std::string httpBaseDir, ShareServerOptions options = {});
  ~ShareServer();
  ShareServer(const ShareServer&) = delete;
  ShareServer& operator=(const ShareServer&) = delete;

  // Starts listening on `address` (QHostAddress::Any: every IPv6 and IPv4 address, or every
  // IPv4 address where the machine has no IPv6); port 0 takes a free one. Returns false when
  // the port cannot be opened or the server already listens. Raises the process's limit of
  // open descriptors to the hard limit, takes the share of the descriptor budget left for it
  // (DescriptorBudgetUnder) and ignores SIGPIPE (a peer gone
  // in the middle of an answer is then an error of that connection only).
  bool Listen(quint16 port, const QHostAddress& address = QHostAddress::Any);
  // The port listened on, 0 before a successful Listen.
  quint16 Port() const { return port_; }
  // The connections open at this moment.
  unsigned ConnectionCount() const;
  // The most connections held at once: maxConnections, less when the open-file limit leaves
  // less (DescriptorBudgetUnder); 0 before a successful Listen.
  unsigned ConnectionLimit() const;

  // The addresses of the logged-in cards. Their connections may take the reserve of
  // kShareCardReserve places that strangers cannot, have no limit per address, and a card's
  // connection that takes the last place frees one by ending another (a stranger's idle one
  // first). Strangers beyond their room lose their connections at once. Empty (the default):
  // every place is open to every address, each address within maxConnectionsPerAddress.
  void SetCardAddresses(std::vector<QHostAddress> addresses);

  // Pages made by the owner (SharePages); empty (the default): files only.
  void SetPages(SharePages pages) { pages_ = std::move(pages); }

  // Where summary lines about peers refused or cut off by a limit go (kind 1, at most one
  // line per kShareLimitReportSeconds); null (the default) drops them. Borrowed.
  void SetLog(LogSink* log);
  // Writes the summary line of peers refused or cut off since the last one, if any; the owner
  // calls it before the server goes, so that the last count is not lost at exit.
  void WritePendingSummary();

  // The file a request path (percent escapes decoded once) would serve: the plain file named by
  // the one segment after the published path, lying directly inside ShareFolder. Nothing for
  // "..", separators, NUL, hidden names (a leading "."), subfolders, symbolic links, anything
  // but a regular file, missing files.
  std::optional<std::filesystem::path> Resolve(const QString& decodedPath) const;

 private:
  class Daemon;
  // The open file for `decodedPath` as Resolve decides it; -1 when there is none.
  int OpenPublished(const QString& decodedPath) const;

  std::string shareFolder_;
  QString urlPath_;  // decoded, ending in "/"
  ShareServerOptions options_;
  std::unique_ptr<Daemon> daemon_;
  LogSink* log_ = nullptr;
  std::vector<QHostAddress> cardAddresses_;
  SharePages pages_;
  quint16 port_ = 0;
};

// Listens on the port of HttpBaseDir, on the address of HttpBaseDir when it is one of this
// machine's own and on all addresses otherwise, and logs the outcome: kind 2
// "共享服务启动成功: " + port followed by kind 3 "共享服务地址: " + address + ":" + port (the
// address as written, or "全部地址"), or kind 1 "共享服务启动失败: " + port when the port
// cannot be opened, or kind 1 "共享服务地址无效: " + HttpBaseDir when it names no usable port.
// The server reports to `log` from then on. The application carries on either way.
bool StartShareServer(ShareServer& server, const std::string& httpBaseDir, LogSink& log);

}  // namespace aqled
