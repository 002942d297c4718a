// Seeded random streams through the stateful receive path (bytes in, handlers out): nothing
// throws or crashes, the held bytes stay bounded, and how the bytes are cut into reads never
// changes what is handled.
#include <gtest/gtest.h>

#include <random>

#include "link/exchange.h"
#include "link/frame.h"
#include "link/limits.h"
#include "link/log_limit.h"
#include "link/receiver.h"
#include "link_harness.h"

namespace aqled {
namespace {

using testing::FakeClock;
using testing::FakeConnection;
using testing::HandFrame;
using testing::RecordingLog;

const char* const kNames[] = {"LOGIN",
                              "login",
                              "heartbeat",
                              "HeartBeat",
                              "downloadfilefromurl",
                              "querydownloadprogress",
                              "stopplay",
                              "clearallprogram",
                              "clearuselessmaterial",
                              "play",
                              "queryDisk",
                              "UpdateDynamic",
                              "unknown"};
const char* const kStatus[] = {"waiting", "DOWNLOADING", "complete", "failed", ""};

std::string RandomPacket(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string name = kNames[pick(13)];
  switch (pick(6)) {
    case 0:
      return R"({"name":")" + name + R"(","input":{"barcode":")" +
             std::string(1, static_cast<char>('A' + pick(3))) + R"(","controllername":"n","width":)" +
             std::to_string(pick(1000)) + R"(,"height":"32"}})";
    case 1:
      return R"({"name":")" + name + R"(","output":{"id":")" + std::to_string(pick(9)) + R"(","status":")" +
             kStatus[pick(5)] + R"("}})";
    case 2:
      return R"({"name":")" + name + "\"}";
    case 3: {  // cut short
      std::string p = R"({"name":")" + name + R"(","output":{"status":"complete"}})";
      return p.substr(0, static_cast<size_t>(pick(static_cast<int>(p.size()))));
    }
    case 4: {  // random bytes, sometimes invalid UTF-8
      std::string p(static_cast<size_t>(pick(64)), '\0');
      for (char& c : p) c = static_cast<char>(rng());
      return p;
    }
    default:
      return "{\"name\":\"" + name + "\"}trailing\x96";
  }
}

// A stream of frames, with now and then foreign bytes or a header of a bad length.
std::string RandomStream(std::mt19937& rng, bool framesOnly) {
  std::string s;
  const int frames = 20 + static_cast<int>(rng() % 40);
  for (int i = 0; i < frames; ++i) {
    const unsigned r = rng() % 20;
    if (!framesOnly && r == 0) {
      s += std::string(32 + rng() % 40, static_cast<char>('a' + rng() % 26));
    } else if (!framesOnly && r == 1) {
      s += HandFrame("{}", 2, (rng() % 2) ? static_cast<std::int64_t>(rng() % 32) : 2 * 1024 * 1024);
    } else {
      s += HandFrame(RandomPacket(rng), 1 + static_cast<int>(rng() % 2));
    }
  }
  return s;
}

struct Outcome {
  std::vector<testing::LogLine> lines;
  std::vector<std::string> writes;
  size_t peak = 0;
  size_t left = 0;  // bytes still buffered at the end
};

// Feeds the stream in reads of 1 to `maxRead` bytes chosen by `cutter` (all at once without
// one); with `deliveries`, the cutter also starts a delivery now and then between reads.
Outcome Feed(const std::string& stream, std::mt19937* cutter, unsigned maxRead = 300,
             bool deliveries = true) {
  FakeClock clock;
  RecordingLog log;
  SessionTable sessions(log);
  CommandExchange exchange(sessions, log);
  LineBudget badData(
      log, clock, kBadDataLinesPerWindow, [](long long n) { return std::to_string(n); }, kSummaryWindowMs);
  exchange.ArmCardReset();
  auto connection = std::make_shared<FakeConnection>(5, "127.0.0.1");
  ConnectionReceiver receiver(connection, sessions, exchange, log, badData);
  Outcome run;
  size_t at = 0;
  while (at < stream.size()) {
    size_t n = cutter ? 1 + (*cutter)() % maxRead : stream.size();
    if (cutter && deliveries && (*cutter)() % 7 == 0) exchange.BeginDelivery();
    n = std::min(n, stream.size() - at);
    receiver.Receive(std::string_view(stream).substr(at, n));
    // Each Login answer after its wait, as the server's timer gives it.
    while (receiver.Waiting()) {
      run.peak = std::max(run.peak, receiver.Buffered());
      clock.Advance(kLoginAnswerWaitMs);
      receiver.EndWait();
    }
    run.peak = std::max(run.peak, receiver.Buffered());
    at += n;
  }
  run.lines = log.lines;
  run.writes = connection->writes;
  run.left = receiver.Buffered();
  return run;
}

TEST(ReceiveRandom, RandomStreamsNeverCrashAndStayBounded) {
  std::mt19937 rng(20240305);
  for (int round = 0; round < 300; ++round) {
    const std::string stream = RandomStream(rng, false);
    const Outcome run = Feed(stream, &rng);
    EXPECT_LE(run.peak, kMaxFrameLength + 300);
    for (const auto& l : run.lines) EXPECT_TRUE(l.kind == 1 || l.kind == 2 || l.kind == 3);
  }
}

TEST(ReceiveRandom, PureNoiseNeverCrashes) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::string noise(static_cast<size_t>(rng() % 4096), '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    if (round % 3 == 0 && noise.size() >= 4) noise.replace(0, 4, "BXCP");
    const Outcome run = Feed(noise, &rng);
    EXPECT_LE(run.peak, kMaxFrameLength + 300);
  }
}

TEST(ReceiveRandom, HowBytesAreCutIntoReadsChangesNothing) {
  std::mt19937 rng(99);
  for (int round = 0; round < 100; ++round) {
    const std::string stream = RandomStream(rng, true);
    const Outcome whole = Feed(stream, nullptr);
    std::mt19937 cutter(static_cast<unsigned>(round));
    const Outcome cut = Feed(stream, &cutter, 97, false);
    ASSERT_EQ(cut.lines.size(), whole.lines.size()) << round;
    for (size_t i = 0; i < cut.lines.size(); ++i) EXPECT_EQ(cut.lines[i].text, whole.lines[i].text);
    EXPECT_EQ(cut.writes, whole.writes);
    EXPECT_EQ(cut.left, 0u);
  }
}

}  // namespace
}  // namespace aqled
