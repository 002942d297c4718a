// libFuzzer target of the whole receive road: the fuzzer's bytes are cut into reads for two
// connections of one session table and exchange, as the server does, with the Login answer's
// wait ended, time moved on a fake clock, deliveries started and connections closed and
// replaced between reads. The table holds one slot or several, so both connections may be
// cards, each with a conversation of its own. Bounds that must hold are checked after every
// step.
//
// Input: byte 0 sets up the exchange (bit 0 arms the card reset, bit 1 begins a delivery to
// slot 1 and, with several slots, to slot 2, bit 2 stores program commands there, bits 3-4 add
// that many slots to the one); byte 1 is the largest read; then, repeatedly, one control byte
// followed by a read of up to that size for the connection it names (a delivery it begins goes
// to the slot of that connection's number).
#include <QDateTime>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "link/exchange.h"
#include "link/frame.h"
#include "link/limits.h"
#include "link/log_limit.h"
#include "link/receiver.h"
#include "link/session.h"

namespace {

class CountingLog : public aqled::LogSink {
 public:
  void AppendLog(int, const std::string& text) override {
    // Every line is bounded: a cut text plus its fixed words.
    if (text.size() > 2 * aqled::kMaxLoggedText + 4 * aqled::kMaxIdentityLength) std::abort();
  }
};

class SteppedClock : public aqled::Clock {
 public:
  QDateTime Now() const override { return now; }
  QDateTime now = QDateTime(QDate(2024, 3, 5), QTime(8, 0));
};

class SinkConnection : public aqled::CardConnection {
 public:
  explicit SinkConnection(std::int32_t handle) : handle_(handle) {}
  std::int32_t Handle() const override { return handle_; }
  std::string PeerAddress() const override { return "127.0.0.1"; }
  bool IsOpen() const override { return open; }
  bool Write(std::string_view bytes) override {
    if (bytes.size() > aqled::kMaxFrameLength) std::abort();
    return !refuse;
  }
  void Abort() override { open = false; }
  bool open = true;
  bool refuse = false;

 private:
  std::int32_t handle_;
};

struct Side {
  std::shared_ptr<SinkConnection> connection;
  std::unique_ptr<aqled::ConnectionReceiver> receiver;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  CountingLog log;
  SteppedClock clock;
  aqled::SessionTable sessions(log);
  aqled::CommandExchange exchange(sessions, log);
  aqled::LineBudget badData(
      log, clock, aqled::kBadDataLinesPerWindow, [](long long n) { return std::to_string(n); },
      aqled::kSummaryWindowMs);
  const int slotTotal = 1 + ((data[0] >> 3) & 3);
  sessions.SetCards({}, slotTotal);
  if (data[0] & 1) exchange.ArmCardReset();
  for (int k = 1; k <= std::min(slotTotal, 2); ++k) {
    if (data[0] & 2) exchange.BeginDelivery(k);
    if (data[0] & 4)
      exchange.StoreProgramCommands(R"({"name":"downloadfilefromurl"})", R"({"name":"play"})", k);
  }
  const std::size_t maxRead = 1 + data[1];
  std::int32_t nextHandle = 3;
  Side sides[2];
  auto open = [&](Side& side) {
    side.connection = std::make_shared<SinkConnection>(nextHandle++);
    side.receiver =
        std::make_unique<aqled::ConnectionReceiver>(side.connection, sessions, exchange, log, badData);
  };
  open(sides[0]);
  open(sides[1]);

  std::size_t at = 2;
  while (at < size) {
    const std::uint8_t control = data[at++];
    Side& side = sides[control & 1];
    if (control & 2) clock.now = clock.now.addMSecs(aqled::kLoginAnswerWaitMs);
    if ((control & 4) && side.receiver->Waiting()) side.receiver->EndWait();
    if ((control & 0x38) == 0x38) {
      // The connection closes: a pending answer is due at once, then the close is handled.
      side.connection->open = false;
      while (side.receiver->Waiting()) side.receiver->EndWait();
      sessions.HandleClose(*side.connection);
      open(side);
    }
    if ((control & 0xC0) == 0xC0) exchange.BeginDelivery(std::min(slotTotal, 1 + (control & 1)));
    side.connection->refuse = (control & 0xF0) == 0x50;
    const std::size_t n = std::min(maxRead, size - at);
    side.receiver->Receive(std::string_view(reinterpret_cast<const char*>(data + at), n));
    at += n;
    // A connection holds at most one frame plus one read, or what queued behind its wait.
    for (const Side& s : sides) {
      if (!s.receiver->Waiting() && s.receiver->Buffered() > aqled::kMaxFrameLength + maxRead) std::abort();
    }
    if (sessions.slotCount() > sessions.MaxCards()) std::abort();
    // Each conversation stays its own slot's.
    for (int k = 1; k <= slotTotal; ++k) {
      if (exchange.State(k).deliverySlot != 0 && exchange.State(k).deliverySlot != k) std::abort();
    }
  }
  for (Side& s : sides) {
    while (s.receiver->Waiting()) s.receiver->EndWait();
  }
  return 0;
}
