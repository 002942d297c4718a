#pragma once
// The controller server ServerSvr1 with its connections, the session table and the command
// exchange, all on the Qt event loop of the window's thread. The window owns one
// ControllerLink; delivery uses it without a window.

#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/exchange.h"
#include "link/log_limit.h"
#include "link/receiver.h"
#include "link/session.h"
#include "logging/operation_log.h"
#include "text/datetime.h"

class QTcpServer;
class QSocketNotifier;
class QTcpSocket;
class QTimer;

namespace aqled {

class ControllerLink : public QObject {
  Q_OBJECT

 public:
  // The log and the clock are borrowed and must outlive the link. The clock times the
  // connections (login and idle time-outs) and the windows of the log's summaries.
  ControllerLink(LogSink& log, Clock& clock, QObject* parent = nullptr);
  // Closes the server and every connection; nothing is sent or logged.
  ~ControllerLink() override;

  // Opens the server on the port (0 picks a free one); false when it cannot listen. Logs
  // nothing: start-up writes its own line.
  bool Listen(quint16 port, const QHostAddress& address = QHostAddress::Any);
  // The port listened on, 0 when not listening.
  quint16 ServerPort() const;
  QTcpServer& ServerSvr1() { return *server_; }
  const QTcpServer& ServerSvr1() const { return *server_; }

  // Which cards the session table takes (see SessionTable::SetCards); before Listen.
  void SetCards(std::vector<std::string> barcodes, int maxCards) {
    sessions_.SetCards(std::move(barcodes), maxCards);
  }

  // Sends a GBK command to slot k and logs "发送:" (kind 2); nothing for slot 0 or a closed
  // connection.
  void SendToSlot(int k, std::string_view gbkText, int kind) { sessions_.SendToSlot(k, gbkText, kind); }

  // The session table's slots (k from 1) and the exchange state, for reading.
  const Client_record& Slot(int k) const { return sessions_.Slot(k); }
  int slotCount() const { return sessions_.slotCount(); }
  bool SlotConnected(int k) const { return sessions_.SlotConnected(k); }
  // Slot k's conversation (see CommandExchange::State).
  const ExchangeState& Exchange(int k = 1) const { return exchange_.State(k); }
  // The number of slots the table holds, and those holding a connected card, in slot order.
  int MaxCards() const { return sessions_.MaxCards(); }
  std::vector<int> ConnectedSlots() const;

  // What delivery and start-up call (see CommandExchange and SessionTable); k is the slot.
  void ArmCardReset() { exchange_.ArmCardReset(); }
  void BeginDelivery(int k = 1) { exchange_.BeginDelivery(k); }
  void StoreProgramCommands(std::string downloadCommand, std::string playCommand, int k = 1) {
    exchange_.StoreProgramCommands(std::move(downloadCommand), std::move(playCommand), k);
  }
  void StoreDynamicCommand(std::string dynamicCommand, int k = 1) {
    exchange_.StoreDynamicCommand(std::move(dynamicCommand), k);
  }
  void SetSlotPictureList(int k, std::string gbkList) { sessions_.SetPictureList(k, std::move(gbkList)); }

  // After the first command of a delivery to slot k went out: its end is awaited from the
  // clock's now on and reported once by DeliveryEnded (see
  // CommandExchange::SetDeliveryEndHandler). Its limit is checked by the link's periodic check
  // (every kPeriodicCheckMs) and by CheckDeliveryDeadline.
  void WatchDelivery(DeliveryRoute route, int k = 1);
  // True while a watched delivery to any slot has not ended; for one slot.
  bool DeliveryInFlight() const { return exchange_.AnyWatched(); }
  bool DeliveryInFlight(int k) const { return exchange_.State(k).deliveryWatched; }
  // Ends each watched delivery whose limit has passed on the clock as stalled.
  void CheckDeliveryDeadline();

  SessionTable& Sessions() { return sessions_; }

  // Connections open now, and the bytes their readers hold waiting for the rest of a frame
  // or behind a Login answer.
  std::size_t OpenConnections() const;
  std::size_t BufferedBytes() const;
  // The most connections held at once: kMaxConnections, less when the open-file limit
  // minus kDescriptorReserve is lower (at least 1). A new connection beyond it displaces the
  // oldest connection that has not logged in within kLoginGraceMs, or is closed at once;
  // either is counted into one summary line per window, not a line per connection.
  std::size_t ConnectionCapacity() const { return capacity_; }
  // Writes the summary lines of what the log budgets have counted and not yet reported; the
  // owner calls it before the link goes, so that a flood's last count is not lost at exit.
  void WritePendingSummaries();

 signals:
  // After the bytes of one read event have been handled; lets tests and tools wait.
  void BytesHandled();
  // After a connection has been handled as closed.
  void ConnectionClosed();
  // The watched delivery to `slot` has ended.
  void DeliveryEnded(aqled::DeliveryOutcome outcome, int slot);

 private:
  // Socket handlers. The link connects every accepted connection's readyRead, disconnected
  // and errorOccurred to them itself. A socket the link does not know is ignored.
  // A read: the connection's bytes go through its ConnectionReceiver. A login that was given
  // a slot makes the connection wait kLoginAnswerWaitMs on a timer of its own: nothing more
  // is read from it meanwhile, every other connection and the window go on, and when the
  // timer fires the Login answer goes out and the queued frames are handled in order.
  void ServerSvr1ClientRead(QTcpSocket* socket);
  // An orderly close: bytes still waiting are handled first (a pending Login answer is due
  // at once, and goes nowhere), then the connection's slot (if it is that slot's
  // connection) is marked disconnected. Handled once per connection.
  void ServerSvr1ClientDisconnect(QTcpSocket* socket);
  // An error: one that ends the connection (a reset) is handled exactly like an orderly close;
  // any other is silenced.
  void ServerSvr1ClientError(QTcpSocket* socket);

  struct Peer;
  // Takes the waiting connections off the listening socket: each is admitted, displaces the
  // oldest connection that has not logged in, or is closed at once.
  void AcceptPending();
  void Admit(qintptr descriptor);
  void CannotAccept(int error);
  // Reads and handles what the connection has sent, as far as its wait for a Login answer
  // allows; completes a close that is under way.
  void Service(const std::shared_ptr<Peer>& peer);
  void AnswerDue(QTcpSocket* socket);
  void Close(QTcpSocket* socket);
  void FinishClose(const std::shared_ptr<Peer>& peer);
  // Closes a connection the link gives up on; nothing of it is handled any more.
  void Drop(const std::shared_ptr<Peer>& peer);
  // The gate of each frame a connection sends: true while it stays within kFloodFrames per
  // kFloodWindowMs; the first frame beyond writes the connection's one closing line.
  bool FrameAdmitted(Peer& peer);
  // A login on another connection took slot k from `previous`: the delivery on it fails and
  // the replaced connection is closed with a line saying so.
  void SlotReplaced(int k, const std::shared_ptr<CardConnection>& previous);
  // Closes the oldest connection that has not logged in within kLoginGraceMs; false when
  // there is none.
  bool DisplaceOne();
  // The link's one periodic check: the limits of awaited deliveries, the login and idle
  // time-outs, and the summaries of windows that have ended.
  void CheckTimeOuts();

  LogSink& log_;
  Clock& clock_;
  // What the connections' frames cause goes through it (their budgets).
  PeerLog peerLog_;
  SessionTable sessions_;
  CommandExchange exchange_;
  LineBudget badData_;
  LineBudget refused_;
  LineBudget displaced_;
  LineBudget timedOut_;
  LineBudget acceptFailures_;
  LineBudget flooded_;
  std::size_t capacity_;
  QTcpServer* server_;
  QTimer* periodic_;                    // runs CheckTimeOuts
  QSocketNotifier* waiting_ = nullptr;  // connections waiting on the listening socket
  QTimer* acceptRetry_;
  std::map<QTcpSocket*, std::shared_ptr<Peer>> peers_;
};

}  // namespace aqled
