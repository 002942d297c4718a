// libFuzzer target of the stateful receive path: the fuzzer's bytes are cut into reads and
// fed to one connection's reader, exchange and session table, as the server does.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "link/controller_link.h"
#include "link/exchange.h"
#include "link/frame.h"
#include "link/frame_reader.h"
#include "link/session.h"

namespace {

class NullLog : public aqled::LogSink {
 public:
  void AppendLog(int, const std::string&) override {}
};

class StillClock : public aqled::Clock {
 public:
  QDateTime Now() const override { return {}; }
  void Sleep(int) override {}
};

class SinkConnection : public aqled::CardConnection {
 public:
  std::int32_t Handle() const override { return 3; }
  std::string PeerAddress() const override { return "127.0.0.1"; }
  bool IsOpen() const override { return open; }
  bool Write(std::string_view bytes) override {
    written += bytes.size();
    return true;
  }
  void Abort() override { open = false; }
  bool open = true;
  std::size_t written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  NullLog log;
  StillClock clock;
  aqled::SessionTable sessions(log, clock);
  aqled::CommandExchange exchange(sessions, log);
  exchange.ArmCardReset();
  if (data[0] & 1) exchange.BeginDelivery();
  if (data[0] & 2) exchange.StoreProgramCommands("{\"name\":\"downloadfilefromurl\"}", "{\"name\":\"play\"}");
  const std::size_t piece = 1 + data[1];
  auto connection = std::make_shared<SinkConnection>();
  aqled::FrameReader reader;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    aqled::ReceiveOnConnection(reader, bytes.substr(at, piece), connection, exchange, log);
    if (reader.Buffered() > aqled::kMaxFrameLength + piece) std::abort();
  }
  return 0;
}
