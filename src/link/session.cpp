#include "link/session.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "link/frame.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

constexpr int kLoginAnswerWaitMs = 800;

std::string KeyText(std::string_view key) { return Utf8ToGbkLenient(key); }

const nlohmann::json& Member(const nlohmann::json& object, std::string_view key) {
  if (object.is_object()) {
    const auto it = object.find(std::string(key));
    if (it != object.end()) return *it;
  }
  // 缺少字段 "%s"
  throw PacketError(Format("\xC8\xB1\xC9\xD9\xD7\xD6\xB6\xCE \"%s\"", {KeyText(key)}));
}

}  // namespace

std::string JsonText(const nlohmann::json& object, std::string_view key) {
  const nlohmann::json& v = Member(object, key);
  if (v.is_string()) return Utf8ToGbkLenient(v.get_ref<const std::string&>());
  if (v.is_null()) return {};
  return Utf8ToGbkLenient(v.dump());
}

std::int32_t JsonInt(const nlohmann::json& object, std::string_view key) {
  const nlohmann::json& v = Member(object, key);
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  if (v.is_number_integer()) {
    if (v.is_number_unsigned()) {
      const auto u = v.get<std::uint64_t>();
      return u <= static_cast<std::uint64_t>(kMax) ? static_cast<std::int32_t>(u) : 0;
    }
    const auto i = v.get<std::int64_t>();
    return i >= kMin && i <= kMax ? static_cast<std::int32_t>(i) : 0;
  }
  if (v.is_number_float()) {
    const double d = std::round(v.get<double>());
    return std::isfinite(d) && d >= kMin && d <= kMax ? static_cast<std::int32_t>(d) : 0;
  }
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    const char* first = s.data();
    const char* last = s.data() + s.size();
    // One optional sign: "+" is skipped here, "-" is taken by from_chars, never both.
    if (first != last && *first == '+') {
      ++first;
      if (first != last && *first == '-') return 0;
    }
    std::int32_t out = 0;
    const auto [end, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && end == last && first != last ? out : 0;
  }
  return 0;
}

const nlohmann::json& JsonObject(const nlohmann::json& object, std::string_view key) {
  const nlohmann::json& v = Member(object, key);
  // "%s" 不是对象
  if (!v.is_object()) throw PacketError(Format("\"%s\" \xB2\xBB\xCA\xC7\xB6\xD4\xCF\xF3", {KeyText(key)}));
  return v;
}

const Client_record& SessionTable::Slot(int k) const {
  static const Client_record kNone;
  return k >= 1 && k <= kSlotCapacity ? slots_[k - 1] : kNone;
}

bool SessionTable::SlotConnected(int k) const { return Slot(k).socketHandle > 0; }

void SessionTable::SetPictureList(int k, std::string gbkList) {
  if (k >= 1 && k <= kSlotCapacity) slots_[k - 1].pictureList = std::move(gbkList);
}

void SessionTable::NoteMessage(const CardConnection& connection) {
  for (Client_record& slot : slots_) {
    if (slot.connection.lock().get() == &connection) slot.lastMessage = clock_.Now();
  }
}

void SessionTable::FillFromLogin(Client_record& slot, const nlohmann::json& input,
                                 const std::shared_ptr<CardConnection>& connection) {
  // Field by field, so that a login lacking a later field keeps the earlier ones.
  slot.controllerName = JsonText(input, "controllername");
  slot.width = JsonInt(input, "width");
  slot.height = JsonInt(input, "height");
  slot.socketHandle = connection->Handle();
  slot.connection = connection;
  slot.remoteAddress = connection->PeerAddress();
}

void SessionTable::HandleLogin(const nlohmann::json& input,
                               const std::shared_ptr<CardConnection>& connection) {
  const std::string barcode = JsonText(input, "barcode");
  int matched = 0;
  for (int k = 1; k <= kSlotCapacity; ++k) {
    if (slots_[k - 1].barcode == barcode) {
      matched = k;
      break;
    }
  }
  if (matched > 0) {
    FillFromLogin(slots_[matched - 1], input, connection);
    // [标签:  ] [匹配链接] [序列:
    log_.AppendLog(kLogSent, "[\xB1\xEA\xC7\xA9:" + barcode +
                                 "] [\xC6\xA5\xC5\xE4\xC1\xB4\xBD\xD3] [\xD0\xF2\xC1\xD0:" +
                                 std::to_string(matched) + "]");
    slotCount_ = matched;
  } else if (slotCount_ < kSlotCapacity) {
    ++slotCount_;
    Client_record& slot = slots_[slotCount_ - 1];
    FillFromLogin(slot, input, connection);
    slot.barcode = barcode;
    slot.pictureList.clear();
    // [标签:  ] [新建链接] [序列:
    log_.AppendLog(kLogSent, "[\xB1\xEA\xC7\xA9:" + barcode +
                                 "] [\xD0\xC2\xBD\xA8\xC1\xB4\xBD\xD3] [\xD0\xF2\xC1\xD0:" +
                                 std::to_string(slotCount_) + "]");
  } else {
    // The table is full and the card is not in it. Answering would send another card's
    // Login answer to the slot's card, so nothing is sent to anyone.
    // [标签:%s] [拒绝链接] 会话表已满, 不回复登录
    log_.AppendLog(kLogError, Format("[\xB1\xEA\xC7\xA9:%s] [\xBE\xDC\xBE\xF8\xC1\xB4\xBD\xD3] "
                                     "\xBB\xE1\xBB\xB0\xB1\xED\xD2\xD1\xC2\xFA, "
                                     "\xB2\xBB\xBB\xD8\xB8\xB4\xB5\xC7\xC2\xBC",
                                     {barcode}));
    return;
  }
  // The card expects its answer only after a pause; the wait holds the window's thread.
  clock_.Sleep(kLoginAnswerWaitMs);
  const Client_record& slot = Slot(slotCount_);
  // 标签: %s, 名称: %s, 回复登录...
  log_.AppendLog(kLogSent, Format("\xB1\xEA\xC7\xA9: %s, \xC3\xFB\xB3\xC6: %s, "
                                  "\xBB\xD8\xB8\xB4\xB5\xC7\xC2\xBC...",
                                  {slot.barcode, slot.controllerName}));
  SendToSlot(slotCount_, kLoginAnswer, kFrameKindLogin);
}

int SessionTable::HandleClose(const CardConnection& connection) {
  for (int k = 1; k <= kSlotCapacity; ++k) {
    Client_record& slot = slots_[k - 1];
    const auto current = slot.connection.lock();
    if (current.get() != &connection) continue;
    // A card that has already logged in again on a newer connection is not this one.
    if (slot.socketHandle == 0) return 0;
    slot.socketHandle = 0;
    // 客户端:  断开连接
    log_.AppendLog(kLogError,
                   "\xBF\xCD\xBB\xA7\xB6\xCB:" + slot.barcode + " \xB6\xCF\xBF\xAA\xC1\xAC\xBD\xD3");
    return k;
  }
  return 0;
}

void SessionTable::SendToSlot(int k, std::string_view gbkText, int kind) {
  if (k < 1 || k > kSlotCapacity) return;
  SendFrame(slots_[k - 1].connection.lock(), gbkText, kind);
}

void SessionTable::SendFrame(const std::shared_ptr<CardConnection>& connection, std::string_view gbkText,
                             int kind) {
  if (!connection || !connection->IsOpen()) return;
  const std::string frame = BuildFrame(kind, gbkText);
  if (frame.empty()) {
    // 错误:发送帧过长, 已放弃: %d 字节
    log_.AppendLog(kLogError, Format("\xB4\xED\xCE\xF3:\xB7\xA2\xCB\xCD\xD6\xA1\xB9\xFD\xB3\xA4, "
                                     "\xD2\xD1\xB7\xC5\xC6\xFA: %d \xD7\xD6\xBD\xDA",
                                     {static_cast<long long>(GbkToUtf8(gbkText).size())}));
    return;
  }
  const bool accepted = connection->Write(frame);
  // 发送:
  log_.AppendLog(kLogSent, "\xB7\xA2\xCB\xCD:" + std::string(gbkText));
  if (!accepted) {
    // A connection that refuses data is closed and handled like any closing connection.
    connection->Abort();
    HandleClose(*connection);
  }
}

}  // namespace aqled
