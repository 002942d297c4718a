#pragma once
// The command exchange: every frame that arrives with the magic is parsed as JSON and
// dispatched by its "name"; each answer of a card makes the exchange send the next command to
// that card. Every slot of the session table has a conversation of its own (ExchangeState), so
// several cards go through their deliveries side by side, each driven only by its own answers.

#include <QDateTime>
#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "link/frame.h"
#include "link/limits.h"
#include "link/session.h"
#include "logging/operation_log.h"

namespace aqled {

// Commands the exchange sends, byte for byte as the card expects them.
inline constexpr std::string_view kDiskQueryCommand =
    R"({"name":"queryDisk","input":{"storagemedia":"emmc"}})";
// The trailing blank belongs to the command (47 bytes).
inline constexpr std::string_view kStopPlayCommand = R"({"name":"stopPlay","input":{"type":"program"}} )";
inline constexpr std::string_view kClearAllProgramCommand =
    R"({"name":"clearAllProgram","input":{"keepmaterial":"no"}})";
// The exchange's form, with a blank after the colon (32 bytes); a delivery sends its own.
inline constexpr std::string_view kClearUselessMaterialCommand = R"({"name": "clearuselessmaterial"})";
// "%s" is the download id.
inline constexpr std::string_view kProgressQueryPattern =
    R"({"name":"querydownloadprogress","input":{"delay":"5","id":"%s"}})";

// The GBK text of one received frame, parsed once: the receive road reads it to tell a
// heartbeat, the exchange dispatches it.
struct ReceivedPacket {
  nlohmann::json root;         // the first JSON value of the text
  std::exception_ptr failure;  // why the text is no JSON (then root is null)
};
// Never throws: a text that is not JSON, or nests deeper than kMaxJsonDepth, keeps its error.
ReceivedPacket ParseReceived(std::string_view gbkText);

// The two routes of a delivery and how a watched delivery ended.
enum class DeliveryRoute { kProgram, kDynamic };
enum class DeliveryOutcome { kSucceeded, kFailed, kStalled };

// A program delivery not played this long after its start has stalled: a card downloads a
// program of ten pictures over a LAN in seconds, so ten minutes leave room for a slow one.
inline constexpr qint64 kProgramDeliveryLimitMs = 10 * 60 * 1000;
// A card answers a dynamic area as soon as it shows it; two minutes without the answer means
// none is coming.
inline constexpr qint64 kDynamicDeliveryLimitMs = 2 * 60 * 1000;

// What the exchange remembers between packets about one slot's card: its conversation. Texts
// are GBK.
struct ExchangeState {
  // The slot itself once a delivery has gone to it; 0 before: the conversation's sends then go
  // nowhere.
  int deliverySlot = 0;
  bool pendingDiskQuery = false;
  bool pendingStopPlay = false;
  std::string downloadId;
  std::string downloadStatus;  // upper case
  std::string playCommand;
  std::string downloadCommand;
  // The stored downloadCommand has not gone out yet: the card's next "queryDisk" answer sends
  // it.
  bool downloadPending = false;
  std::string dynamicCommand;
  // The delivery whose end is awaited: its route, its start, and whether its play command has
  // gone out (only an answer to that one completes it).
  bool deliveryWatched = false;
  DeliveryRoute watchedRoute = DeliveryRoute::kProgram;
  QDateTime watchStarted;
  bool watchedPlaySent = false;
  // A progress loop of an earlier download may still run when a delivery begins, and its
  // "complete" sends the new play command too; only a play sent after the card has answered the
  // watched delivery's own download command, and answered every progress query sent before
  // that (the card answers in order), counts for the delivery.
  bool watchedDownloadSent = false;
  bool watchedDownloadAnswered = false;
  int progressQueriesOut = 0;      // progress queries sent whose answers have not come
  int earlierProgressAnswers = 0;  // answers still due to queries about the earlier download
};

class CommandExchange {
 public:
  // The table and the log are borrowed and must outlive the exchange.
  CommandExchange(SessionTable& sessions, LogSink& log) : sessions_(sessions), log_(log) {}

  // Slot k's conversation (k in 1..kMaxCards; any other number gives an empty one).
  const ExchangeState& State(int k = 1) const;

  // Handles one frame that came on `connection`, parsed by ParseReceived. Never throws: a failure
  // (not JSON, nesting deeper than kMaxJsonDepth, no "name", a missing "input"/"output" or
  // login field) is logged as kind 1 "错误,处理数据包时出错: " + description (cut like a
  // received text) and nothing is sent for the packet. Only the first JSON value of the text
  // is looked at; whatever follows it is ignored. A frame belongs to the conversation of the
  // slot whose connection it came on; with one slot every frame belongs to slot 1, as it always
  // has, and there, once a delivery has named the slot, an answer (anything but a login or a
  // heartbeat) from another connection than the slot's is logged as ignored and drives nothing.
  // With several slots such an answer is always ignored so, and a heartbeat on a connection
  // that holds no slot does nothing.
  // Returns true for a login that was given or matched a slot: its Login answer is due on
  // `connection` after kLoginAnswerWaitMs (SessionTable::SendLoginAnswer).
  bool HandleControllerPacket(const ReceivedPacket& packet,
                              const std::shared_ptr<CardConnection>& connection);

  // Start-up arms the one-time card reset of every slot: the next heartbeat of each card sends
  // the disk query, the one after it stop-play (to the slot once a delivery has named it).
  void ArmCardReset();
  // A delivery to slot k starts: its deliverySlot := k; its pending reset flags are cleared
  // unsent so that the reset never deletes a delivered program; a download still pending is
  // forgotten. The other slots' conversations go on untouched.
  void BeginDelivery(int k = 1);
  // A program delivery to slot k stores its commands; the download command goes out on the
  // card's next "queryDisk" answer, once.
  void StoreProgramCommands(std::string downloadCommand, std::string playCommand, int k = 1);
  // A dynamic-area delivery keeps its command (the delivery sends it; its answer is ignored).
  void StoreDynamicCommand(std::string dynamicCommand, int k = 1);

  // Called once with the outcome and the slot of every watched delivery that ends. A delivery
  // ends with success on its card's answer "play" to its own play command (program route) or
  // its "UpdateDynamic" answer (dynamic route) — its own play command being the one sent on a
  // "complete" that answers the delivery's own download, not one an earlier download's progress
  // loop sends (see ExchangeState); with failure on a progress status other than
  // waiting, downloading and complete (kind-1 line naming the status), on a failure the card
  // reports (below), when its slot's connection closes or is taken over by another connection
  // (SlotClosed, SlotReplaced); as stalled through CheckDeliveryDeadline. A newer BeginDelivery
  // of the slot drops its watch without an outcome.
  //
  // A failure the card reports: an answer to a command of a delivery (play, UpdateDynamic,
  // clearuselessmaterial, queryDisk, downloadfilefromurl, querydownloadprogress) whose "output"
  // holds a "result" that is present, not null and not "ok" in any letter case (a value that is
  // no text counts by its JSON text). An answer without "output" or without "result" is no
  // failure, as before. It gives the kind-1 line "标签: %s, 名称: %s, %s 失败: result=%s,
  // message=%s, 发送失败." (the command's name as the exchange sends it; the card's result and
  // its "message", or "reason" when it has none, cut like received texts), sends nothing
  // further and, from the slot's connection, ends the slot's watched delivery as failed: a
  // play answer only after the delivery's own play command, an UpdateDynamic answer only on
  // the dynamic route, the other answers only on the program route. A failing play answer
  // gives no "发送成功." line.
  void SetDeliveryEndHandler(std::function<void(DeliveryOutcome, int slot)> handler) {
    deliveryEnded_ = std::move(handler);
  }
  // After the first command of a delivery to slot k went out: its end is awaited from
  // `started` on.
  void WatchDelivery(DeliveryRoute route, const QDateTime& started, int k = 1);
  // True while a delivery to some slot is awaited.
  bool AnyWatched() const;
  // Ends every watched delivery whose limit (kProgramDeliveryLimitMs or kDynamicDeliveryLimitMs
  // from its own start) has been reached at `now` as stalled, each with a kind-1 line naming
  // its card. Returns true when it ended one.
  bool CheckDeliveryDeadline(const QDateTime& now);
  // Slot k's connection has closed: a delivery watched on it cannot be answered any more and
  // ends as failed, with a kind-1 line naming the card; its download (if not sent yet) and play
  // command are forgotten, as with a takeover.
  void SlotClosed(int k);
  // Slot k has been taken over by a login on another connection: a delivery watched on it
  // belongs to the connection it started on and ends as failed, with a kind-1 line saying the
  // card's connection was replaced; its download (if not sent yet) and play command are
  // forgotten, so that a "complete" from the new connection sends no play.
  void SlotReplaced(int k);

 private:
  // The conversation a frame on `connection` belongs to (see HandleControllerPacket), or 0.
  int ConversationOf(const std::shared_ptr<CardConnection>& connection) const;
  void Dispatch(ExchangeState& state, const std::string& name, const nlohmann::json& root,
                const std::shared_ptr<CardConnection>& connection);
  // True when answers from `connection` may drive the conversation.
  bool FromDeliveryCard(const ExchangeState& state, const std::shared_ptr<CardConnection>& connection) const;
  // Format of a kind-2 progress line whose first two arguments are the conversation's card's
  // tag and name.
  void LogProgress(const ExchangeState& state, std::string_view pattern, std::string_view third = {});
  // The same as a kind-1 line.
  void LogFailure(const ExchangeState& state, std::string_view pattern, std::string_view third = {});
  // True when the answer reports a failure of a delivery's command (see
  // SetDeliveryEndHandler); it has then been logged and handled. `earlier`: a progress answer
  // about an earlier download, which names its failure but does not end the watched delivery.
  bool CardReportedFailure(ExchangeState& state, const std::string& name, const nlohmann::json& root,
                           const std::shared_ptr<CardConnection>& connection, bool earlier);
  // Ends the conversation's watched delivery, if any, with `outcome`.
  void EndDelivery(ExchangeState& state, DeliveryOutcome outcome);
  // The watched delivery fails because its card's connection closed or was taken over.
  void FailConnectionLost(ExchangeState& state);
  // Sends the progress query for the state's downloadId, counting it as awaiting its answer.
  void SendProgressQuery(ExchangeState& state);
  // True when `connection` is the conversation's slot's current connection.
  bool FromDeliverySlot(const ExchangeState& state, const std::shared_ptr<CardConnection>& connection) const;
  void Send(const ExchangeState& state, std::string_view gbkText) {
    sessions_.SendToSlot(state.deliverySlot, gbkText, kFrameKindCommand);
  }
  // Slot k's conversation; k is in 1..kMaxCards.
  ExchangeState& Conversation(int k) { return states_[static_cast<std::size_t>(k - 1)]; }

  SessionTable& sessions_;
  LogSink& log_;
  std::array<ExchangeState, kMaxCards> states_;
  std::function<void(DeliveryOutcome, int)> deliveryEnded_;
};

}  // namespace aqled
