#pragma once
// A controller card played by the test on loopback: it logs in and answers every command the
// way a card does, so that a delivery runs to its end on the window's own event loop. It can
// fall silent after a number of answers and report a download status of the test's choice.

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "card_messages.h"
#include "link/frame.h"
#include "link/frame_reader.h"
#include "text/datetime.h"

namespace aqled::testing {

class AnsweringCard : public QObject {
 public:
  // What the card got: when (on the test's clock), the command's name and its payload (UTF-8).
  struct Received {
    QDateTime at;
    std::string name;
    std::string payload;
  };

  explicit AnsweringCard(const Clock& clock) : clock_(clock) {
    connect(&socket_, &QTcpSocket::readyRead, this, &AnsweringCard::OnRead);
  }

  // Connects and sends the LOGIN frame; the test waits for the window to record the card.
  bool LogIn(quint16 port, const std::string& barcode, int width = 96, int height = 48,
             const std::string& utf8Name = "card") {
    socket_.connectToHost(QHostAddress::LocalHost, port);
    if (!socket_.waitForConnected(5000)) return false;
    Send(LoginText(barcode, utf8Name, '"' + std::to_string(width) + '"', '"' + std::to_string(height) + '"'));
    return true;
  }

  // A heartbeat, as a card sends every 10 seconds; false when the card is not connected.
  bool Heartbeat() {
    if (socket_.state() != QAbstractSocket::ConnectedState) return false;
    Send(R"({"name":"heartbeat"})");
    return true;
  }

  // The times at which commands named `name` (compared exactly) arrived.
  std::vector<QDateTime> Times(const std::string& name) const {
    std::vector<QDateTime> out;
    for (const Received& r : received)
      if (r.name == name) out.push_back(r.at);
    return out;
  }

  std::vector<Received> received;
  int answersLeft = -1;           // answers still given; -1: every command is answered
  bool hangUpWhenSilent = false;  // the first command it does not answer closes the connection
  std::string progressStatus = "complete";

 private:
  void Send(const std::string& utf8Json) {
    socket_.write(QByteArray::fromStdString(BuildFrameUtf8(2, utf8Json)));
    socket_.flush();
  }

  void OnRead() {
    const QByteArray bytes = socket_.readAll();
    reader_.Append(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    while (auto chunk = reader_.Next()) {
      if (chunk->kind == ReceivedChunk::Kind::kFrame) Handle(chunk->bytes);
    }
  }

  void Handle(const std::string& payload) {
    const nlohmann::json command = nlohmann::json::parse(payload, nullptr, false);
    const std::string name = command.is_object() ? command.value("name", "") : "";
    received.push_back({clock_.Now(), name, payload});
    if (name == "Login") return;
    if (answersLeft == 0) {
      if (hangUpWhenSilent) socket_.disconnectFromHost();
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

  const Clock& clock_;
  QTcpSocket socket_;
  FrameReader reader_;
  int downloads_ = 0;
};

}  // namespace aqled::testing
