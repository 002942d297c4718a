#pragma once
// The share server: publishes the files of ShareFolder over HTTP so that a controller card can
// download a program from the application itself. It runs on the window's thread (Qt's event
// loop) and serves GET and HEAD for files directly inside ShareFolder under the path of
// HttpBaseDir; every other request is answered 404, and folders are never listed.

#include <QHostAddress>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "logging/operation_log.h"

namespace aqled {

// The port of HttpBaseDir: the number after the host ("http://10.0.0.5:8080/share/" -> 8080),
// 80 when the address names none, -1 when the port is not a number from 1 to 65535.
int SharePortOf(std::string_view httpBaseDir);

// The path part of HttpBaseDir with its final "/" ("http://h:81/led/share/" -> "/led/share/"),
// "/" when the address has none; GBK as given, percent escapes not decoded.
std::string SharePathOf(std::string_view httpBaseDir);

class ShareServer {
 public:
  // `shareFolder` (GBK) is resolved anew for every request, so it may be created later;
  // `httpBaseDir` (GBK) gives the path under which its files are published.
  ShareServer(std::string shareFolder, std::string httpBaseDir);
  ~ShareServer();
  ShareServer(const ShareServer&) = delete;
  ShareServer& operator=(const ShareServer&) = delete;

  // Starts listening; port 0 takes a free one. Returns false when the port cannot be opened.
  bool Listen(quint16 port, const QHostAddress& address = QHostAddress::Any);
  // The port listened on, 0 before a successful Listen.
  quint16 Port() const { return port_; }

  // The file a request path (percent escapes decoded once, as Qt delivers it) may serve: a
  // regular file whose canonical path lies directly inside the canonical ShareFolder, named by
  // the one segment after the published path. Nothing for "..", separators, NUL, subfolders,
  // links leading outside, missing files.
  std::optional<std::filesystem::path> Resolve(const QString& decodedPath) const;

 private:
  class Http;
  std::string shareFolder_;
  QString urlPath_;  // decoded, ending in "/"
  std::unique_ptr<Http> http_;
  quint16 port_ = 0;
};

// Listens on all local addresses on the port of HttpBaseDir and logs the outcome: kind 2
// "共享服务启动成功: " + port, or kind 1 "共享服务启动失败: " + port when the port cannot be
// opened, or kind 1 "共享服务地址无效: " + HttpBaseDir when it names no usable port. The
// application carries on either way.
bool StartShareServer(ShareServer& server, const std::string& httpBaseDir, LogSink& log);

}  // namespace aqled
