#include "link/controller_link.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "link/frame.h"
#include "link/limits.h"
#include "share/open_files.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

class SocketConnection : public CardConnection {
 public:
  explicit SocketConnection(QTcpSocket* socket)
      : socket_(socket), handle_(static_cast<std::int32_t>(socket->socketDescriptor())) {
    const QHostAddress peer = socket->peerAddress();
    bool v4 = false;
    const quint32 ip = peer.toIPv4Address(&v4);
    address_ = v4 ? QHostAddress(ip).toString().toStdString() : peer.toString().toStdString();
  }
  std::int32_t Handle() const override { return handle_; }
  std::string PeerAddress() const override { return address_; }
  bool IsOpen() const override {
    return !closed_ && socket_ && socket_->state() == QAbstractSocket::ConnectedState;
  }
  bool Write(std::string_view bytes) override {
    if (!IsOpen()) return false;
    return socket_->write(bytes.data(), static_cast<qint64>(bytes.size())) ==
           static_cast<qint64>(bytes.size());
  }
  void Abort() override {
    if (socket_) socket_->abort();
  }
  void MarkClosed() { closed_ = true; }

 private:
  QPointer<QTcpSocket> socket_;
  std::int32_t handle_;
  std::string address_;
  bool closed_ = false;
};

}  // namespace

struct ControllerLink::Peer {
  Peer(QTcpSocket* s, std::shared_ptr<SocketConnection> c, SessionTable& sessions, CommandExchange& exchange,
       PeerLog& log, LineBudget& badData, qint64 now)
      : socket(s),
        connection(c),
        receiver(std::move(c), sessions, exchange, log, badData),
        opened(now),
        lastHeard(now) {}

  QPointer<QTcpSocket> socket;
  std::shared_ptr<SocketConnection> connection;
  ConnectionReceiver receiver;
  QTimer answerTimer;  // the wait for this connection's Login answer
  // Times on the link's clock (Millis).
  qint64 opened;
  qint64 lastHeard;        // the last bytes read
  qint64 floodWindow = 0;  // start of the window of kFloodWindowMs now counted
  int floodFrames = 0;     // frames in that window, 0 before the first
  bool servicing = false;  // Service is on the stack for this connection
  bool closing = false;    // the socket has closed; what it sent is still being handled
  bool closed = false;
};

ControllerLink::ControllerLink(LogSink& log, Clock& clock, QObject* parent)
    : QObject(parent),
      log_(log),
      clock_(clock),
      peerLog_(log, clock, [this](const CardConnection& connection) { return sessions_.SlotOf(connection); }),
      sessions_(peerLog_, &clock),
      exchange_(sessions_, peerLog_),
      badData_(
          log, clock, kBadDataLinesPerWindow,
          [](long long n) { return Format(Gbk<"另有 %d 段异常数据未逐条记录">(), {n}); }, kSummaryWindowMs),
      refused_(
          log, clock, 0,
          [this](long long n) {
            return Format(Gbk<"连接数已达上限 %d, 已拒绝 %d 个新连接">(),
                          {static_cast<long long>(capacity_), n});
          },
          kSummaryWindowMs),
      displaced_(
          log, clock, 0,
          [](long long n) { return Format(Gbk<"为接受新连接, 已关闭 %d 个未登录的连接">(), {n}); },
          kSummaryWindowMs),
      timedOut_(
          log, clock, 0,
          [](long long n) {
            return Format(Gbk<"已关闭 %d 个 %d 秒内未登录的连接">(),
                          {n, static_cast<long long>(kLoginTimeoutMs / 1000)});
          },
          kSummaryWindowMs),
      acceptFailures_(
          log, clock, 1, [](long long n) { return Format(Gbk<"接受新连接又失败 %d 次">(), {n}); },
          kSummaryWindowMs),
      flooded_(
          log, clock, 1, [](long long n) { return Format(Gbk<"另有 %d 个发送过快的连接已关闭">(), {n}); },
          kSummaryWindowMs),
      capacity_(DescriptorBudgetUnder(OpenFileLimit(), kMaxConnections).linkConnections),
      server_(new QTcpServer(this)),
      periodic_(new QTimer(this)),
      acceptRetry_(new QTimer(this)) {
  server_->setObjectName("ServerSvr1");
  periodic_->setObjectName("PeriodicCheck");
  periodic_->setInterval(kPeriodicCheckMs);
  connect(periodic_, &QTimer::timeout, this, &ControllerLink::CheckTimeOuts);
  periodic_->start();
  acceptRetry_->setSingleShot(true);
  acceptRetry_->setInterval(kAcceptRetryMs);
  connect(acceptRetry_, &QTimer::timeout, this, [this] {
    if (waiting_) waiting_->setEnabled(true);
  });
  exchange_.SetDeliveryEndHandler(
      [this](DeliveryOutcome outcome, int slot) { emit DeliveryEnded(outcome, slot); });
  sessions_.SetCloseHandler([this](int slot) { exchange_.SlotClosed(slot); });
  sessions_.SetReplaceHandler(
      [this](int slot, const std::shared_ptr<CardConnection>& previous) { SlotReplaced(slot, previous); });
}

bool ControllerLink::FrameAdmitted(Peer& peer) {
  const qint64 now = clock_.Millis();
  if (peer.floodFrames == 0 || now - peer.floodWindow >= kFloodWindowMs || now < peer.floodWindow) {
    peer.floodWindow = now;
    peer.floodFrames = 0;
  }
  if (++peer.floodFrames <= kFloodFrames) return true;
  if (flooded_.Take()) {
    log_.AppendLog(kLogError,
                   Format(Gbk<"连接 (%s) %d 秒内发来超过 %d 帧, 远超控制卡所需, 关闭连接">(),
                          {peer.connection->PeerAddress(), static_cast<long long>(kFloodWindowMs / 1000),
                           static_cast<long long>(kFloodFrames)}));
  }
  return false;
}

void ControllerLink::SlotReplaced(int k, const std::shared_ptr<CardConnection>& previous) {
  exchange_.SlotReplaced(k);
  for (const auto& [socket, peer] : peers_) {
    if (peer->connection != previous || peer->closed || peer->closing) continue;
    const Client_record& slot = sessions_.Slot(k);
    peerLog_.AppendLog(kLogError, Format(Gbk<"[标签:%s] 已在新连接 (%s) 上登录, 关闭被取代的连接 (%s)">(),
                                         {slot.barcode, slot.remoteAddress, previous->PeerAddress()}));
    // The map is left at once: Drop takes the connection out of it.
    const std::shared_ptr<Peer> replaced = peer;
    Drop(replaced);
    return;
  }
}

void ControllerLink::WatchDelivery(DeliveryRoute route, int k) {
  exchange_.WatchDelivery(route, clock_.Now(), k);
}

std::vector<int> ControllerLink::ConnectedSlots() const {
  std::vector<int> connected;
  for (int k = 1; k <= sessions_.MaxCards(); ++k) {
    if (sessions_.SlotConnected(k)) connected.push_back(k);
  }
  return connected;
}

void ControllerLink::CheckDeliveryDeadline() {
  if (DeliveryInFlight()) exchange_.CheckDeliveryDeadline(clock_.Now());
}

void ControllerLink::WritePendingSummaries() {
  for (LineBudget* budget : {&badData_, &refused_, &displaced_, &timedOut_, &acceptFailures_, &flooded_})
    budget->Close();
  peerLog_.Close();
}

ControllerLink::~ControllerLink() {
  for (auto& [socket, peer] : peers_) {
    if (peer->socket) peer->socket->disconnect(this);
    peer->answerTimer.stop();
    peer->connection->MarkClosed();
  }
  delete waiting_;
  server_->close();
}

bool ControllerLink::Listen(quint16 port, const QHostAddress& address) {
  delete waiting_;
  waiting_ = nullptr;
  acceptRetry_->stop();
  if (server_->isListening()) server_->close();
  if (!server_->listen(address, port)) return false;
  // The link takes the connections off the socket itself (AcceptWaiting), so that a process
  // without descriptors left waits instead of retrying at full CPU.
  server_->pauseAccepting();
  waiting_ = new QSocketNotifier(server_->socketDescriptor(), QSocketNotifier::Read, this);
  connect(waiting_, &QSocketNotifier::activated, this, &ControllerLink::AcceptPending);
  return true;
}

quint16 ControllerLink::ServerPort() const { return server_->isListening() ? server_->serverPort() : 0; }

std::size_t ControllerLink::OpenConnections() const {
  std::size_t n = 0;
  for (const auto& [socket, peer] : peers_) n += peer->closed ? 0 : 1;
  return n;
}

std::size_t ControllerLink::BufferedBytes() const {
  std::size_t n = 0;
  for (const auto& [socket, peer] : peers_) n += peer->receiver.Buffered();
  return n;
}

void ControllerLink::AcceptPending() {
  // A batch per event: a storm of connects cannot hold the loop, the rest comes next round.
  for (int n = 0; n < kAcceptBatch && waiting_; ++n) {
    const Accepted accepted = AcceptWaiting(server_->socketDescriptor());
    if (accepted.outcome == Accepted::Outcome::kNoneWaiting) return;
    if (accepted.outcome == Accepted::Outcome::kFailed) continue;
    if (accepted.outcome == Accepted::Outcome::kCannotAccept) {
      CannotAccept(accepted.error);
      return;
    }
    if (OpenConnections() >= capacity_ && !DisplaceOne()) {
      // Closed at once: counted, and summarised when the window ends.
      refused_.Take();
      CloseDescriptor(accepted.descriptor);
      continue;
    }
    Admit(accepted.descriptor);
  }
}

void ControllerLink::Admit(qintptr descriptor) {
  // The connections belong to the server object, as those QTcpServer makes itself do.
  auto* socket = new QTcpSocket(server_);
  if (!socket->setSocketDescriptor(descriptor)) {
    CloseDescriptor(descriptor);
    delete socket;
    return;
  }
  auto peer = std::make_shared<Peer>(socket, std::make_shared<SocketConnection>(socket), sessions_, exchange_,
                                     peerLog_, badData_, clock_.Millis());
  peer->receiver.SetFrameGate([this, p = peer.get()] { return FrameAdmitted(*p); });
  socket->setReadBufferSize(kSocketBufferLimit);
  peer->answerTimer.setSingleShot(true);
  peer->answerTimer.setTimerType(Qt::PreciseTimer);
  peer->answerTimer.setInterval(kLoginAnswerWaitMs);
  peers_[socket] = peer;
  connect(&peer->answerTimer, &QTimer::timeout, this, [this, socket] { AnswerDue(socket); });
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ServerSvr1ClientRead(socket); });
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] { ServerSvr1ClientDisconnect(socket); });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { ServerSvr1ClientError(socket); });
  // Bytes may already wait (a card that logs in at once).
  if (socket->bytesAvailable() > 0) ServerSvr1ClientRead(socket);
}

void ControllerLink::CannotAccept(int error) {
  // No descriptor left (something else holds them) or the socket failed: the connection
  // stays queued. Making room takes it at once; otherwise the socket rests for a pause.
  if (acceptFailures_.Take()) {
    log_.AppendLog(kLogError, Format(Gbk<"接受新连接失败: %s">(), {FromQString(qt_error_string(error))}));
  }
  if (DisplaceOne()) return;  // the socket stays readable: the next round takes the connection
  waiting_->setEnabled(false);
  acceptRetry_->start();
}

bool ControllerLink::DisplaceOne() {
  const qint64 now = clock_.Millis();
  std::shared_ptr<Peer> oldest;
  for (const auto& [socket, peer] : peers_) {
    if (peer->closed || peer->closing || sessions_.SlotOf(*peer->connection) > 0) continue;
    if (now - peer->opened < kLoginGraceMs) continue;
    if (!oldest || peer->opened < oldest->opened) oldest = peer;
  }
  if (!oldest) return false;
  displaced_.Take();
  Drop(oldest);
  return true;
}

void ControllerLink::Service(const std::shared_ptr<Peer>& peer) {
  // The call further up the stack carries on with this connection.
  if (peer->servicing) return;
  peer->servicing = true;
  for (;;) {
    if (peer->receiver.Stopped()) {
      // A flood: nothing more of it is handled.
      if (!peer->closed) Drop(peer);
      break;
    }
    if (peer->receiver.Waiting()) {
      if (!peer->closing) break;
      // A closed connection does not wait: its answer goes nowhere, and what it sent before
      // it closed is still handled.
      peer->answerTimer.stop();
      PeerLog::Scope scope(peerLog_, *peer->connection);
      peer->receiver.EndWait();
      continue;
    }
    if (!peer->socket || peer->socket->bytesAvailable() <= 0) break;
    const QByteArray bytes = peer->socket->read(kReadChunk);
    if (bytes.isEmpty()) break;
    PeerLog::Scope scope(peerLog_, *peer->connection);
    peer->receiver.Receive(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  }
  peer->servicing = false;
  if (peer->closing) {
    FinishClose(peer);
  } else if (peer->receiver.Waiting() && !peer->answerTimer.isActive()) {
    peer->answerTimer.start();
  }
}

void ControllerLink::ServerSvr1ClientRead(QTcpSocket* socket) {
  const auto it = peers_.find(socket);
  if (it == peers_.end() || it->second->closed) return;
  // The peer stays alive through the handling even when a packet closes its connection.
  const std::shared_ptr<Peer> peer = it->second;
  peer->lastHeard = clock_.Millis();
  Service(peer);
  emit BytesHandled();
}

void ControllerLink::AnswerDue(QTcpSocket* socket) {
  const auto it = peers_.find(socket);
  if (it == peers_.end() || it->second->closed) return;
  const std::shared_ptr<Peer> peer = it->second;
  if (peer->servicing) return;
  peer->servicing = true;
  {
    PeerLog::Scope scope(peerLog_, *peer->connection);
    peer->receiver.EndWait();
  }
  peer->servicing = false;
  // The frames queued behind the answer, then whatever waits on the socket.
  Service(peer);
  emit BytesHandled();
}

void ControllerLink::ServerSvr1ClientDisconnect(QTcpSocket* socket) { Close(socket); }

void ControllerLink::ServerSvr1ClientError(QTcpSocket* socket) {
  const auto it = peers_.find(socket);
  if (it == peers_.end() || it->second->closed) return;
  const auto error = socket->error();
  if (error == QAbstractSocket::RemoteHostClosedError || error == QAbstractSocket::NetworkError ||
      socket->state() != QAbstractSocket::ConnectedState) {
    Close(socket);
  }
}

void ControllerLink::Close(QTcpSocket* socket) {
  const auto it = peers_.find(socket);
  if (it == peers_.end() || it->second->closed) return;
  const std::shared_ptr<Peer> peer = it->second;
  peer->closing = true;
  // Nothing more is written to it, even while its socket still reports itself connected.
  peer->connection->MarkClosed();
  // What the card sent before it went is still handled; Service then finishes the close.
  Service(peer);
}

void ControllerLink::FinishClose(const std::shared_ptr<Peer>& peer) {
  if (peer->closed) return;
  peer->closed = true;
  peer->answerTimer.stop();
  peer->connection->MarkClosed();
  sessions_.HandleClose(*peer->connection);
  QTcpSocket* socket = peer->socket;
  // A read loop further up the stack keeps its own reference to the peer; the socket may be
  // inside its own signal and goes once control is back in the event loop.
  for (auto it = peers_.begin(); it != peers_.end(); ++it) {
    if (it->second == peer) {
      peers_.erase(it);
      break;
    }
  }
  if (socket) {
    socket->disconnect(this);
    socket->deleteLater();
  }
  emit ConnectionClosed();
}

void ControllerLink::Drop(const std::shared_ptr<Peer>& peer) {
  peer->closing = true;
  peer->connection->MarkClosed();
  if (peer->socket) {
    peer->socket->disconnect(this);
    peer->socket->abort();
  }
  // Nothing it sent is handled any more.
  if (!peer->servicing) FinishClose(peer);
}

void ControllerLink::CheckTimeOuts() {
  CheckDeliveryDeadline();
  const qint64 now = clock_.Millis();
  std::vector<std::shared_ptr<Peer>> expired;
  for (const auto& [socket, peer] : peers_) {
    if (peer->closed || peer->closing) continue;
    const int slot = sessions_.SlotOf(*peer->connection);
    if (slot == 0 && now - peer->opened >= kLoginTimeoutMs) {
      timedOut_.Take();
      expired.push_back(peer);
    } else if (slot > 0 && now - peer->lastHeard >= kCardIdleTimeoutMs) {
      log_.AppendLog(kLogError, Format(Gbk<"[标签:%s] %d 秒未收到数据, 关闭连接">(),
                                       {sessions_.Slot(slot).barcode,
                                        static_cast<long long>(kCardIdleTimeoutMs / 1000)}));
      expired.push_back(peer);
    }
  }
  for (const auto& peer : expired) Drop(peer);
  badData_.Flush();
  refused_.Flush();
  displaced_.Flush();
  timedOut_.Flush();
  acceptFailures_.Flush();
  flooded_.Flush();
  peerLog_.Flush();
}

}  // namespace aqled
