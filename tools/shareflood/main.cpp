// aqled-shareflood: floods the share server on 127.0.0.1 and prints what it costs the server.
//
//   aqled-shareflood [--idle N] [--downloads N] [--idle-timeout S]
//     starts the share server in a child process (this program with "serve") on a free loopback
//     port, publishing a temporary folder with one 2 MiB picture, and in turn: opens N idle
//     connections (default 500) and times a GET of the picture while they are open; sends a
//     request head that never ends (up to 64 MiB); sends a POST announcing 512 MiB; waits for
//     the server to cut the idle connections (idle time-out S seconds, default 5); downloads the
//     picture N times in parallel (default 300) and compares every byte. After each step it
//     prints the server's resident memory (VmRSS) and its peak (VmHWM).
//   aqled-shareflood serve --folder DIR [--base URL] [--idle-timeout S] [--request-timeout S]
//                          [--connections N] [--card-address A]...
//     runs the share server alone on 127.0.0.1 (free port, printed as "port <n>") until its
//     standard input closes; A is the address of a logged-in card.
//
// Every count and wait is bounded; the whole run takes well under a minute.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "flood.h"
#include "settings/file_io.h"
#include "share/limits.h"

namespace {

using namespace aqled::shareflood;

// Bounds of a run: enough to show the limits at work, never a load that outlasts a minute.
constexpr int kMaxIdle = 2000;
constexpr int kMaxDownloads = 1000;
constexpr unsigned kMaxIdleTimeoutSeconds = 30;
constexpr int kPictureBytes = 2 * 1024 * 1024;
constexpr qint64 kEndlessHeadLimit = 64LL * 1024 * 1024;
constexpr qint64 kHugeBody = 512LL * 1024 * 1024;
constexpr int kStepTimeoutMs = 20000;

void Memory(const char* step, qint64 pid) {
  std::printf("%-44s VmRSS %6.1f MiB   VmHWM %6.1f MiB\n", step, ResidentKiB(pid) / 1024.0,
              PeakResidentKiB(pid) / 1024.0);
}

void PrintPush(const char* what, const Push& push) {
  std::printf("%s: %s after %lld ms, %.1f MiB sent until then, answer \"%s\"\n", what,
              push.closedByServer ? "closed by the server" : "NOT closed", static_cast<long long>(push.ms),
              push.sent / 1048576.0, push.statusLine.c_str());
}

int Flood(int idle, int downloads, unsigned idleTimeout) {
  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  QByteArray picture(kPictureBytes, '\0');
  for (int i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>((i * 131 + i / 4099) & 0xFF);
  if (!aqled::WriteFileWhole((dir.path() + "/001.bmp").toStdString(),
                             std::string_view(picture.constData(), static_cast<size_t>(picture.size()))))
    return 1;
  ServerProcess server;
  ServeOptions options;
  options.folder = dir.path();
  options.idleTimeoutSeconds = idleTimeout;
  if (!server.Start(QCoreApplication::applicationFilePath(), options)) {
    std::fprintf(stderr, "%s\n", qPrintable(server.Error()));
    return 1;
  }
  const qint64 pid = server.Pid();
  std::printf("share server pid %lld on 127.0.0.1:%u, idle time-out %u s\n", static_cast<long long>(pid),
              server.Port(), idleTimeout);
  Memory("started", pid);

  const Answer first = Exchange(server.Port(), "GET /share/001.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                                false, false, kStepTimeoutMs);
  std::printf("GET of the picture, no load: %s in %lld ms\n", first.statusLine.c_str(),
              static_cast<long long>(first.ms));

  IdleConnections idlers;
  // From other hosts on loopback, as many from each as one address may hold.
  idlers.Open(server.Port(), idle, static_cast<int>(aqled::kShareMaxConnectionsPerAddress));
  idlers.WaitConnected(kStepTimeoutMs);
  std::printf("%d idle connections open, %d closed by the server\n", idlers.Connected(), idlers.Closed());
  Memory("with the idle connections", pid);
  const Answer during = Exchange(server.Port(), "GET /share/001.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                                 false, false, kStepTimeoutMs);
  if (during.statusLine.empty()) {
    std::printf("GET of the picture during them: refused, the connection closed (%lld ms)\n",
                static_cast<long long>(during.ms));
  } else {
    std::printf("GET of the picture during them: %s, %zu bytes%s in %lld ms\n", during.statusLine.c_str(),
                during.body.size(), during.body == picture.toStdString() ? " (exact)" : " (WRONG)",
                static_cast<long long>(during.ms));
  }

  PrintPush("endless request head", EndlessHead(server.Port(), kEndlessHeadLimit, kStepTimeoutMs));
  Memory("after the endless head", pid);
  PrintPush("POST announcing 512 MiB", HugeBody(server.Port(), kHugeBody, kStepTimeoutMs));
  Memory("after the POST", pid);

  const bool cut = idlers.WaitAllClosed(static_cast<int>(idleTimeout) * 1000 + kStepTimeoutMs);
  std::printf(
      "idle connections cut by the server: %d of %d, %s, the first after %lld ms, the last after %lld ms\n",
      idlers.Closed(), idle, cut ? "all" : "NOT all", static_cast<long long>(idlers.FirstCloseMs()),
      static_cast<long long>(idlers.LastCloseMs()));
  Memory("after the idle time-out", pid);

  const Downloads parallel =
      ParallelDownloads(server.Port(), "/share/001.bmp", picture, downloads, kStepTimeoutMs * 3,
                        static_cast<int>(aqled::kShareMaxConnectionsPerAddress));
  std::printf("%d parallel downloads of 2 MiB: %d exact, %d failed, %lld ms (%.0f MiB/s)\n", downloads,
              parallel.exact, parallel.failed, static_cast<long long>(parallel.ms),
              parallel.exact * 2.0 / std::max<qint64>(parallel.ms, 1) * 1000);
  Memory("at the end", pid);
  server.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("aqled-shareflood");
  QCommandLineParser parser;
  parser.setApplicationDescription("Floods the share server on 127.0.0.1 and prints its memory and times.");
  parser.addHelpOption();
  parser.addPositionalArgument("mode", "\"serve\" runs the share server alone; nothing runs the flood.");
  const QCommandLineOption idle("idle", "Idle connections (at most 2000).", "n", "500");
  const QCommandLineOption downloads("downloads", "Parallel downloads (at most 1000).", "n", "300");
  const QCommandLineOption idleTimeout("idle-timeout", "The server's idle time-out in seconds (1 to 30).",
                                       "s", "5");
  const QCommandLineOption requestTimeout("request-timeout", "serve: the whole-request time-out in seconds.",
                                          "s", "0");
  const QCommandLineOption folder("folder", "serve: the folder published.", "dir");
  const QCommandLineOption base("base", "serve: the address it is published under.", "url",
                                "http://127.0.0.1/share/");
  const QCommandLineOption connections("connections", "serve: the connections held at once.", "n", "0");
  const QCommandLineOption cardAddress("card-address", "serve: the address of a logged-in card (repeatable).",
                                       "address");
  parser.addOptions({idle, downloads, idleTimeout, requestTimeout, folder, base, connections, cardAddress});
  parser.process(app);

  const unsigned timeout = std::clamp(parser.value(idleTimeout).toUInt(), 1u, kMaxIdleTimeoutSeconds);
  if (parser.positionalArguments().value(0) == "serve") {
    ServeOptions options;
    options.folder = parser.value(folder);
    options.httpBaseDir = parser.value(base);
    options.idleTimeoutSeconds = parser.isSet(idleTimeout) ? timeout : 0;
    options.requestTimeoutSeconds = parser.value(requestTimeout).toUInt();
    options.maxConnections = parser.value(connections).toUInt();
    options.cardAddresses = parser.values(cardAddress);
    if (options.folder.isEmpty()) {
      std::fprintf(stderr, "aqled-shareflood serve: --folder is needed\n");
      return 2;
    }
    return Serve(options);
  }
  return Flood(std::clamp(parser.value(idle).toInt(), 1, kMaxIdle),
               std::clamp(parser.value(downloads).toInt(), 1, kMaxDownloads), timeout);
}
