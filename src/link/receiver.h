#pragma once
// The receive road of one controller connection without its socket, so that tests and the
// fuzzer drive it as the server does: bytes in arrival order are cut into frames, logged and
// handed to the command exchange; a login starts the wait for its Login answer.

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "link/exchange.h"
#include "link/frame_reader.h"
#include "link/log_limit.h"
#include "link/session.h"
#include "logging/operation_log.h"

namespace aqled {

class ConnectionReceiver {
 public:
  // Everything but the connection is borrowed and must outlive the receiver.
  ConnectionReceiver(std::shared_ptr<CardConnection> connection, SessionTable& sessions,
                     CommandExchange& exchange, LogSink& log, LineBudget& badData);

  // Appends the bytes of one read and handles every whole frame in arrival order: its payload
  // (UTF-8 turned into GBK with the strict rule, trimmed) is logged as kind 3 "收到:" + text
  // (cut by CutForLog) and handed to the exchange. Foreign bytes (32 or more without the
  // magic) are logged the same way and dropped; a frame length outside 32..kMaxFrameLength
  // gives a kind-1 "错误:" line. Either drops what is buffered with it and every byte up to
  // the next magic, and its line draws on the bad-data budget. A login that was given a slot
  // starts the wait for its Login answer: the frames after it stay queued until EndWait.
  // Never throws.
  void Receive(std::string_view bytes);

  // Asked before each chunk (a frame, foreign bytes, a bad length) is handled; when it answers
  // false, everything buffered is dropped and nothing this connection sends is handled any more
  // (its owner closes it).
  void SetFrameGate(std::function<bool()> gate) { gate_ = std::move(gate); }
  // True once the gate has refused a chunk.
  bool Stopped() const { return stopped_; }

  // True while the connection waits for its Login answer.
  bool Waiting() const { return waiting_; }
  // The wait is over: the Login answer goes out, then the queued frames are handled, up to
  // the next login that waits.
  void EndWait();

  const std::shared_ptr<CardConnection>& Connection() const { return connection_; }
  // Bytes held, waiting for the rest of a frame or queued behind a wait, and the memory the
  // buffer takes.
  std::size_t Buffered() const { return reader_.Buffered(); }
  std::size_t Capacity() const { return reader_.Capacity(); }

 private:
  void HandleFrames();

  std::shared_ptr<CardConnection> connection_;
  SessionTable& sessions_;
  CommandExchange& exchange_;
  LogSink& log_;
  LineBudget& badData_;
  FrameReader reader_;
  std::function<bool()> gate_;
  bool stopped_ = false;
  bool waiting_ = false;
  bool handling_ = false;  // a frame's handling reached this connection again (it closed)
};

}  // namespace aqled
