#include "link/controller_link.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "link/frame.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

// One read takes at most this much off the socket before the frames in it are handled, so a
// connection never holds more than one frame plus one chunk.
constexpr qint64 kReadChunk = 64 * 1024;
// Qt stops taking bytes off the network when its own buffer holds this much.
constexpr qint64 kSocketBufferLimit = 256 * 1024;

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

// Shared by both error-line forms of the receive path: "错误:" + description.
void LogReceiveError(LogSink& log, std::string_view description) {
  log.AppendLog(kLogError, "\xB4\xED\xCE\xF3:" + std::string(description));
}

}  // namespace

struct ControllerLink::Peer {
  QPointer<QTcpSocket> socket;
  std::shared_ptr<SocketConnection> connection;
  FrameReader reader;
  bool closed = false;
};

void ReceiveOnConnection(FrameReader& reader, std::string_view bytes,
                         const std::shared_ptr<CardConnection>& connection, CommandExchange& exchange,
                         LogSink& log) {
  reader.Append(bytes);
  for (;;) {
    std::optional<ReceivedChunk> chunk;
    try {
      chunk = reader.Next();
      if (!chunk) return;
      if (chunk->kind == ReceivedChunk::Kind::kBadLength) {
        // 帧长度 %d 超出范围
        LogReceiveError(log, Format("\xD6\xA1\xB3\xA4\xB6\xC8 %d \xB3\xAC\xB3\xF6\xB7\xB6\xCE\xA7",
                                    {static_cast<long long>(chunk->totalLength)}));
        continue;
      }
      const std::string text = Trim(Utf8ToGbk(chunk->bytes));
      // 收到:
      log.AppendLog(kLogInfo, "\xCA\xD5\xB5\xBD:" + text);
      if (chunk->kind == ReceivedChunk::Kind::kFrame) exchange.HandleControllerPacket(text, connection);
    } catch (const std::exception& e) {
      LogReceiveError(log, Utf8ToGbkLenient(e.what()));
    }
  }
}

ControllerLink::ControllerLink(LogSink& log, Clock& clock, QObject* parent)
    : QObject(parent),
      log_(log),
      clock_(clock),
      sessions_(log, clock),
      exchange_(sessions_, log),
      server_(new QTcpServer(this)),
      deliveryCheck_(new QTimer(this)) {
  server_->setObjectName("ServerSvr1");
  connect(server_, &QTcpServer::newConnection, this, &ControllerLink::AcceptPending);
  deliveryCheck_->setInterval(kDeliveryCheckIntervalMs);
  connect(deliveryCheck_, &QTimer::timeout, this, &ControllerLink::CheckDeliveryDeadline);
  exchange_.SetDeliveryEndHandler([this](DeliveryOutcome outcome) {
    deliveryCheck_->stop();
    emit DeliveryEnded(outcome);
  });
}

void ControllerLink::WatchDelivery(DeliveryRoute route) {
  exchange_.WatchDelivery(route, clock_.Now());
  deliveryCheck_->start();
}

void ControllerLink::CheckDeliveryDeadline() {
  exchange_.CheckDeliveryDeadline(clock_.Now());
  // A watch dropped by a newer delivery leaves nothing to check.
  if (!DeliveryInFlight()) deliveryCheck_->stop();
}

ControllerLink::~ControllerLink() {
  for (auto& [socket, peer] : peers_) {
    socket->disconnect(this);
    peer->connection->MarkClosed();
  }
  server_->close();
}

bool ControllerLink::Listen(quint16 port, const QHostAddress& address) {
  if (server_->isListening()) server_->close();
  return server_->listen(address, port);
}

quint16 ControllerLink::ServerPort() const { return server_->isListening() ? server_->serverPort() : 0; }

std::size_t ControllerLink::OpenConnections() const {
  std::size_t n = 0;
  for (const auto& [socket, peer] : peers_) n += peer->closed ? 0 : 1;
  return n;
}

std::size_t ControllerLink::BufferedBytes() const {
  std::size_t n = 0;
  for (const auto& [socket, peer] : peers_) n += peer->reader.Buffered();
  return n;
}

void ControllerLink::AcceptPending() {
  while (QTcpSocket* socket = server_->nextPendingConnection()) {
    auto peer = std::make_shared<Peer>();
    peer->socket = socket;
    peer->connection = std::make_shared<SocketConnection>(socket);
    socket->setReadBufferSize(kSocketBufferLimit);
    peers_[socket] = peer;
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ServerSvr1ClientRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { ServerSvr1ClientDisconnect(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { ServerSvr1ClientError(socket); });
    // Bytes may already wait (a card that logs in at once).
    if (socket->bytesAvailable() > 0) ServerSvr1ClientRead(socket);
  }
}

void ControllerLink::Drain(const std::shared_ptr<Peer>& peer) {
  // The peer stays alive through the loop even when a packet closes its connection.
  while (peer->socket && peer->socket->bytesAvailable() > 0) {
    const QByteArray bytes = peer->socket->read(kReadChunk);
    if (bytes.isEmpty()) break;
    ReceiveOnConnection(peer->reader,
                        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                        peer->connection, exchange_, log_);
  }
}

void ControllerLink::ServerSvr1ClientRead(QTcpSocket* socket) {
  const auto it = peers_.find(socket);
  if (it == peers_.end() || it->second->closed) return;
  const std::shared_ptr<Peer> peer = it->second;
  Drain(peer);
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
  // What the card sent before it went is still handled.
  Drain(peer);
  peer->closed = true;
  peer->connection->MarkClosed();
  peer->reader.Clear();
  sessions_.HandleClose(*peer->connection);
  socket->disconnect(this);
  // A read loop further up the stack keeps its own reference to the peer; the socket may be
  // inside its own signal and goes once control is back in the event loop.
  peers_.erase(socket);
  socket->deleteLater();
  emit ConnectionClosed();
}

}  // namespace aqled
