#include "link/receiver.h"

#include <cstdint>
#include <exception>
#include <optional>

#include "link/frame.h"
#include "link/limits.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

// "错误:" + description, the error line of the receive road.
void LogReceiveError(LogSink& log, std::string_view description) {
  log.AppendLog(kLogError, Gbk<"错误:">() + std::string(description));
}

// A received text that is a card's heartbeat (its name "heartbeat" in any letter case) is
// logged as one, so that the log can fold a run of them from one connection.
void LogReceived(LogSink& log, const SessionTable& sessions, const CardConnection* connection,
                 std::string_view gbkText, const ReceivedPacket& packet, const std::string& line) {
  bool heartbeat = false;
  if (connection && gbkText.size() <= kMaxHeartbeatLength && packet.root.is_object()) {
    try {
      heartbeat = UpperAscii(JsonText(packet.root, "name")) == "HEARTBEAT";
    } catch (const std::exception&) {
      // Not a heartbeat; the exchange names what is wrong with it.
    }
  }
  if (!heartbeat) {
    log.AppendLog(kLogInfo, line);
    return;
  }
  const int slot = sessions.SlotOf(*connection);
  const std::string label = slot > 0 ? Format(Gbk<"[标签:%s]">(), {sessions.Slot(slot).barcode})
                                     : "[" + connection->PeerAddress() + "]";
  log.AppendHeartbeat(line, {reinterpret_cast<std::uintptr_t>(connection), label});
}

}  // namespace

ConnectionReceiver::ConnectionReceiver(std::shared_ptr<CardConnection> connection, SessionTable& sessions,
                                       CommandExchange& exchange, LogSink& log, LineBudget& badData)
    : connection_(std::move(connection)),
      sessions_(sessions),
      exchange_(exchange),
      log_(log),
      badData_(badData) {}

void ConnectionReceiver::Receive(std::string_view bytes) {
  if (stopped_) return;
  reader_.Append(bytes);
  HandleFrames();
}

void ConnectionReceiver::EndWait() {
  if (!waiting_) return;
  waiting_ = false;
  try {
    sessions_.SendLoginAnswer(*connection_);
  } catch (const std::exception& e) {
    LogReceiveError(log_, Utf8ToGbkLenient(e.what()));
  }
  HandleFrames();
}

void ConnectionReceiver::HandleFrames() {
  // A frame whose handling closes this connection comes back here; the loop further up
  // carries on with the frames after it.
  if (handling_) return;
  handling_ = true;
  while (!waiting_ && !stopped_) {
    std::optional<ReceivedChunk> chunk;
    try {
      chunk = reader_.Next();
      if (!chunk) break;
      if (gate_ && !gate_()) {
        stopped_ = true;
        reader_.Clear();
        break;
      }
      if (chunk->kind == ReceivedChunk::Kind::kBadLength) {
        if (badData_.Take()) {
          LogReceiveError(log_,
                          Format(Gbk<"帧长度 %d 超出范围">(), {static_cast<long long>(chunk->totalLength)}));
        }
        continue;
      }
      const std::string text = Trim(Utf8ToGbk(chunk->bytes));
      const std::string line = Gbk<"收到:">() + CutForLog(text);
      if (chunk->kind == ReceivedChunk::Kind::kForeign) {
        if (badData_.Take()) log_.AppendLog(kLogInfo, line);
        continue;
      }
      const ReceivedPacket packet = ParseReceived(text);
      LogReceived(log_, sessions_, connection_.get(), text, packet, line);
      waiting_ = exchange_.HandleControllerPacket(packet, connection_);
    } catch (const std::exception& e) {
      LogReceiveError(log_, CutForLog(Utf8ToGbkLenient(e.what())));
    }
  }
  handling_ = false;
}

}  // namespace aqled
