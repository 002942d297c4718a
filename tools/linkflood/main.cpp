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
#include "link/open_files.h"
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
  aqled::GbkToUtf8(aqled::Utf8ToGbk("收到"));
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
      {"seconds", "Flood: length of the heartbeat phase.", "s", "5"},
      {"connections", "Flood: idle connections.", "n", "1000"},
      {"heartbeats", "Flood: heartbeats per second.", "n", "10000"},
      {"storm", "Flood: connections of the login storm.", "n", "500"},
      {"logins", "Flood: LOGIN frames per storm connection.", "n", "4"},
  });
  parser.process(app);
  if (parser.isSet("serve")) return Serve(parser, app, limitSet);
  return Flood(parser);
}
