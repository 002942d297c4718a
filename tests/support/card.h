#pragma once
// The controller card of every in-process test: a socket on the test's own event loop, talking
// to the real server over loopback. It records each chunk it reads; made with a clock it also
// answers every command the way a card does, so that a delivery runs to its end, and can fall
// silent after a number of answers or report a download status of the test's choice.

#include <sys/socket.h>

#include <QDateTime>
#include <QHostAddress>
#include <QTcpSocket>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "card_messages.h"
#include "link/frame.h"
#include "link/frame_reader.h"
#include "text/datetime.h"

namespace aqled::testing {

class Card {
 public:
  // What the card got: when (on the test's clock), the command's name and its payload (UTF-8).
  struct Received {
    QDateTime at;
    std::string name;
    std::string payload;
  };

  Card() {
    QObject::connect(&socket, &QTcpSocket::readyRead, [this] { OnRead(); });
  }
  // Connected at once, waiting at most 3 s so that a test retrying against a full server gets
  // many tries; `connected` tells whether that worked.
  explicit Card(quint16 port) : Card() { Connect(port, 3000); }
  // A card that answers each command, stamping what it gets with `clock`.
  explicit Card(const Clock& clock) : Card() { clock_ = &clock; }

  bool Connect(quint16 port, int waitMs = 5000) {
    socket.connectToHost(QHostAddress::LocalHost, port);
    connected = socket.waitForConnected(waitMs);
    return connected;
  }

  // Connects and sends the LOGIN frame; the test waits for the application to record the card.
  bool LogIn(quint16 port, const std::string& barcode, int width = 96, int height = 48,
             const std::string& utf8Name = "card") {
    if (!Connect(port)) return false;
    Send(LoginText(barcode, utf8Name, '"' + std::to_string(width) + '"', '"' + std::to_string(height) + '"'));
    return true;
  }

  // A heartbeat, as a card sends every 10 seconds; false when the card is not connected.
  bool Heartbeat() {
    if (socket.state() != QAbstractSocket::ConnectedState) return false;
    Send(R"({"name":"heartbeat"})");
    return true;
  }

  // Raw bytes, and one frame of kind 2 around a UTF-8 JSON text.
  void Write(const std::string& bytes) {
    socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
    socket.flush();
  }
  void Send(const std::string& utf8Json) { Write(BuildFrameUtf8(2, utf8Json)); }

  // Closes with a reset instead of an orderly close.
  void Reset() {
    linger l{1, 0};
    ::setsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    socket.abort();
  }

  // The payloads received, in order.
  std::vector<std::string> Payloads() const {
    std::vector<std::string> out;
    for (const auto& f : frames) out.push_back(f.bytes);
    return out;
  }

  // The times at which commands named `name` (compared exactly) arrived.
  std::vector<QDateTime> Times(const std::string& name) const {
    std::vector<QDateTime> out;
    for (const Received& r : received)
      if (r.name == name) out.push_back(r.at);
    return out;
  }

  QTcpSocket socket;
  bool connected = false;
  FrameReader reader;
  std::vector<ReceivedChunk> frames;
  // Only a card made with a clock records and answers commands.
  std::vector<Received> received;
  int answersLeft = -1;           // answers still given; -1: every command is answered
  bool hangUpWhenSilent = false;  // the first command it does not answer closes the connection
  std::string progressStatus = "complete";

 private:
  void OnRead() {
    const QByteArray b = socket.readAll();
    reader.Append(std::string_view(b.constData(), static_cast<size_t>(b.size())));
    while (auto c = reader.Next()) {
      frames.push_back(*c);
      if (clock_ && c->kind == ReceivedChunk::Kind::kFrame) Answer(c->bytes);
    }
  }

  void Answer(const std::string& payload) {
    const nlohmann::json command = nlohmann::json::parse(payload, nullptr, false);
    const std::string name = command.is_object() ? command.value("name", "") : "";
    received.push_back({clock_->Now(), name, payload});
    if (name == "Login") return;
    if (answersLeft == 0) {
      if (hangUpWhenSilent) socket.disconnectFromHost();
      return;
    }
    if (answersLeft > 0) --answersLeft;
    nlohmann::json answer = {{"name", name}, {"output", {{"result", "ok"}}}};
    if (name == "downloadfilefromurl") {
      answer["output"]["id"] = std::to_string(++downloads_);
    } else if (name == "querydownloadprogress") {
      answer["output"]["status"] = progressStatus;
    }
    Send(answer.dump());
  }

  const Clock* clock_ = nullptr;
  int downloads_ = 0;
};

}  // namespace aqled::testing
