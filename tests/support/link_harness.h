#pragma once
// Test seams of the controller link: a connection that records what is written to it, a log
// that stamps each line with the fake clock, a frame helper written from the byte layout, the
// card played over loopback (card.h), and the fixture of a listening link.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "card.h"
#include "link/controller_link.h"
#include "link/frame_reader.h"
#include "link/session.h"
#include "test_support.h"

namespace aqled::testing {

class FakeConnection : public CardConnection {
 public:
  FakeConnection(std::int32_t handle, std::string address) : handle_(handle), address_(std::move(address)) {}
  std::int32_t Handle() const override { return handle_; }
  std::string PeerAddress() const override { return address_; }
  bool IsOpen() const override { return open; }
  bool Write(std::string_view bytes) override {
    if (refuse) return false;
    writes.emplace_back(bytes);
    return true;
  }
  void Abort() override { open = false; }

  // The JSON texts written, one per frame, taken from offset 32.
  std::vector<std::string> Payloads() const {
    std::vector<std::string> out;
    for (const auto& w : writes) out.push_back(w.size() >= 32 ? w.substr(32) : std::string("<short>"));
    return out;
  }
  std::vector<std::string> writes;
  bool open = true;
  bool refuse = false;

 private:
  std::int32_t handle_;
  std::string address_;
};

// Records lines with the fake clock's milliseconds since the start.
class StampedLog : public LogSink {
 public:
  explicit StampedLog(const Clock& clock) : clock_(clock), start_(clock.Now()) {}
  void AppendLog(int kind, const std::string& text) override {
    lines.push_back({kind, text});
    stamps.push_back(start_.msecsTo(clock_.Now()));
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(U(l.text));
    return out;
  }
  std::vector<LogLine> lines;
  std::vector<qint64> stamps;

 private:
  const Clock& clock_;
  QDateTime start_;
};

// A frame laid out byte by byte from the header description, independent of BuildFrame:
// magic, totalLength, 07 03 96 00, payloadLength, zeros, kind, zero, payloadXor, headerXor.
inline std::string HandFrame(const std::string& payload, int kind = 2, std::int64_t totalOverride = -1) {
  std::string h(32, '\0');
  h[0] = 'B', h[1] = 'X', h[2] = 'C', h[3] = 'P';
  const std::uint32_t total = totalOverride >= 0 ? static_cast<std::uint32_t>(totalOverride)
                                                 : static_cast<std::uint32_t>(payload.size() + 32);
  const std::uint32_t n = static_cast<std::uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) {
    h[4 + i] = static_cast<char>((total >> (8 * i)) & 0xFF);
    h[12 + i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  }
  h[8] = 0x07, h[9] = 0x03, h[10] = static_cast<char>(0x96), h[11] = 0;
  h[28] = static_cast<char>(kind);
  unsigned char px = 0, hx = 0;
  for (unsigned char c : payload) px ^= c;
  h[30] = static_cast<char>(px);
  for (int i = 0; i < 31; ++i) hx ^= static_cast<unsigned char>(h[i]);
  h[31] = static_cast<char>(hx);
  return h + payload;
}

// A controller link listening on a free loopback port, logging to a recording log on a fake
// clock.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(link.Listen(0, QHostAddress::LocalHost)); }
  int Count(const std::string& utf8Line) const { return log.Count(utf8Line); }
  int CountPrefix(const std::string& prefix) const { return log.CountPrefix(prefix); }
  // A card logs in as `barcode` on a connection of its own and has its Login answer.
  std::unique_ptr<Card> LoggedIn(const std::string& barcode = "X") {
    auto card = std::make_unique<Card>(link.ServerPort());
    card->Write(HandFrame(LoginText(barcode)));
    EXPECT_TRUE(WaitFor([&] { return !card->frames.empty(); })) << barcode;
    return card;
  }

  FakeClock clock;
  RecordingLog log;
  ControllerLink link{log, clock};
};

}  // namespace aqled::testing
