// aqled-linkbench: frames handled per second by the controller server on loopback. A card on
// the same event loop logs in, then sends N answer frames in batches; the clock runs from the
// first write until the server has handled (logged and dispatched) the last frame.
//   aqled-linkbench [--frames N] [--batch B] [--replies]
// --replies sends "clearuselessmaterial" answers, each of which makes the server send a disk
// query back; otherwise "queryDisk" answers, which the server only logs.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "link/controller_link.h"
#include "link/frame.h"

namespace {

class CountingLog : public aqled::LogSink {
 public:
  void AppendLog(int kind, const std::string&) override {
    if (kind == aqled::kLogInfo) ++received;
    if (kind == aqled::kLogError) ++errors;
  }
  long long received = 0, errors = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addHelpOption();
  QCommandLineOption framesOpt("frames", "Frames to send.", "n", "200000");
  QCommandLineOption batchOpt("batch", "Frames per write.", "n", "100");
  QCommandLineOption repliesOpt("replies", "Send answers that make the server send a command back.");
  parser.addOptions({framesOpt, batchOpt, repliesOpt});
  parser.process(app);
  const long long frames = parser.value(framesOpt).toLongLong();
  const int batch = std::max(1, parser.value(batchOpt).toInt());
  const bool replies = parser.isSet(repliesOpt);

  CountingLog log;
  aqled::SystemClock clock;
  aqled::ControllerLink link(log, clock);
  if (!link.Listen(0, QHostAddress::LocalHost)) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
    return 1;
  }
  QTcpSocket card;
  long long repliedBytes = 0;
  QObject::connect(&card, &QTcpSocket::readyRead, [&] { repliedBytes += card.readAll().size(); });
  card.connectToHost(QHostAddress::LocalHost, link.ServerPort());
  if (!card.waitForConnected(3000)) return 1;

  const std::string login = aqled::BuildFrame(
      2,
      R"({"name":"LOGIN","input":{"barcode":"BENCH","controllername":"bench","width":"128","height":"64"}})");
  card.write(login.data(), static_cast<qint64>(login.size()));
  // The Login answer comes after its pause; the run starts once it has arrived.
  while (repliedBytes == 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  link.BeginDelivery();
  const long long before = log.received;
  repliedBytes = 0;

  const std::string one = aqled::BuildFrame(
      2,
      replies
          ? R"({"name":"clearuselessmaterial","output":{"result":"ok"}})"
          : R"({"name":"queryDisk","output":{"storagemedia":"emmc","total":"7818182656","free":"7000000000"}})");
  QByteArray chunk;
  for (int i = 0; i < batch; ++i) chunk.append(one.data(), static_cast<qsizetype>(one.size()));

  QElapsedTimer timer;
  timer.start();
  long long sent = 0;
  // Keeps a bounded amount in flight so the client's buffer does not swallow the run.
  std::function<void()> pump = [&] {
    while (sent < frames && card.bytesToWrite() < 4 * chunk.size()) {
      const long long n = std::min<long long>(batch, frames - sent);
      card.write(n == batch ? chunk : chunk.left(static_cast<qsizetype>(n * one.size())));
      sent += n;
    }
  };
  QObject::connect(&card, &QTcpSocket::bytesWritten, pump);
  pump();
  while (log.received - before < frames) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  const double seconds = timer.nsecsElapsed() / 1e9;
  std::printf(
      "frames %lld, bytes per frame %zu, batch %d, %s: %.3f s, %.0f frames/s, %lld reply bytes, %lld "
      "errors\n",
      frames, one.size(), batch, replies ? "with replies" : "no replies", seconds, frames / seconds,
      repliedBytes, log.errors);
  return 0;
}
