#include "flood.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "share/share_server.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled::shareflood {

namespace {

// How often a wait looks at its condition.
constexpr int kPollMs = 2;
// Bytes queued on a socket before more are written: keeps the client's memory flat.
constexpr qint64 kWriteWindow = 256 * 1024;
// Bytes of an answer kept by a push (only its first line matters).
constexpr size_t kKeptAnswer = 4096;

// Runs the event loop until `done` holds or `timeoutMs` passes; returns whether it held.
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer tick;
  QElapsedTimer clock;
  clock.start();
  bool held = false;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (done()) {
      held = true;
      loop.quit();
    } else if (clock.elapsed() >= timeoutMs) {
      loop.quit();
    }
  });
  tick.start(kPollMs);
  loop.exec();
  return held;
}

long StatusField(qint64 pid, const char* field) {
  QFile status(QString("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  const QByteArray prefix = QByteArray(field) + ":";
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (!line.startsWith(prefix)) continue;
    bool ok = false;
    const long kib = line.mid(prefix.size()).trimmed().split(' ').first().toLong(&ok);
    return ok ? kib : -1;
  }
  return -1;
}

// Splits a response head into its status line and headers; false while it is incomplete.
bool ParseHead(const std::string& raw, Answer& answer, size_t& bodyStart) {
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  const std::string head = raw.substr(0, end);
  size_t lineEnd = head.find("\r\n");
  answer.statusLine = head.substr(0, lineEnd);
  while (lineEnd != std::string::npos) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = LowerAscii(std::string_view(line).substr(0, colon));
    const size_t value = line.find_first_not_of(' ', colon + 1);
    answer.headers[name] = value == std::string::npos ? "" : line.substr(value);
  }
  bodyStart = end + 4;
  return true;
}

long long ContentLength(const Answer& answer) {
  const auto it = answer.headers.find("content-length");
  return it == answer.headers.end() ? -1 : std::atoll(it->second.c_str());
}

// Pushes `head`, then `filler` over and over until `limit` bytes are sent or the server closes.
Push PushAt(quint16 port, const QByteArray& head, const QByteArray& filler, qint64 limit, int timeoutMs) {
  Push push;
  QTcpSocket socket;
  QElapsedTimer clock;
  clock.start();
  std::string answer;
  bool closed = false;
  auto feed = [&] {
    while (!closed && push.sent < limit && socket.bytesToWrite() < kWriteWindow) {
      const QByteArray& piece = push.sent == 0 ? head : filler;
      const qint64 n = std::min<qint64>(piece.size(), limit - push.sent);
      socket.write(piece.constData(), n);
      push.sent += n;
    }
  };
  QObject::connect(&socket, &QTcpSocket::connected, feed);
  QObject::connect(&socket, &QTcpSocket::bytesWritten, feed);
  QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
    if (!socket.isOpen()) return;
    const QByteArray bytes = socket.readAll();
    if (answer.size() < kKeptAnswer) answer.append(bytes.constData(), static_cast<size_t>(bytes.size()));
  });
  QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
  QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError) { closed = true; });
  socket.connectToHost(QHostAddress::LocalHost, port);
  push.closedByServer = WaitFor([&] { return closed; }, timeoutMs);
  push.ms = clock.elapsed();
  // Bytes still queued when the server closed were never delivered.
  push.sent -= std::min(push.sent, socket.bytesToWrite());
  push.statusLine = answer.substr(0, answer.find("\r\n"));
  socket.abort();
  return push;
}

}  // namespace

long ResidentKiB(qint64 pid) { return StatusField(pid, "VmRSS"); }
long PeakResidentKiB(qint64 pid) { return StatusField(pid, "VmHWM"); }

ServerProcess::~ServerProcess() { Stop(); }

bool ServerProcess::Start(const QString& program, const ServeOptions& options, int timeoutMs) {
  QStringList args = {"serve", "--folder", options.folder, "--base", options.httpBaseDir};
  if (options.idleTimeoutSeconds) args << "--idle-timeout" << QString::number(options.idleTimeoutSeconds);
  if (options.requestTimeoutSeconds)
    args << "--request-timeout" << QString::number(options.requestTimeoutSeconds);
  if (options.maxConnections) args << "--connections" << QString::number(options.maxConnections);
  for (const QString& card : options.cardAddresses) args << "--card-address" << card;
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start(program, args);
  QByteArray out;
  const bool ready = WaitFor(
      [&] {
        out += process_.readAllStandardOutput();
        return out.contains('\n') || process_.state() == QProcess::NotRunning;
      },
      timeoutMs);
  if (!ready || !out.startsWith("port ")) {
    error_ = "the share server did not start: " + QString::fromUtf8(out) + process_.errorString();
    Stop();
    return false;
  }
  port_ = static_cast<quint16>(out.mid(5).trimmed().toUInt());
  return port_ != 0;
}

void ServerProcess::Stop() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.closeWriteChannel();  // the server ends when its standard input closes
  if (!WaitFor([&] { return process_.state() == QProcess::NotRunning; }, 5000)) {
    process_.kill();
    process_.waitForFinished(2000);
  }
}

namespace {

// The server's summary lines, on standard error as UTF-8.
class ErrorOutput : public LogSink {
 public:
  void AppendLog(int, const std::string& text) override {
    std::fprintf(stderr, "aqled-shareflood serve: %s\n", GbkToUtf8(text).c_str());
  }
};

}  // namespace

int Serve(const ServeOptions& options) {
  ShareServerOptions server;
  if (options.idleTimeoutSeconds) server.idleTimeoutSeconds = options.idleTimeoutSeconds;
  if (options.requestTimeoutSeconds) server.requestTimeoutSeconds = options.requestTimeoutSeconds;
  if (options.maxConnections) server.maxConnections = options.maxConnections;
  ShareServer share(GbkFromPath(options.folder.toStdString()) + "/", FromQString(options.httpBaseDir),
                    server);
  if (!share.Listen(0, QHostAddress::LocalHost)) {
    std::fprintf(stderr, "aqled-shareflood: cannot listen on 127.0.0.1\n");
    return 1;
  }
  ErrorOutput log;
  share.SetLog(&log);
  std::vector<QHostAddress> cards;
  for (const QString& card : options.cardAddresses) cards.emplace_back(card);
  share.SetCardAddresses(std::move(cards));
  std::printf("port %u\n", static_cast<unsigned>(share.Port()));
  std::fflush(stdout);
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) QCoreApplication::quit();
  });
  return QCoreApplication::exec();
}

Answer Exchange(quint16 port, const QByteArray& request, bool head, bool untilClosed, int timeoutMs) {
  Answer answer;
  QTcpSocket socket;
  QElapsedTimer clock;
  clock.start();
  std::string raw;
  size_t bodyStart = 0;
  bool headDone = false, complete = false, closed = false;
  QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
  auto take = [&] {
    if (!socket.isOpen()) return;
    const QByteArray bytes = socket.readAll();
    raw.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    if (!headDone) headDone = ParseHead(raw, answer, bodyStart);
    if (headDone && !complete) {
      const long long length = head ? 0 : ContentLength(answer);
      if (length >= 0 && raw.size() >= bodyStart + static_cast<size_t>(length)) {
        complete = true;
        answer.body = raw.substr(bodyStart, static_cast<size_t>(length));
        answer.ms = clock.elapsed();
      }
    }
  };
  QObject::connect(&socket, &QTcpSocket::readyRead, take);
  QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
    take();
    closed = true;
  });
  QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError) { closed = true; });
  socket.connectToHost(QHostAddress::LocalHost, port);
  WaitFor([&] { return closed || (complete && !untilClosed); }, timeoutMs);
  if (!complete) {
    answer.ms = clock.elapsed();
    if (headDone) answer.body = raw.substr(bodyStart);
  }
  answer.closedByServer = closed;
  socket.abort();
  return answer;
}

Push EndlessHead(quint16 port, qint64 limit, int timeoutMs) {
  const QByteArray line = "X-Filler: " + QByteArray(1000, 'a') + "\r\n";
  return PushAt(port, "GET /share/001.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\n", line, limit, timeoutMs);
}

Push HugeBody(quint16 port, qint64 bodyBytes, int timeoutMs) {
  const QByteArray head =
      "POST /share/001.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(bodyBytes) +
      "\r\n\r\n";
  return PushAt(port, head, QByteArray(64 * 1024, 'b'), head.size() + bodyBytes, timeoutMs);
}

namespace {

// With `perSource` > 0, binds the i-th socket to 127.0.0.2 onwards, `perSource` sockets to an
// address: every 127.x.y.z is this machine's own, so they come from other hosts on loopback.
void BindSource(QTcpSocket& socket, int i, int perSource) {
  if (perSource <= 0) return;
  const quint32 first = QHostAddress(QHostAddress::LocalHost).toIPv4Address() + 1;
  socket.bind(QHostAddress(first + static_cast<quint32>(i / perSource)));
}

}  // namespace

void IdleConnections::Open(quint16 port, int count, int perSource) {
  clock_.start();
  for (int i = 0; i < count; ++i) {
    auto socket = std::make_unique<QTcpSocket>();
    QObject::connect(socket.get(), &QTcpSocket::disconnected, [this] {
      ++closed_;
      lastCloseMs_ = clock_.elapsed();
      if (firstCloseMs_ < 0) firstCloseMs_ = lastCloseMs_;
    });
    BindSource(*socket, i, perSource);
    socket->connectToHost(QHostAddress::LocalHost, port);
    sockets_.push_back(std::move(socket));
  }
}

int IdleConnections::Connected() const {
  return static_cast<int>(std::count_if(sockets_.begin(), sockets_.end(), [](const auto& s) {
    return s->state() == QAbstractSocket::ConnectedState;
  }));
}

bool IdleConnections::WaitConnected(int timeoutMs) {
  return WaitFor([&] { return Connected() + closed_ == static_cast<int>(sockets_.size()); }, timeoutMs);
}

bool IdleConnections::WaitAllClosed(int timeoutMs) {
  return WaitFor([&] { return closed_ == static_cast<int>(sockets_.size()); }, timeoutMs);
}

Downloads ParallelDownloads(quint16 port, const QByteArray& target, const QByteArray& expected, int count,
                            int timeoutMs, int perSource) {
  struct Download {
    QTcpSocket socket;
    std::string head;
    Answer answer;
    bool headDone = false;
    qint64 matched = 0;  // body bytes that equal the expected ones
    bool bad = false;
    bool done = false;
  };
  const QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::vector<std::unique_ptr<Download>> downloads;
  QElapsedTimer clock;
  clock.start();
  int finished = 0;
  auto finish = [&](Download& d, bool bad) {
    if (d.done) return;
    d.done = true;
    d.bad = bad;
    ++finished;
    d.socket.abort();
  };
  for (int i = 0; i < count; ++i) {
    auto d = std::make_unique<Download>();
    Download* p = d.get();
    QObject::connect(&p->socket, &QTcpSocket::connected, [p, &request] { p->socket.write(request); });
    QObject::connect(&p->socket, &QTcpSocket::readyRead, [p, &expected, &finish] {
      if (p->done) return;
      QByteArray bytes = p->socket.readAll();
      if (!p->headDone) {
        p->head.append(bytes.constData(), static_cast<size_t>(bytes.size()));
        size_t bodyStart = 0;
        if (!ParseHead(p->head, p->answer, bodyStart)) return;
        p->headDone = true;
        if (p->answer.statusLine != "HTTP/1.1 200 OK" || ContentLength(p->answer) != expected.size())
          return finish(*p, true);
        bytes = QByteArray::fromStdString(p->head.substr(bodyStart));
      }
      if (p->matched + bytes.size() > expected.size() ||
          std::memcmp(bytes.constData(), expected.constData() + p->matched,
                      static_cast<size_t>(bytes.size())) != 0)
        return finish(*p, true);
      p->matched += bytes.size();
      if (p->matched == expected.size()) finish(*p, false);
    });
    QObject::connect(&p->socket, &QTcpSocket::disconnected, [p, &finish] { finish(*p, true); });
    BindSource(p->socket, i, perSource);
    p->socket.connectToHost(QHostAddress::LocalHost, port);
    downloads.push_back(std::move(d));
  }
  WaitFor([&] { return finished == count; }, timeoutMs);
  Downloads out;
  out.ms = clock.elapsed();
  for (const auto& d : downloads) (d->done && !d->bad ? out.exact : out.failed)++;
  return out;
}

}  // namespace aqled::shareflood
