#include "link/exchange.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "link/log_limit.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {
const std::string& PacketErrorPattern() { return Gbk<"错误,处理数据包时出错: %s">(); }

// A value of the answer's "output" as GBK text: nothing when "output" or the value is absent
// or null; a value that is no text gives its JSON text.
std::optional<std::string> OutputValue(const nlohmann::json& root, const char* key) {
  const auto output = root.find("output");
  if (output == root.end() || !output->is_object()) return std::nullopt;
  const auto value = output->find(key);
  if (value == output->end() || value->is_null()) return std::nullopt;
  return Utf8ToGbkLenient(value->is_string() ? value->get_ref<const std::string&>() : value->dump());
}

// The commands of a delivery whose answers carry the card's result, upper-cased as dispatched,
// with the name the failure line gives them.
constexpr std::pair<std::string_view, std::string_view> kDeliveryCommands[] = {
    {"PLAY", "play"},
    {"UPDATEDYNAMIC", "UpdateDynamic"},
    {"CLEARUSELESSMATERIAL", "clearuselessmaterial"},
    {"QUERYDISK", "queryDisk"},
    {"DOWNLOADFILEFROMURL", "downloadfilefromurl"},
    {"QUERYDOWNLOADPROGRESS", "querydownloadprogress"},
};
}  // namespace

const ExchangeState& CommandExchange::State(int k) const {
  static const ExchangeState kNone;
  return k >= 1 && k <= kMaxCards ? states_[static_cast<std::size_t>(k - 1)] : kNone;
}

void CommandExchange::ArmCardReset() {
  for (ExchangeState& state : states_) {
    state.pendingDiskQuery = true;
    state.pendingStopPlay = true;
  }
}

void CommandExchange::BeginDelivery(int k) {
  if (k < 1 || k > kMaxCards) return;
  ExchangeState& state = Conversation(k);
  state.deliverySlot = k;
  state.pendingDiskQuery = false;
  state.pendingStopPlay = false;
  state.downloadPending = false;
  // A delivery still awaited is replaced by this one; it ends without an outcome.
  state.deliveryWatched = false;
}

void CommandExchange::WatchDelivery(DeliveryRoute route, const QDateTime& started, int k) {
  if (k < 1 || k > kMaxCards) return;
  ExchangeState& state = Conversation(k);
  state.deliveryWatched = true;
  state.watchedRoute = route;
  state.watchStarted = started;
  state.watchedPlaySent = false;
  state.watchedDownloadSent = false;
  state.watchedDownloadAnswered = false;
}

bool CommandExchange::AnyWatched() const {
  for (const ExchangeState& state : states_) {
    if (state.deliveryWatched) return true;
  }
  return false;
}

bool CommandExchange::CheckDeliveryDeadline(const QDateTime& now) {
  bool ended = false;
  for (ExchangeState& state : states_) {
    if (!state.deliveryWatched) continue;
    const bool program = state.watchedRoute == DeliveryRoute::kProgram;
    const qint64 limit = program ? kProgramDeliveryLimitMs : kDynamicDeliveryLimitMs;
    if (state.watchStarted.msecsTo(now) < limit) continue;
    const Client_record& slot = sessions_.Slot(state.deliverySlot);
    log_.AppendLog(kLogError,
                   Format(program ? Gbk<"标签: %s, 名称: %s, %d 分钟内未完成节目发送, 发送失败.">()
                                  : Gbk<"标签: %s, 名称: %s, %d 分钟内未收到动态区应答, 发送失败.">(),
                          {slot.barcode, slot.controllerName, limit / 60000}));
    EndDelivery(state, DeliveryOutcome::kStalled);
    ended = true;
  }
  return ended;
}

void CommandExchange::SlotClosed(int k) {
  if (k < 1 || k > kMaxCards) return;
  ExchangeState& state = Conversation(k);
  state.progressQueriesOut = state.earlierProgressAnswers = 0;  // their answers went with it
  if (!state.deliveryWatched || k != state.deliverySlot) return;
  LogFailure(state, Gbk<"标签: %s, 名称: %s, 发送中连接断开, 发送失败.">());
  FailConnectionLost(state);
}

void CommandExchange::SlotReplaced(int k) {
  if (k < 1 || k > kMaxCards) return;
  ExchangeState& state = Conversation(k);
  state.progressQueriesOut = state.earlierProgressAnswers = 0;
  if (!state.deliveryWatched || k != state.deliverySlot) return;
  LogFailure(state, Gbk<"标签: %s, 名称: %s, 发送中控制卡的连接被新连接取代, 发送失败.">());
  FailConnectionLost(state);
}

void CommandExchange::FailConnectionLost(ExchangeState& state) {
  // The card's answers on its next connection must not carry the failed delivery on to a
  // download or a play.
  state.downloadPending = false;
  state.playCommand.clear();
  EndDelivery(state, DeliveryOutcome::kFailed);
}

bool CommandExchange::CardReportedFailure(ExchangeState& state, const std::string& name,
                                          const nlohmann::json& root,
                                          const std::shared_ptr<CardConnection>& connection, bool earlier) {
  std::string_view command;
  for (const auto& [upper, shown] : kDeliveryCommands) {
    if (name == upper) command = shown;
  }
  if (command.empty()) return false;
  const std::optional<std::string> result = OutputValue(root, "result");
  if (!result || UpperAscii(*result) == "OK") return false;
  std::optional<std::string> message = OutputValue(root, "message");
  if (!message) message = OutputValue(root, "reason");
  const Client_record& slot = sessions_.Slot(state.deliverySlot);
  log_.AppendLog(kLogError, Format(Gbk<"标签: %s, 名称: %s, %s 失败: result=%s, message=%s, 发送失败.">(),
                                   {slot.barcode, slot.controllerName, command, CutForLog(*result),
                                    CutForLog(message.value_or(""))}));
  if (!FromDeliverySlot(state, connection)) return true;
  if (name == "UPDATEDYNAMIC") {
    if (state.watchedRoute == DeliveryRoute::kDynamic) EndDelivery(state, DeliveryOutcome::kFailed);
    return true;
  }
  if (state.watchedRoute != DeliveryRoute::kProgram) return true;
  // A play answer counts only for the delivery's own play command, a progress answer only when
  // it is about the delivery's own download; the chain's other answers end it wherever they
  // come.
  if (name == "PLAY" && !state.watchedPlaySent) return true;
  if (name == "QUERYDOWNLOADPROGRESS" && earlier) return true;
  state.downloadPending = false;
  EndDelivery(state, DeliveryOutcome::kFailed);
  return true;
}

void CommandExchange::EndDelivery(ExchangeState& state, DeliveryOutcome outcome) {
  if (!state.deliveryWatched) return;
  state.deliveryWatched = false;
  if (deliveryEnded_) deliveryEnded_(outcome, state.deliverySlot);
}

void CommandExchange::SendProgressQuery(ExchangeState& state) {
  Send(state, Format(kProgressQueryPattern, {state.downloadId}));
  if (state.deliverySlot > 0) ++state.progressQueriesOut;
}

bool CommandExchange::FromDeliverySlot(const ExchangeState& state,
                                       const std::shared_ptr<CardConnection>& connection) const {
  const auto slotConnection = sessions_.Slot(state.deliverySlot).connection.lock();
  return slotConnection && slotConnection == connection;
}

void CommandExchange::StoreProgramCommands(std::string downloadCommand, std::string playCommand, int k) {
  if (k < 1 || k > kMaxCards) return;
  ExchangeState& state = Conversation(k);
  state.downloadCommand = std::move(downloadCommand);
  state.playCommand = std::move(playCommand);
  state.downloadPending = true;
}

void CommandExchange::StoreDynamicCommand(std::string dynamicCommand, int k) {
  if (k < 1 || k > kMaxCards) return;
  Conversation(k).dynamicCommand = std::move(dynamicCommand);
}

void CommandExchange::LogProgress(const ExchangeState& state, std::string_view pattern,
                                  std::string_view third) {
  const Client_record& slot = sessions_.Slot(state.deliverySlot);
  log_.AppendLog(kLogSent, Format(pattern, {slot.barcode, slot.controllerName, third}));
}

void CommandExchange::LogFailure(const ExchangeState& state, std::string_view pattern,
                                 std::string_view third) {
  const Client_record& slot = sessions_.Slot(state.deliverySlot);
  log_.AppendLog(kLogError, Format(pattern, {slot.barcode, slot.controllerName, third}));
}

ReceivedPacket ParseReceived(std::string_view gbkText) {
  ReceivedPacket packet;
  try {
    // The JSON library reads UTF-8; the values read are turned back into GBK.
    packet.root = ParsePacket(GbkToUtf8(gbkText));
  } catch (...) {
    packet.failure = std::current_exception();
  }
  return packet;
}

int CommandExchange::ConversationOf(const std::shared_ptr<CardConnection>& connection) const {
  const int k = connection ? sessions_.SlotOf(*connection) : 0;
  // One slot: every frame talks to it, whichever connection it came on.
  return k == 0 && sessions_.MaxCards() == 1 ? 1 : k;
}

bool CommandExchange::HandleControllerPacket(const ReceivedPacket& packet,
                                             const std::shared_ptr<CardConnection>& connection) {
  bool waiting = false;
  try {
    // A parse failure is reported here, as any other failure of the packet.
    if (packet.failure) std::rethrow_exception(packet.failure);
    const nlohmann::json& root = packet.root;
    const std::string name = UpperAscii(JsonText(root, "name"));
    if (name == "LOGIN") {
      waiting = sessions_.HandleLogin(JsonObject(root, "input"), connection);
    } else if (const int k = ConversationOf(connection); k > 0) {
      Dispatch(Conversation(k), name, root, connection);
    } else if (name != "HEARTBEAT") {
      // Several slots, and this connection holds none of them: no card's conversation.
      log_.AppendLog(kLogError, Format(Gbk<"应答并非来自当前控制卡的连接 (%s), 已忽略">(),
                                       {connection ? connection->PeerAddress() : std::string()}));
    }
  } catch (const PacketError& e) {
    log_.AppendLog(kLogError, Format(PacketErrorPattern(), {CutForLog(e.what())}));  // already GBK
  } catch (const std::exception& e) {
    // The library's description may quote a long piece of the text.
    log_.AppendLog(kLogError, Format(PacketErrorPattern(), {CutForLog(Utf8ToGbkLenient(e.what()))}));
  }
  // Whatever the frame held, it shows when the card last spoke.
  if (connection) sessions_.NoteMessage(*connection);
  return waiting;
}

bool CommandExchange::FromDeliveryCard(const ExchangeState& state,
                                       const std::shared_ptr<CardConnection>& connection) const {
  // Before the slot's first delivery no answer drives anything: every send goes to slot 0.
  if (state.deliverySlot == 0) return true;
  return FromDeliverySlot(state, connection);
}

void CommandExchange::Dispatch(ExchangeState& state, const std::string& name, const nlohmann::json& root,
                               const std::shared_ptr<CardConnection>& connection) {
  if (name != "HEARTBEAT" && !FromDeliveryCard(state, connection)) {
    // Only the card the conversation talks to drives it; another device's answer is not its.
    log_.AppendLog(kLogError, Format(Gbk<"应答并非来自当前控制卡的连接 (%s), 已忽略">(),
                                     {connection ? connection->PeerAddress() : std::string()}));
    return;
  }
  // Every progress answer, a failing one too, answers one query; one due to a query sent
  // before the watched delivery's download was answered is about an earlier download.
  bool earlier = false;
  if (name == "QUERYDOWNLOADPROGRESS") {
    state.progressQueriesOut = std::max(0, state.progressQueriesOut - 1);
    earlier = state.earlierProgressAnswers > 0;
    if (earlier) --state.earlierProgressAnswers;
  }
  // A failure the card reports ends the chain here: nothing further is sent for it.
  if (CardReportedFailure(state, name, root, connection, earlier)) return;
  if (name == "HEARTBEAT") {
    // Each flag is used up by its heartbeat whether or not a card gets the command.
    if (state.pendingDiskQuery) {
      state.pendingDiskQuery = false;
      Send(state, kDiskQueryCommand);
    } else if (state.pendingStopPlay) {
      state.pendingStopPlay = false;
      Send(state, kStopPlayCommand);
    }
  } else if (name == "DOWNLOADFILEFROMURL") {
    const nlohmann::json& output = JsonObject(root, "output");
    state.downloadId = output.contains("id") ? JsonText(output, "id") : std::string();
    if (state.watchedDownloadSent && !state.watchedDownloadAnswered) {
      state.watchedDownloadAnswered = true;
      state.earlierProgressAnswers = state.progressQueriesOut;
    }
    LogProgress(state, Gbk<"标签: %s, 名称: %s, 下载ID: %s, 正在发送...">(), state.downloadId);
    SendProgressQuery(state);
  } else if (name == "QUERYDOWNLOADPROGRESS") {
    const nlohmann::json& output = JsonObject(root, "output");
    state.downloadStatus = UpperAscii(output.contains("status") ? JsonText(output, "status") : std::string());
    if (state.downloadStatus == "COMPLETE") {
      // No play command is stored before a delivery, nor after one failed by a takeover.
      if (state.playCommand.empty()) return;
      LogProgress(state, Gbk<"标签: %s, 名称: %s, 下载完毕, 正在发送播放指令...">());
      Send(state, state.playCommand);
      if (state.deliveryWatched && state.watchedRoute == DeliveryRoute::kProgram &&
          state.watchedDownloadAnswered && !earlier)
        state.watchedPlaySent = true;
    } else if (state.downloadStatus == "WAITING" || state.downloadStatus == "DOWNLOADING") {
      LogProgress(state, Gbk<"标签: %s, 名称: %s, 下载状态: %s, 正在发送...">(), state.downloadStatus);
      SendProgressQuery(state);
    } else {
      // Any other status ends the chain, and the delivery with it.
      LogFailure(state, Gbk<"标签: %s, 名称: %s, 下载状态: %s, 发送失败.">(), state.downloadStatus);
      if (state.watchedRoute == DeliveryRoute::kProgram && !earlier)
        EndDelivery(state, DeliveryOutcome::kFailed);
    }
  } else if (name == "STOPPLAY") {
    LogProgress(state, Gbk<"标签: %s, 名称: %s, 提交删除节目...">());
    Send(state, kClearAllProgramCommand);
  } else if (name == "CLEARALLPROGRAM") {
    LogProgress(state, Gbk<"标签: %s, 名称: %s, 提交清除素材...">());
    Send(state, kClearUselessMaterialCommand);
  } else if (name == "CLEARUSELESSMATERIAL") {
    Send(state, kDiskQueryCommand);
  } else if (name == "PLAY") {
    LogProgress(state, Gbk<"标签: %s, 名称: %s, 发送成功.">());
    if (state.watchedRoute == DeliveryRoute::kProgram && state.watchedPlaySent &&
        FromDeliverySlot(state, connection)) {
      EndDelivery(state, DeliveryOutcome::kSucceeded);
    }
  } else if (name == "UPDATEDYNAMIC") {
    // Only its "收到:" line; the answer completes a dynamic-area delivery.
    if (state.watchedRoute == DeliveryRoute::kDynamic && FromDeliverySlot(state, connection)) {
      EndDelivery(state, DeliveryOutcome::kSucceeded);
    }
  } else if (name == "QUERYDISK") {
    // The disk query that follows a program delivery's clean-up is where its download
    // command goes out, once, and only when the answer comes from the slot's card.
    if (state.downloadPending && FromDeliverySlot(state, connection)) {
      state.downloadPending = false;
      LogProgress(state, Gbk<"标签: %s, 名称: %s, 正在发送下载指令...">());
      Send(state, state.downloadCommand);
      if (state.deliveryWatched && state.watchedRoute == DeliveryRoute::kProgram)
        state.watchedDownloadSent = true;
    }
  }
}

}  // namespace aqled
