// aqled-cardsim: plays the LED controller card against the application's controller server.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "card.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("aqled-cardsim");
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "A stand-in for the LED controller card: logs in to the controller server, "
      "heartbeats and answers its commands.");
  parser.addHelpOption();
  aqled::cardsim::CardOptions o;
  auto value = [&](const char* name, const char* help, const QString& def) {
    QCommandLineOption opt(name, help, "value", def);
    parser.addOption(opt);
    return opt;
  };
  auto flag = [&](const char* name, const char* help) {
    QCommandLineOption opt(name, help);
    parser.addOption(opt);
    return opt;
  };
  const auto host = value("host", "Server address (default 127.0.0.1).", o.host);
  const auto port = value("port", "Server port (default 8115).", QString::number(o.port));
  const auto barcode = value("barcode", "The card's barcode.", o.barcode);
  const auto name = value("name", "The card's controller name.", o.name);
  const auto width = value("width", "Screen width in pixels.", QString::number(o.width));
  const auto height = value("height", "Screen height in pixels.", QString::number(o.height));
  const auto heartbeat = value("heartbeat-ms", "Heartbeat interval in ms.", QString::number(o.heartbeatMs));
  const auto storage = value("storage", "Folder of the card's storage.", o.storageDir);
  const auto output = value("output", "Folder for the screen's PNG files.", o.outputDir);
  const auto logFile = value("log", "Log file of every frame sent and received.", "");
  const auto verbose = flag("verbose", "Print the log on stdout too.");
  const auto reconnect = value("reconnect-ms", "Reconnect this long after losing the server; 0 exits.",
                               QString::number(o.reconnectMs));
  const auto allowRemote = flag("allow-remote-downloads", "Fetch from hosts other than loopback.");
  const auto split = value("split-bytes", "Send every frame in pieces of this many bytes.", "0");
  const auto splitPause =
      value("split-pause-ms", "Pause between the pieces.", QString::number(o.splitPauseMs));
  const auto coalesce = flag("coalesce", "Send every answer in one write together with a heartbeat.");
  const auto resetAfter = value("reset-after", "Reset the connection after sending this many frames.", "0");
  const auto answerDelay = value("answer-delay-ms", "Delay every answer.", "0");
  const auto progressWait = value(
      "progress-wait-ms", "Hold a progress answer this long while downloading (default: its delay).", "-1");
  QCommandLineOption fail("fail",
                          "Answer the first N commands of this name (default 1) with result \"fail\"; "
                          "may be given more than once.",
                          "command[:N]");
  parser.addOption(fail);
  const auto exitPlay = flag("exit-after-play", "Exit once a play command has been answered.");
  const auto exitDynamic = flag("exit-after-dynamic", "Exit once a dynamic-area command has been answered.");
  const auto exitSeconds = value("exit-after-seconds", "Give up after this many seconds (exit code 3).", "0");
  parser.process(app);

  bool ok = true;
  auto number = [&](const QCommandLineOption& opt) {
    bool good = false;
    const int v = parser.value(opt).toInt(&good);
    if (!good) {
      std::fprintf(stderr, "aqled-cardsim: --%s needs a number\n", qPrintable(opt.names().first()));
      ok = false;
    }
    return v;
  };
  o.host = parser.value(host);
  o.port = static_cast<quint16>(number(port));
  o.barcode = parser.value(barcode);
  o.name = parser.value(name);
  o.width = number(width);
  o.height = number(height);
  o.heartbeatMs = std::max(10, number(heartbeat));
  o.storageDir = parser.value(storage);
  o.outputDir = parser.value(output);
  o.logFile = parser.value(logFile);
  o.verbose = parser.isSet(verbose);
  o.reconnectMs = number(reconnect);
  o.allowRemote = parser.isSet(allowRemote);
  o.splitBytes = number(split);
  o.splitPauseMs = number(splitPause);
  o.coalesce = parser.isSet(coalesce);
  o.resetAfterFrames = number(resetAfter);
  o.answerDelayMs = number(answerDelay);
  o.progressWaitMs = number(progressWait);
  o.exitAfterPlay = parser.isSet(exitPlay);
  o.exitAfterDynamic = parser.isSet(exitDynamic);
  o.exitAfterSeconds = number(exitSeconds);
  for (const QString& option : parser.values(fail)) {
    const QStringList parts = option.split(':');
    bool good = parts.size() <= 2 && !parts[0].isEmpty();
    const int times = parts.size() == 2 ? parts[1].toInt(&good) : 1;
    if (!good || times < 0) {
      std::fprintf(stderr, "aqled-cardsim: --fail needs COMMAND or COMMAND:N, not %s\n", qPrintable(option));
      ok = false;
      continue;
    }
    o.failures[parts[0].toLower().toStdString()] += times;
  }
  if (!ok) return 1;

  aqled::cardsim::CardSimulator card(o);
  QObject::connect(&card, &aqled::cardsim::CardSimulator::Finished, &app, [&](int code) { app.exit(code); });
  card.Start();
  return app.exec();
}
