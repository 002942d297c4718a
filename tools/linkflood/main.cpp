// aqled-linkflood: the controller server under a flood on loopback. The server runs in a
// process of its own (this program with --serve), so that its memory and CPU time are its own;
// the flood and a probe card run here, on one event loop, and talk to 127.0.0.1 only.
//
//   aqled-linkflood [--connections N] [--heartbeats R] [--seconds S] [--storm N] [--logins M]
//       phases: idle; N idle connections; R heartbeats per second for S seconds; a storm of N
//       connections sending M LOGIN frames each. For each: the server's resident memory, the
//       probe's round trip (percentiles), the server's CPU time and the bytes its daily log grew.
//   aqled-linkflood --serve [--nofile N] [--hold N] [--print-log] [--log-folder DIR] [--deliver]
//       the server: listens on 127.0.0.1 (a free port, printed as "port N capacity C"), ends
//       when its standard input closes or after --lifetime seconds (default 120).
//   aqled-linkflood --app PATH_TO_aqled [--seconds S]
//       the real application, started offscreen in a temporary folder of its own on port 8115,
//       under 8 connections of heartbeats as fast as they go for S seconds (default 10): share
//       GET and card login round trips, the drain after the flood and the log's growth.
//
// The probe is a card logged in on slot 1 after a delivery began (--deliver): each of its
// "clearuselessmaterial" answers makes the server send a disk query back at once.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/controller_link.h"
#include "link/frame.h"
#include "link/frame_reader.h"
#include "link/limits.h"
#include "link/session.h"
#include "share/open_files.h"
#include "text/gbk.h"

namespace {

// Bounds of a run, so that a mistyped option cannot turn the tool into a real flood.
constexpr int kMostConnections = 5000;
constexpr int kMostHeartbeatsPerSecond = 50000;
constexpr int kMostSeconds = 60;
constexpr int kMostLogins = 25;
constexpr int kSettleMs = 30000;

// --- the server ----------------------------------------------------------------------------

class ServeLog : public aqled::LogSink {
 public:
  ServeLog(bool print, const QString& folder, aqled::Clock& clock) : print_(print) {
    if (!folder.isEmpty())
      file_ = std::make_unique<aqled::OperationLog>(folder.toStdString(), clock, nullptr);
  }
  void AppendLog(int kind, const std::string& text) override {
    if (print_) {
      std::printf("%d %s\n", kind, aqled::GbkToUtf8(text).c_str());
      std::fflush(stdout);
    }
    if (file_) file_->AppendLog(kind, text);
  }

 private:
  bool print_;
  std::unique_ptr<aqled::OperationLog> file_;
};

int Serve(const QCommandLineParser& args, QCoreApplication& app, bool limitSet) {
  if (!limitSet) aqled::RaiseOpenFileLimit();
  // The text codec loads its tables on first use; as in the application, that happens before
  // any connection can use up the descriptors.
  aqled::GbkToUtf8(aqled::Gbk<"收到">());
  // Descriptors held as if something else of the application used them.
  const int hold = std::clamp(args.value("hold").toInt(), 0, 100000);
  for (int i = 0; i < hold; ++i) {
    if (::open("/dev/null", O_RDONLY | O_CLOEXEC) < 0) break;
  }
  aqled::SystemClock clock;
  ServeLog log(args.isSet("print-log"), args.value("log-folder"), clock);
  aqled::ControllerLink link(log, clock);
  if (!link.Listen(0, QHostAddress::LocalHost)) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
    return 1;
  }
  if (args.isSet("deliver")) link.BeginDelivery();
  std::printf("port %u capacity %zu\n", link.ServerPort(), link.ConnectionCapacity());
  std::fflush(stdout);
  // Every line on standard input asks for the connections held; its end ends the server.
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      app.quit();
      return;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n')
        std::printf("open %zu buffered %zu\n", link.OpenConnections(), link.BufferedBytes());
    }
    std::fflush(stdout);
  });
  const int lifetime = std::clamp(args.value("lifetime").toInt(), 1, 600);
  QTimer::singleShot(lifetime * 1000, &app, &QCoreApplication::quit);
  return app.exec();
}

// --- the flood -----------------------------------------------------------------------------

void WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

void Pause(int ms) {
  WaitUntil([] { return false; }, ms);
}

QByteArray Frame(const std::string& json) {
  const std::string f = aqled::BuildFrameUtf8(aqled::kFrameKindCommand, json);
  return QByteArray(f.data(), static_cast<qsizetype>(f.size()));
}

QByteArray Login(const std::string& barcode) {
  return Frame(R"({"name":"LOGIN","input":{"barcode":")" + barcode +
               R"(","controllername":"flood","width":"128","height":"64"}})");
}

// Figures of the server process from /proc.
struct ServerFigures {
  long long rssKiB = 0;
  long long peakKiB = 0;
  double cpuSeconds = 0;
};

ServerFigures Measure(qint64 pid) {
  ServerFigures f;
  QFile status(QString("/proc/%1/status").arg(pid));
  if (status.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : status.readAll().split('\n')) {
      if (line.startsWith("VmRSS:")) f.rssKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
      if (line.startsWith("VmHWM:")) f.peakKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
  }
  QFile stat(QString("/proc/%1/stat").arg(pid));
  if (stat.open(QIODevice::ReadOnly)) {
    const QByteArray text = stat.readAll();
    // The fields after the command name, which ends with the last ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 12) {
      f.cpuSeconds = static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong()) /
                     static_cast<double>(sysconf(_SC_CLK_TCK));
    }
  }
  return f;
}

long long FolderBytes(const QString& folder) {
  long long n = 0;
  for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files)) n += info.size();
  return n;
}

// The card on slot 1 whose round trips measure how quickly the server answers.
class Probe {
 public:
  bool LogIn(quint16 port) {
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
      const QByteArray b = socket_.readAll();
      reader_.Append(std::string_view(b.constData(), static_cast<size_t>(b.size())));
      while (auto c = reader_.Next()) ++frames_;
    });
    socket_.connectToHost(QHostAddress::LocalHost, port);
    if (!socket_.waitForConnected(3000)) return false;
    QElapsedTimer t;
    t.start();
    socket_.write(Login("PROBE"));
    WaitUntil([&] { return frames_ > 0; }, 5000);
    loginMs_ = static_cast<double>(t.nsecsElapsed()) / 1e6;
    return frames_ > 0;
  }
  double LoginMs() const { return loginMs_; }

  // `count` round trips, one every `gapMs`, while the loop keeps running the flood.
  std::vector<double> Sample(int count, int gapMs, const std::function<void()>& between = {}) {
    static const QByteArray answer = Frame(R"({"name":"clearuselessmaterial","output":{"result":"ok"}})");
    std::vector<double> out;
    for (int i = 0; i < count; ++i) {
      const long long before = frames_;
      QElapsedTimer t;
      t.start();
      socket_.write(answer);
      WaitUntil([&] { return frames_ > before; }, 5000);
      out.push_back(frames_ > before ? static_cast<double>(t.nsecsElapsed()) / 1e6 : 5000.0);
      if (between) between();
      Pause(gapMs);
    }
    return out;
  }

 private:
  QTcpSocket socket_;
  aqled::FrameReader reader_;
  long long frames_ = 0;
  double loginMs_ = 0;
};

struct Row {
  std::string phase;
  ServerFigures server;
  std::vector<double> rtt;
  long long logBytes = 0;
  std::string note;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

void Print(const Row& r, const ServerFigures& before) {
  std::printf("| %s | %lld KiB | %lld KiB | %.2f / %.2f / %.2f ms | %.2f s | %lld bytes | %s |\n",
              r.phase.c_str(), r.server.rssKiB, r.server.peakKiB, Percentile(r.rtt, 0.5),
              Percentile(r.rtt, 0.99), Percentile(r.rtt, 1.0), r.server.cpuSeconds - before.cpuSeconds,
              r.logBytes, r.note.c_str());
  std::fflush(stdout);
}

std::vector<std::unique_ptr<QTcpSocket>> Open(quint16 port, int n) {
  std::vector<std::unique_ptr<QTcpSocket>> sockets;
  for (int i = 0; i < n; ++i) {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, port);
    sockets.push_back(std::move(s));
  }
  // Each one is either taken (and may be closed again at once) or still being set up.
  WaitUntil(
      [&] {
        for (const auto& s : sockets) {
          if (s->state() == QAbstractSocket::ConnectingState ||
              s->state() == QAbstractSocket::HostLookupState)
            return false;
        }
        return true;
      },
      kSettleMs);
  return sockets;
}

int Connected(const std::vector<std::unique_ptr<QTcpSocket>>& sockets) {
  int n = 0;
  for (const auto& s : sockets) n += s->state() == QAbstractSocket::ConnectedState;
  return n;
}

int Flood(const QCommandLineParser& args) {
  aqled::RaiseOpenFileLimit();
  const int connections = std::clamp(args.value("connections").toInt(), 1, kMostConnections);
  const int rate = std::clamp(args.value("heartbeats").toInt(), 1, kMostHeartbeatsPerSecond);
  const int seconds = std::clamp(args.value("seconds").toInt(), 1, kMostSeconds);
  const int storm = std::clamp(args.value("storm").toInt(), 1, kMostConnections);
  const int logins = std::clamp(args.value("logins").toInt(), 1, kMostLogins);

  QTemporaryDir logFolder;
  QProcess server;
  server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  server.start(QCoreApplication::applicationFilePath(),
               {"--serve", "--deliver", "--log-folder", logFolder.path(), "--lifetime", "600"});
  if (!server.waitForStarted(5000) || !server.waitForReadyRead(5000)) {
    std::fprintf(stderr, "the server did not start\n");
    return 1;
  }
  const QList<QByteArray> hello = server.readLine().trimmed().split(' ');
  const quint16 port = static_cast<quint16>(hello.value(1).toUInt());
  const qint64 pid = server.processId();
  std::printf("server pid %lld, 127.0.0.1:%u, connection cap %s\n", static_cast<long long>(pid), port,
              hello.value(3).constData());

  Probe probe;
  if (!probe.LogIn(port)) {
    std::fprintf(stderr, "the probe could not log in\n");
    return 1;
  }
  std::printf("probe login answered after %.1f ms (the answer waits 800 ms)\n\n", probe.LoginMs());
  std::printf(
      "| Phase | Server RSS | Server peak RSS | Probe round trip p50 / p99 / max | Server CPU | Log grew | "
      "|\n");
  std::printf("|---|---|---|---|---|---|---|\n");

  // The connections the server holds, as it reports them.
  auto held = [&]() -> long long {
    server.readAll();
    server.write("\n");
    if (!server.waitForReadyRead(5000)) return -1;
    const QList<QByteArray> words = server.readLine().trimmed().split(' ');
    return words.value(0) == "open" ? words.value(1).toLongLong() : -1;
  };
  // Until the server holds only the probe again.
  auto settle = [&] {
    QElapsedTimer t;
    t.start();
    // Twice: connections the system had still queued arrive after the first count.
    for (int round = 0; round < 2; ++round) {
      while (held() > 1 && t.elapsed() < kSettleMs) Pause(100);
      Pause(1000);
    }
  };

  long long logMark = FolderBytes(logFolder.path());
  auto finish = [&](Row& row, const ServerFigures& before) {
    row.server = Measure(pid);
    const long long now = FolderBytes(logFolder.path());
    row.logBytes = now - logMark;
    logMark = now;
    Print(row, before);
  };

  // Idle.
  {
    const ServerFigures before = Measure(pid);
    Row row{"idle (probe only)", {}, probe.Sample(200, 5), 0, ""};
    finish(row, before);
  }
  // Many idle connections.
  {
    const ServerFigures before = Measure(pid);
    auto sockets = Open(port, connections);
    Pause(500);
    Row row{std::to_string(connections) + " idle connections", {}, probe.Sample(200, 5), 0, ""};
    row.note = "the server holds " + std::to_string(held()) + " connections";
    finish(row, before);
    sockets.clear();
    settle();
  }
  // Heartbeats.
  {
    const ServerFigures before = Measure(pid);
    const int senders = 16;
    auto sockets = Open(port, senders);
    const QByteArray beat = Frame(R"({"name":"heartbeat","input":{"barcode":"FLOOD"}})");
    long long sent = 0;
    const long long target = static_cast<long long>(rate) * seconds;
    QElapsedTimer clock;
    clock.start();
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, [&] {
      // Keeps the total at `rate` per second of the run so far.
      const long long due = std::min(target, clock.elapsed() * rate / 1000);
      int i = 0;
      while (sent < due) {
        QTcpSocket& s = *sockets[static_cast<size_t>(i++ % senders)];
        if (s.state() == QAbstractSocket::ConnectedState) s.write(beat);
        ++sent;
      }
    });
    pump.start(5);
    std::vector<double> rtt;
    while (sent < target && clock.elapsed() < (seconds + 5) * 1000) {
      const auto some = probe.Sample(10, 5);
      rtt.insert(rtt.end(), some.begin(), some.end());
    }
    pump.stop();
    Row row{std::to_string(rate) + " heartbeats/s for " + std::to_string(seconds) + " s", {}, rtt, 0, ""};
    row.note = std::to_string(sent) + " heartbeats on " + std::to_string(Connected(sockets)) + " connections";
    Pause(500);
    finish(row, before);
    sockets.clear();
    settle();
  }
  // Connections that each sent one frame near the length limit, then fell idle.
  {
    const ServerFigures before = Measure(pid);
    const int senders = 60;
    auto sockets = Open(port, senders);
    const QByteArray large = Frame(R"({"name":")" + std::string(aqled::kMaxFrameLength - 64, 'n') + "\"}");
    for (auto& s : sockets) s->write(large);
    WaitUntil(
        [&] {
          return std::all_of(sockets.begin(), sockets.end(),
                             [](const auto& s) { return s->bytesToWrite() == 0; });
        },
        kSettleMs);
    Pause(1000);
    Row row{std::to_string(senders) + " connections idle after a " + std::to_string(large.size() / 1024) +
                " KiB frame each",
            {},
            probe.Sample(100, 5),
            0,
            ""};
    row.note = "the server holds " + std::to_string(held()) + " connections";
    finish(row, before);
    sockets.clear();
    settle();
  }
  // A login storm.
  {
    const ServerFigures before = Measure(pid);
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    int written = 0;
    std::vector<double> rtt;
    for (int i = 0; i < storm; ++i) {
      auto s = std::make_unique<QTcpSocket>();
      QTcpSocket* raw = s.get();
      QByteArray frames;
      for (int j = 0; j < logins; ++j)
        frames += Login("STORM-" + std::to_string(i) + "-" + std::to_string(j));
      QObject::connect(raw, &QTcpSocket::connected, [raw, frames, &written] {
        raw->write(frames);
        ++written;
      });
      raw->connectToHost(QHostAddress::LocalHost, port);
      sockets.push_back(std::move(s));
      if (i % 50 == 49) {
        const auto some = probe.Sample(5, 1);
        rtt.insert(rtt.end(), some.begin(), some.end());
      }
    }
    const auto tail = probe.Sample(50, 5);
    rtt.insert(rtt.end(), tail.begin(), tail.end());
    Row row{std::to_string(storm) + " connections x " + std::to_string(logins) + " LOGIN", {}, rtt, 0, ""};
    row.note = std::to_string(written) + " connections wrote their LOGINs; the server holds " +
               std::to_string(held()) + " connections";
    finish(row, before);
  }

  // A storm of logins that each take slot 1 over (and wait for their answer): the probe loses
  // its slot, so the server's own loop is timed instead, by its answer to a status request.
  {
    const ServerFigures before = Measure(pid);
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < storm; ++i) {
      auto s = std::make_unique<QTcpSocket>();
      QTcpSocket* raw = s.get();
      QByteArray frames;
      for (int j = 0; j < logins; ++j) frames += Login("PROBE");
      QObject::connect(raw, &QTcpSocket::connected, [raw, frames] { raw->write(frames); });
      raw->connectToHost(QHostAddress::LocalHost, port);
      sockets.push_back(std::move(s));
    }
    std::vector<double> rtt;
    QElapsedTimer run;
    run.start();
    // Each admitted connection waits 800 ms per LOGIN: sample for as long as that lasts.
    while (run.elapsed() < logins * 800 + 1000) {
      QElapsedTimer t;
      t.start();
      held();
      rtt.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
      Pause(20);
    }
    Row row{std::to_string(storm) + " connections x " + std::to_string(logins) + " LOGIN taking slot 1 over",
            {},
            rtt,
            0,
            ""};
    row.note = "round trip of the server's status request; the server holds " + std::to_string(held()) +
               " connections";
    finish(row, before);
  }

  server.closeWriteChannel();
  server.waitForFinished(10000);
  return server.exitStatus() == QProcess::NormalExit && server.exitCode() == 0 ? 0 : 1;
}

// --- the real application under a frame flood ----------------------------------------------

// Bounds of the run against the application.
constexpr int kAppFloodConnections = 8;           // the flooding connections, reopened when closed
constexpr int kAppStartMs = 20000;                // the application's start-up, port 8115 open
constexpr int kProbeTimeoutMs = 5000;             // a probe not answered by then counts as 5 s
constexpr int kShareGapMs = 20;                   // between two share GETs during the flood
constexpr int kLoginGapMs = 200;                  // between a login's answer and the next login
constexpr int kDrainMostMs = 60000;               // the wait for the backlog to go
constexpr double kDrainedMs = 10;                 // a share GET this fast: the backlog is gone
constexpr qint64 kFloodPendingBytes = 64 * 1024;  // what each flooder keeps queued for the kernel
constexpr quint16 kAppControllerPort = 8115;      // the application's fixed controller port

// One request and its answer on a connection of its own, timed from the connect to the answer:
// a share GET (answered when the server closes) or a card's LOGIN (answered by its first frame,
// which waits aqled::kLoginAnswerWaitMs on purpose).
class OneProbe : public QObject {
 public:
  OneProbe(quint16 port, QByteArray request, bool login, std::function<void(double)> done)
      : login_(login), done_(std::move(done)) {
    connect(&socket_, &QTcpSocket::connected, this, [this, request] { socket_.write(request); });
    connect(&socket_, &QTcpSocket::readyRead, this, [this] {
      const QByteArray b = socket_.readAll();
      answer_ += b;
      if (!login_) return;
      reader_.Append(std::string_view(b.constData(), static_cast<size_t>(b.size())));
      if (reader_.Next()) Finish(true);
    });
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { Finish(!login_ && answer_.startsWith("HTTP/1.1 200")); });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this] {
      if (socket_.error() != QAbstractSocket::RemoteHostClosedError) Finish(false);
    });
    QTimer::singleShot(kProbeTimeoutMs, this, [this] { Finish(false); });
    clock_.start();
    socket_.connectToHost(QHostAddress::LocalHost, port);
  }

 private:
  void Finish(bool answered) {
    if (finished_) return;
    finished_ = true;
    const double ms = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
    socket_.abort();
    auto done = std::move(done_);
    deleteLater();
    done(answered ? ms : -1);
  }

  QTcpSocket socket_;
  aqled::FrameReader reader_;
  QByteArray answer_;
  QElapsedTimer clock_;
  bool login_;
  bool finished_ = false;
  std::function<void(double)> done_;
};

// A connection that logs in with a fresh barcode and then sends valid heartbeats as fast as
// the kernel takes them; when the application closes it, it comes back at once.
class Flooder : public QObject {
 public:
  Flooder(int index, quint16 port, const bool& on) : index_(index), port_(port), on_(on) {
    connect(&socket_, &QTcpSocket::connected, this, [this] {
      const std::string barcode = "FLOOD-" + std::to_string(index_) + "-" + std::to_string(++opened_);
      const QByteArray login = Login(barcode);
      loginBytes_ = login.size();
      socket_.write(login);
      TopUp();
    });
    connect(&socket_, &QTcpSocket::bytesWritten, this, [this](qint64 n) {
      const qint64 skip = std::min(n, loginBytes_);
      loginBytes_ -= skip;
      beatBytes_ += n - skip;
      TopUp();
    });
    connect(&socket_, &QTcpSocket::readyRead, this, [this] { socket_.readAll(); });
    connect(&socket_, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) {
      if (s == QAbstractSocket::UnconnectedState && on_) QTimer::singleShot(1, this, [this] { Open(); });
    });
  }
  void Open() {
    if (on_ && socket_.state() == QAbstractSocket::UnconnectedState)
      socket_.connectToHost(QHostAddress::LocalHost, port_);
  }
  void Stop() { socket_.abort(); }
  long long Frames() const { return beatBytes_ / Beat().size(); }
  int Opened() const { return opened_; }

 private:
  static const QByteArray& Beat() {
    static const QByteArray beat = Frame(R"({"name":"heartbeat","input":{"barcode":"FLOOD"}})");
    return beat;
  }
  void TopUp() {
    static const QByteArray batch = Beat().repeated(256);
    while (on_ && socket_.state() == QAbstractSocket::ConnectedState &&
           socket_.bytesToWrite() < kFloodPendingBytes)
      socket_.write(batch);
  }

  QTcpSocket socket_;
  int index_;
  quint16 port_;
  const bool& on_;
  int opened_ = 0;
  qint64 loginBytes_ = 0;
  qint64 beatBytes_ = 0;
};

// Starts one probe after another until `go` says no, each `gapMs` after the last answer.
class ProbeSeries {
 public:
  ProbeSeries(quint16 port, QByteArray request, bool login, int gapMs)
      : port_(port), request_(std::move(request)), login_(login), gapMs_(gapMs) {}
  void Start(const std::function<bool()>& go) {
    go_ = go;
    Next();
  }
  std::vector<double> taken;  // answered round trips, ms
  int failed = 0;

 private:
  void Next() {
    if (!go_()) return;
    new OneProbe(port_, request_, login_, [this](double ms) {
      if (ms < 0)
        ++failed;
      else
        taken.push_back(ms);
      QTimer::singleShot(gapMs_, [this] { Next(); });
    });
  }
  quint16 port_;
  QByteArray request_;
  bool login_;
  int gapMs_;
  std::function<bool()> go_;
};

quint16 FreeLoopbackPort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

void PrintSeries(const char* what, const ProbeSeries& s, double minus) {
  std::vector<double> v = s.taken;
  for (double& x : v) x -= minus;
  std::printf("%s: %zu answered, %d not answered within %d ms; median %.1f ms, worst %.1f ms\n", what,
              v.size(), s.failed, kProbeTimeoutMs, Percentile(v, 0.5), Percentile(v, 1.0));
}

int AppFlood(const QCommandLineParser& args) {
  const int seconds = std::clamp(args.isSet("seconds") ? args.value("seconds").toInt() : 10, 1, kMostSeconds);
  const QFileInfo built(args.value("app"));
  if (!built.isExecutable()) {
    std::fprintf(stderr, "%s is not an executable\n", qPrintable(args.value("app")));
    return 1;
  }
  // The application's controller port is fixed; another program on it would take the flood.
  {
    QTcpServer check;
    if (!check.listen(QHostAddress::Any, kAppControllerPort)) {
      std::fprintf(stderr, "port %u is in use: stop what listens there first\n", kAppControllerPort);
      return 1;
    }
  }
  const quint16 sharePort = FreeLoopbackPort();
  QTemporaryDir dir;
  if (!dir.isValid() || sharePort == 0) {
    std::fprintf(stderr, "no temporary folder or no free port\n");
    return 1;
  }
  // A copy of the executable in a folder of its own takes that folder as its application folder.
  const QString program = dir.filePath("aqled");
  QFile::copy(built.absoluteFilePath(), program);
  QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
  for (const char* sub : {"log", "share", "run"}) QDir(dir.path()).mkpath(sub);
  QFile::setPermissions(dir.filePath("run"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  const QString base = QString("http://127.0.0.1:%1/").arg(sharePort);
  {
    QFile config(dir.filePath("config.ini"));
    config.open(QIODevice::WriteOnly);
    // The data site is a closed port on loopback and nothing is sent by itself: only the flood
    // reaches the application.
    config.write(QString("[Path]\r\nFileBaseDir=\r\nHttpBaseDir=%1\r\nStationSite=https://127.0.0.1:1\r\n"
                         "[Set]\r\nShareServer=1\r\nAutoSend=0\r\n")
                     .arg(base)
                     .toUtf8());
    QFile probeFile(dir.filePath("share/probe.txt"));
    probeFile.open(QIODevice::WriteOnly);
    probeFile.write(QByteArray(1024, 'p'));
  }
  QProcess app;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
  env.remove("AQLED_SCREENSHOTS");
  app.setProcessEnvironment(env);
  app.setWorkingDirectory(dir.path());
  app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  app.setStandardOutputFile(QProcess::nullDevice());
  app.start(program, {});
  auto stopApp = [&] {
    app.terminate();
    if (!app.waitForFinished(5000)) {
      app.kill();
      app.waitForFinished(5000);
    }
  };
  // Port 8115 answers once start-up has opened it.
  auto listening = [] {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, kAppControllerPort);
    return s.waitForConnected(200);
  };
  WaitUntil([&] { return app.state() == QProcess::NotRunning || listening(); }, kAppStartMs);
  if (app.state() == QProcess::NotRunning || !listening()) {
    std::fprintf(stderr, "the application did not open port %u\n", kAppControllerPort);
    stopApp();
    return 1;
  }
  Pause(1000);
  const qint64 pid = app.processId();
  std::printf("application pid %lld in %s: controller 127.0.0.1:%u, share %s\n", static_cast<long long>(pid),
              qPrintable(dir.path()), kAppControllerPort, qPrintable(base));

  // The real card, logged in before the flood.
  Probe card;
  if (!card.LogIn(kAppControllerPort)) {
    std::fprintf(stderr, "the card could not log in\n");
    stopApp();
    return 1;
  }
  std::printf("card PROBE logged in, answer after %.1f ms (the answer waits %d ms)\n", card.LoginMs(),
              aqled::kLoginAnswerWaitMs);

  const QByteArray get = QString("GET /probe.txt HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nConnection: close\r\n\r\n")
                             .arg(sharePort)
                             .toUtf8();
  // Before the flood: the same probes on a quiet application.
  bool on = true;
  QElapsedTimer quiet;
  quiet.start();
  ProbeSeries quietShare(sharePort, get, false, kShareGapMs);
  ProbeSeries quietLogin(kAppControllerPort, Login("PROBE"), true, kLoginGapMs);
  quietShare.Start([&] { return quiet.elapsed() < 2000; });
  quietLogin.Start([&] { return quiet.elapsed() < 2000; });
  Pause(3500);

  const QString logFolder = dir.filePath("log");
  const long long logBefore = FolderBytes(logFolder);
  const ServerFigures before = Measure(pid);
  std::vector<std::unique_ptr<Flooder>> flooders;
  for (int i = 0; i < kAppFloodConnections; ++i)
    flooders.push_back(std::make_unique<Flooder>(i + 1, kAppControllerPort, on));
  for (auto& f : flooders) f->Open();
  QElapsedTimer flood;
  flood.start();
  ProbeSeries share(sharePort, get, false, kShareGapMs);
  // Another card: the same barcode on a new connection, as a card that restarted (the
  // application has one slot, and a login with an unknown barcode gets no answer).
  ProbeSeries login(kAppControllerPort, Login("PROBE"), true, kLoginGapMs);
  const auto during = [&] { return flood.elapsed() < seconds * 1000LL; };
  share.Start(during);
  login.Start(during);
  WaitUntil([&] { return !during(); }, seconds * 1000 + 1000);
  on = false;
  for (auto& f : flooders) f->Stop();
  QElapsedTimer drain;
  drain.start();
  const ServerFigures atStop = Measure(pid);
  // Until one share GET answers within kDrainedMs, one after another.
  double drainedAfter = -1;
  int drainGets = 0;
  while (drain.elapsed() < kDrainMostMs && drainedAfter < 0) {
    double ms = -2;
    new OneProbe(sharePort, get, false, [&](double v) { ms = v; });
    WaitUntil([&] { return ms != -2; }, kProbeTimeoutMs + 1000);
    ++drainGets;
    if (ms >= 0 && ms < kDrainedMs) drainedAfter = static_cast<double>(drain.nsecsElapsed()) / 1e6;
  }
  // Lines already counted are written when their summary window ends.
  Pause(1500);
  const long long logGrew = FolderBytes(logFolder) - logBefore;
  long long frames = 0;
  int opened = 0;
  for (const auto& f : flooders) {
    frames += f->Frames();
    opened += f->Opened();
  }
  // Bytes the kernel took: a closed connection's queue is dropped unread, so what the application
  // handled is bounded by its flood rule, kFloodFrames per connection.
  const long long handled = static_cast<long long>(opened) * aqled::kFloodFrames;
  std::printf(
      "\nflood: %d s on %d connections, opened %d times (each closed by the application in turn); "
      "%lld heartbeat frames written, of them at most %lld handled (%.0f a second)\n",
      seconds, kAppFloodConnections, opened, frames, handled, static_cast<double>(handled) / seconds);
  std::printf("application CPU during the flood: %.2f s of %d s; resident %lld KiB, peak %lld KiB\n",
              atStop.cpuSeconds - before.cpuSeconds, seconds, atStop.rssKiB, atStop.peakKiB);
  PrintSeries("share GET, quiet", quietShare, 0);
  PrintSeries("share GET under the flood", share, 0);
  char what[96];
  std::snprintf(what, sizeof what, "card login -> Login answer, quiet, beyond the %d ms wait",
                aqled::kLoginAnswerWaitMs);
  PrintSeries(what, quietLogin, aqled::kLoginAnswerWaitMs);
  std::snprintf(what, sizeof what, "card login -> Login answer under the flood, beyond the %d ms wait",
                aqled::kLoginAnswerWaitMs);
  PrintSeries(what, login, aqled::kLoginAnswerWaitMs);
  if (drainedAfter >= 0)
    std::printf("backlog gone: a share GET under %.0f ms %.1f ms after the flood stopped (%d GETs)\n",
                kDrainedMs, drainedAfter, drainGets);
  else
    std::printf("backlog not gone within %d ms after the flood stopped\n", kDrainMostMs);
  std::printf("log folder grew %lld bytes during the run: %.2f MB an hour at that rate\n", logGrew,
              static_cast<double>(logGrew) * 3600.0 / seconds / 1e6);
  stopApp();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The server's descriptor limit is set before anything opens a descriptor.
  bool limitSet = false;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--nofile") {
      rlimit limit{};
      getrlimit(RLIMIT_NOFILE, &limit);
      limit.rlim_cur =
          std::min<rlim_t>(static_cast<rlim_t>(std::max(16, std::atoi(argv[i + 1]))), limit.rlim_max);
      limitSet = setrlimit(RLIMIT_NOFILE, &limit) == 0;
    }
  }
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addHelpOption();
  parser.addOptions({
      {"serve", "Run the server side."},
      {"nofile", "Server: the soft limit of open descriptors.", "n", "0"},
      {"hold", "Server: descriptors to hold open besides the connections.", "n", "0"},
      {"print-log", "Server: print every log line as '<kind> <text>'."},
      {"log-folder", "Server: write the daily log into this folder.", "dir"},
      {"deliver", "Server: begin a delivery at once, so that slot 1's answers are answered."},
      {"lifetime", "Server: end after this many seconds.", "s", "120"},
      {"seconds", "Flood: length of the heartbeat phase (--app: of the flood, default 10).", "s", "5"},
      {"connections", "Flood: idle connections.", "n", "1000"},
      {"heartbeats", "Flood: heartbeats per second.", "n", "10000"},
      {"storm", "Flood: connections of the login storm.", "n", "500"},
      {"logins", "Flood: LOGIN frames per storm connection.", "n", "4"},
      {"app", "Flood the real application (this executable, started offscreen in a folder of its own).",
       "path"},
  });
  parser.process(app);
  if (parser.isSet("serve")) return Serve(parser, app, limitSet);
  if (parser.isSet("app")) return AppFlood(parser);
  return Flood(parser);
}
