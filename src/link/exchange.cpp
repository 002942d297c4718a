#include "link/exchange.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "link/log_limit.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {
const std::string& PacketErrorPattern() {
  static const std::string text = Utf8ToGbk("错误,处理数据包时出错: %s");
  return text;
}

// Lines of a delivery that ends badly, GBK, converted once from the UTF-8 source.
const std::string& FailedStatusPattern() {
  static const std::string text = Utf8ToGbk("标签: %s, 名称: %s, 下载状态: %s, 发送失败.");
  return text;
}
const std::string& ConnectionLostPattern() {
  static const std::string text = Utf8ToGbk("标签: %s, 名称: %s, 发送中连接断开, 发送失败.");
  return text;
}
const std::string& ProgramStalledPattern() {
  static const std::string text = Utf8ToGbk("标签: %s, 名称: %s, %d 分钟内未完成节目发送, 发送失败.");
  return text;
}
const std::string& DynamicStalledPattern() {
  static const std::string text = Utf8ToGbk("标签: %s, 名称: %s, %d 分钟内未收到动态区应答, 发送失败.");
  return text;
}
const std::string& CardFailurePattern() {
  static const std::string text = Utf8ToGbk("标签: %s, 名称: %s, %s 失败: result=%s, message=%s, 发送失败.");
  return text;
}
const std::string& ReplacedPattern() {
  static const std::string text = Utf8ToGbk("标签: %s, 名称: %s, 发送中控制卡的连接被新连接取代, 发送失败.");
  return text;
}

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

void CommandExchange::ArmCardReset() {
  state_.pendingDiskQuery = true;
  state_.pendingStopPlay = true;
}

void CommandExchange::BeginDelivery() {
  state_.deliverySlot = 1;
  state_.pendingDiskQuery = false;
  state_.pendingStopPlay = false;
  state_.downloadPending = false;
  // A delivery still awaited is replaced by this one; it ends without an outcome.
  state_.deliveryWatched = false;
}

void CommandExchange::WatchDelivery(DeliveryRoute route, const QDateTime& started) {
  state_.deliveryWatched = true;
  state_.watchedRoute = route;
  state_.watchStarted = started;
  state_.watchedPlaySent = false;
}

bool CommandExchange::CheckDeliveryDeadline(const QDateTime& now) {
  if (!state_.deliveryWatched) return false;
  const bool program = state_.watchedRoute == DeliveryRoute::kProgram;
  const qint64 limit = program ? kProgramDeliveryLimitMs : kDynamicDeliveryLimitMs;
  if (state_.watchStarted.msecsTo(now) < limit) return false;
  const Client_record& slot = sessions_.Slot(state_.deliverySlot);
  log_.AppendLog(kLogError, Format(program ? ProgramStalledPattern() : DynamicStalledPattern(),
                                   {slot.barcode, slot.controllerName, limit / 60000}));
  EndDelivery(DeliveryOutcome::kStalled);
  return true;
}

void CommandExchange::SlotClosed(int k) {
  if (!state_.deliveryWatched || k != state_.deliverySlot) return;
  LogFailure(ConnectionLostPattern());
  EndDelivery(DeliveryOutcome::kFailed);
}

void CommandExchange::SlotReplaced(int k) {
  if (!state_.deliveryWatched || k != state_.deliverySlot) return;
  LogFailure(ReplacedPattern());
  // The new connection's answers must not carry the failed delivery on to a play.
  state_.downloadPending = false;
  state_.playCommand.clear();
  EndDelivery(DeliveryOutcome::kFailed);
}

bool CommandExchange::CardReportedFailure(const std::string& name, const nlohmann::json& root,
                                          const std::shared_ptr<CardConnection>& connection) {
  std::string_view command;
  for (const auto& [upper, shown] : kDeliveryCommands) {
    if (name == upper) command = shown;
  }
  if (command.empty()) return false;
  const std::optional<std::string> result = OutputValue(root, "result");
  if (!result || UpperAscii(*result) == "OK") return false;
  std::optional<std::string> message = OutputValue(root, "message");
  if (!message) message = OutputValue(root, "reason");
  const Client_record& slot = sessions_.Slot(state_.deliverySlot);
  log_.AppendLog(kLogError,
                 Format(CardFailurePattern(), {slot.barcode, slot.controllerName, command, CutForLog(*result),
                                               CutForLog(message.value_or(""))}));
  if (!FromDeliverySlot(connection)) return true;
  if (name == "UPDATEDYNAMIC") {
    if (state_.watchedRoute == DeliveryRoute::kDynamic) EndDelivery(DeliveryOutcome::kFailed);
    return true;
  }
  if (state_.watchedRoute != DeliveryRoute::kProgram) return true;
  // A play answer counts only for the delivery's own play command; the chain's other answers
  // end it wherever they come.
  if (name == "PLAY" && !state_.watchedPlaySent) return true;
  state_.downloadPending = false;
  EndDelivery(DeliveryOutcome::kFailed);
  return true;
}

void CommandExchange::EndDelivery(DeliveryOutcome outcome) {
  if (!state_.deliveryWatched) return;
  state_.deliveryWatched = false;
  if (deliveryEnded_) deliveryEnded_(outcome);
}

bool CommandExchange::FromDeliverySlot(const std::shared_ptr<CardConnection>& connection) const {
  const auto slotConnection = sessions_.Slot(state_.deliverySlot).connection.lock();
  return slotConnection && slotConnection == connection;
}

void CommandExchange::StoreProgramCommands(std::string downloadCommand, std::string playCommand) {
  state_.downloadCommand = std::move(downloadCommand);
  state_.playCommand = std::move(playCommand);
  state_.downloadPending = true;
}

void CommandExchange::StoreDynamicCommand(std::string dynamicCommand) {
  state_.dynamicCommand = std::move(dynamicCommand);
}

void CommandExchange::LogProgress(std::string_view pattern, std::string_view third) {
  const Client_record& slot = sessions_.Slot(state_.deliverySlot);
  log_.AppendLog(kLogSent, Format(pattern, {slot.barcode, slot.controllerName, third}));
}

void CommandExchange::LogFailure(std::string_view pattern, std::string_view third) {
  const Client_record& slot = sessions_.Slot(state_.deliverySlot);
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
    } else {
      Dispatch(name, root, connection);
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

bool CommandExchange::FromDeliveryCard(const std::shared_ptr<CardConnection>& connection) const {
  // Before the first delivery no answer drives anything: every send goes to slot 0.
  if (state_.deliverySlot == 0) return true;
  const auto slotConnection = sessions_.Slot(state_.deliverySlot).connection.lock();
  return slotConnection && slotConnection == connection;
}

void CommandExchange::Dispatch(const std::string& name, const nlohmann::json& root,
                               const std::shared_ptr<CardConnection>& connection) {
  if (name != "HEARTBEAT" && !FromDeliveryCard(connection)) {
    // Only the card the exchange talks to drives it; another device's answer is not its.
    log_.AppendLog(kLogError, Format(Utf8ToGbk("应答并非来自当前控制卡的连接 (%s), 已忽略"),
                                     {connection ? connection->PeerAddress() : std::string()}));
    return;
  }
  // A failure the card reports ends the chain here: nothing further is sent for it.
  if (CardReportedFailure(name, root, connection)) return;
  if (name == "HEARTBEAT") {
    // Each flag is used up by its heartbeat whether or not a card gets the command.
    if (state_.pendingDiskQuery) {
      state_.pendingDiskQuery = false;
      Send(kDiskQueryCommand);
    } else if (state_.pendingStopPlay) {
      state_.pendingStopPlay = false;
      Send(kStopPlayCommand);
    }
  } else if (name == "DOWNLOADFILEFROMURL") {
    const nlohmann::json& output = JsonObject(root, "output");
    state_.downloadId = output.contains("id") ? JsonText(output, "id") : std::string();
    LogProgress(Utf8ToGbk("标签: %s, 名称: %s, 下载ID: %s, 正在发送..."), state_.downloadId);
    Send(Format(kProgressQueryPattern, {state_.downloadId}));
  } else if (name == "QUERYDOWNLOADPROGRESS") {
    const nlohmann::json& output = JsonObject(root, "output");
    state_.downloadStatus =
        UpperAscii(output.contains("status") ? JsonText(output, "status") : std::string());
    if (state_.downloadStatus == "COMPLETE") {
      // No play command is stored before a delivery, nor after one failed by a takeover.
      if (state_.playCommand.empty()) return;
      LogProgress(Utf8ToGbk("标签: %s, 名称: %s, 下载完毕, 正在发送播放指令..."));
      Send(state_.playCommand);
      if (state_.deliveryWatched && state_.watchedRoute == DeliveryRoute::kProgram)
        state_.watchedPlaySent = true;
    } else if (state_.downloadStatus == "WAITING" || state_.downloadStatus == "DOWNLOADING") {
      LogProgress(Utf8ToGbk("标签: %s, 名称: %s, 下载状态: %s, 正在发送..."), state_.downloadStatus);
      Send(Format(kProgressQueryPattern, {state_.downloadId}));
    } else {
      // Any other status ends the chain, and the delivery with it.
      LogFailure(FailedStatusPattern(), state_.downloadStatus);
      if (state_.watchedRoute == DeliveryRoute::kProgram) EndDelivery(DeliveryOutcome::kFailed);
    }
  } else if (name == "STOPPLAY") {
    LogProgress(Utf8ToGbk("标签: %s, 名称: %s, 提交删除节目..."));
    Send(kClearAllProgramCommand);
  } else if (name == "CLEARALLPROGRAM") {
    LogProgress(Utf8ToGbk("标签: %s, 名称: %s, 提交清除素材..."));
    Send(kClearUselessMaterialCommand);
  } else if (name == "CLEARUSELESSMATERIAL") {
    Send(kDiskQueryCommand);
  } else if (name == "PLAY") {
    LogProgress(Utf8ToGbk("标签: %s, 名称: %s, 发送成功."));
    if (state_.watchedRoute == DeliveryRoute::kProgram && state_.watchedPlaySent &&
        FromDeliverySlot(connection)) {
      EndDelivery(DeliveryOutcome::kSucceeded);
    }
  } else if (name == "UPDATEDYNAMIC") {
    // Only its "收到:" line; the answer completes a dynamic-area delivery.
    if (state_.watchedRoute == DeliveryRoute::kDynamic && FromDeliverySlot(connection)) {
      EndDelivery(DeliveryOutcome::kSucceeded);
    }
  } else if (name == "QUERYDISK") {
    // The disk query that follows a program delivery's clean-up is where its download
    // command goes out, once, and only when the answer comes from the delivery slot's card.
    const auto slotConnection = sessions_.Slot(state_.deliverySlot).connection.lock();
    if (state_.downloadPending && slotConnection && slotConnection == connection) {
      state_.downloadPending = false;
      LogProgress(Utf8ToGbk("标签: %s, 名称: %s, 正在发送下载指令..."));
      Send(state_.downloadCommand);
    }
  }
}

}  // namespace aqled
