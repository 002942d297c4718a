#include "link/session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "link/frame.h"
#include "link/limits.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

std::string KeyText(std::string_view key) { return Utf8ToGbkLenient(key); }

const nlohmann::json& Member(const nlohmann::json& object, std::string_view key) {
  if (object.is_object()) {
    const auto it = object.find(std::string(key));
    if (it != object.end()) return *it;
  }
  throw PacketError(Format(Gbk<"缺少字段 \"%s\"">(), {KeyText(key)}));
}

// Builds the document through the JSON library's public event interface, counting open arrays
// and objects: one level too deep ends the parse before the value is built, so nothing later
// recurses through it. (The library's parse callback sees the depth as well, but its parse
// insists that nothing follows the value, and a packet's first value is taken whatever follows.)
class DepthLimitedBuilder final : public nlohmann::json_sax<nlohmann::json> {
 public:
  using Json = nlohmann::json;
  explicit DepthLimitedBuilder(Json& root) : root_(root) {}

  bool null() override { return Put(nullptr); }
  bool boolean(bool v) override { return Put(v); }
  bool number_integer(number_integer_t v) override { return Put(v); }
  bool number_unsigned(number_unsigned_t v) override { return Put(v); }
  bool number_float(number_float_t v, const string_t&) override { return Put(v); }
  bool string(string_t& v) override { return Put(std::move(v)); }
  bool binary(binary_t& v) override { return Put(Json::binary(std::move(v))); }
  bool start_object(std::size_t) override { return Open(Json::object()); }
  bool key(string_t& v) override {
    key_ = std::move(v);
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(Json::array()); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const Json::exception& e) override {
    // Thrown as the library's own parse throws it: by its kind.
    switch (e.id / 100) {
      case 1:
        throw static_cast<const Json::parse_error&>(e);
      case 2:
        throw static_cast<const Json::invalid_iterator&>(e);
      case 3:
        throw static_cast<const Json::type_error&>(e);
      case 4:
        throw static_cast<const Json::out_of_range&>(e);
      default:
        throw static_cast<const Json::other_error&>(e);
    }
  }

 private:
  // Places a value in the innermost open array or object (under the last key), or as the root.
  Json* Place(Json value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    Json& member = parent[key_];
    member = std::move(value);
    return &member;
  }
  bool Put(Json value) {
    Place(std::move(value));
    return true;
  }
  bool Open(Json container) {
    if (open_.size() >= static_cast<std::size_t>(kMaxJsonDepth))
      throw PacketError(Format(Gbk<"JSON 嵌套超过 %d 层">(), {kMaxJsonDepth}));
    open_.push_back(Place(std::move(container)));
    return true;
  }
  bool Close() {
    open_.pop_back();
    return true;
  }

  Json& root_;
  std::vector<Json*> open_;  // the open arrays and objects, outermost first
  std::string key_;
};

// A text field of a login: a text of at most kMaxIdentityLength bytes.
std::string IdentityText(const nlohmann::json& input, std::string_view key) {
  std::string text = JsonText(input, key);
  if (text.size() > kMaxIdentityLength) {
    throw PacketError(
        Format(Gbk<"字段 \"%s\" 过长: %d 字节">(), {KeyText(key), static_cast<long long>(text.size())}));
  }
  return text;
}

}  // namespace

nlohmann::json ParsePacket(std::string_view utf8) {
  nlohmann::json root;
  DepthLimitedBuilder builder(root);
  // Not strict: the first complete value is taken and whatever follows it is left.
  nlohmann::json::sax_parse(utf8.begin(), utf8.end(), &builder, nlohmann::json::input_format_t::json, false);
  return root;
}

std::string JsonText(const nlohmann::json& object, std::string_view key) {
  const nlohmann::json& v = Member(object, key);
  if (v.is_string()) return Utf8ToGbkLenient(v.get_ref<const std::string&>());
  if (v.is_null()) return {};
  // A number's JSON text is short; anything else is not taken as text.
  if (v.is_number()) return v.dump();
  throw PacketError(Format(Gbk<"字段 \"%s\" 不是文本或数字">(), {KeyText(key)}));
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
  if (!v.is_object()) throw PacketError(Format(Gbk<"\"%s\" 不是对象">(), {KeyText(key)}));
  return v;
}

void SessionTable::SetCards(std::vector<std::string> barcodes, int maxCards) {
  cards_ = std::move(barcodes);
  maxCards_ = std::clamp(maxCards, 1, kMaxCards);
}

const Client_record& SessionTable::Slot(int k) const {
  static const Client_record kNone;
  return k >= 1 && k <= maxCards_ ? slots_[k - 1] : kNone;
}

bool SessionTable::SlotConnected(int k) const { return Slot(k).socketHandle > 0; }

void SessionTable::SetPictureList(int k, std::string gbkList) {
  if (k >= 1 && k <= maxCards_) slots_[k - 1].pictureList = std::move(gbkList);
}

int SessionTable::SlotOf(const CardConnection& connection) const {
  for (int k = 1; k <= maxCards_; ++k) {
    if (slots_[k - 1].connection.lock().get() == &connection) return k;
  }
  return 0;
}

int SessionTable::DueOn(const CardConnection& connection) const {
  for (int k = 1; k <= maxCards_; ++k) {
    const DueAnswer& due = due_[k - 1];
    if (due.pending && due.connection.lock().get() == &connection) return k;
  }
  return 0;
}

void SessionTable::NoteMessage(const CardConnection& connection) {
  if (clock_ == nullptr) return;
  for (int k = 1; k <= maxCards_; ++k) {
    Client_record& slot = slots_[k - 1];
    if (slot.connection.lock().get() == &connection) slot.lastMessage = clock_->Now();
  }
}

void SessionTable::FillFromLogin(Client_record& slot, const std::string& controllerName, std::int32_t width,
                                 std::int32_t height, const std::shared_ptr<CardConnection>& connection) {
  slot.controllerName = controllerName;
  slot.width = width;
  slot.height = height;
  slot.socketHandle = connection->Handle();
  slot.connection = connection;
  slot.remoteAddress = connection->PeerAddress();
}

bool SessionTable::HandleLogin(const nlohmann::json& input,
                               const std::shared_ptr<CardConnection>& connection) {
  // Every field is read before anything changes: a malformed login takes no slot.
  const std::string barcode = IdentityText(input, "barcode");
  const std::string controllerName = IdentityText(input, "controllername");
  const std::int32_t width = JsonInt(input, "width");
  const std::int32_t height = JsonInt(input, "height");
  if (!cards_.empty() && std::find(cards_.begin(), cards_.end(), barcode) == cards_.end()) {
    RefuseUnlisted(barcode, connection);
    return false;
  }
  // A connection is one card: it takes no second slot under another barcode. A slot it took
  // with an empty barcode belongs to no card, and is let go for the card's own.
  if (const int held = SlotOf(*connection); held > 0 && slots_[held - 1].barcode != barcode) {
    Client_record& slot = slots_[held - 1];
    if (!slot.barcode.empty()) {
      log_.AppendLog(kLogError, Format(Gbk<"[标签:%s] [拒绝链接] 此连接已登录为 %s, 不回复登录">(),
                                       {barcode, slot.barcode}));
      return false;
    }
    slot.socketHandle = 0;
    slot.connection.reset();
    if (DueOn(*connection) == held) due_[held - 1] = DueAnswer();
  }
  // The assigned slots and the next free one, whose barcode is still empty.
  int k = 0;
  for (int i = 1; i <= std::min(slotCount_ + 1, maxCards_); ++i) {
    if (slots_[i - 1].barcode == barcode) {
      k = i;
      break;
    }
  }
  std::shared_ptr<CardConnection> replaced;
  if (k > 0) {
    const std::shared_ptr<CardConnection> previous = slots_[k - 1].connection.lock();
    if (previous && previous != connection && slots_[k - 1].socketHandle > 0) replaced = previous;
    FillFromLogin(slots_[k - 1], controllerName, width, height, connection);
    log_.AppendLog(kLogSent,
                   Gbk<"[标签:">() + barcode + Gbk<"] [匹配链接] [序列:">() + std::to_string(k) + "]");
    slotCount_ = std::max(slotCount_, k);
  } else {
    if (slotCount_ < maxCards_) {
      k = ++slotCount_;
    } else {
      // A slot that a login with an empty barcode matched belongs to no card: the first card
      // with a barcode takes it, so that such a login cannot lock the real card out.
      for (int i = 1; i <= slotCount_ && k == 0; ++i) {
        if (slots_[i - 1].barcode.empty()) k = i;
      }
    }
    if (k == 0) {
      // Every slot belongs to another card. Answering would send another card's Login answer
      // to the slot's card, so nothing is sent to anyone.
      log_.AppendLog(kLogError, Format(Gbk<"[标签:%s] [拒绝链接] 会话表已满, 不回复登录">(), {barcode}));
      return false;
    }
    Client_record& slot = slots_[k - 1];
    const std::shared_ptr<CardConnection> previous = slot.connection.lock();
    if (previous && previous != connection && slot.socketHandle > 0) replaced = previous;
    FillFromLogin(slot, controllerName, width, height, connection);
    slot.barcode = barcode;
    slot.pictureList.clear();
    log_.AppendLog(kLogSent,
                   Gbk<"[标签:">() + barcode + Gbk<"] [新建链接] [序列:">() + std::to_string(k) + "]");
  }
  // The answer is due after the pause; frames held for the slot (by a newer login too) wait
  // for it.
  due_[k - 1].pending = true;
  due_[k - 1].connection = connection;
  if (replaced && replaceHandler_) replaceHandler_(k, replaced);
  return true;
}

void SessionTable::RefuseUnlisted(const std::string& barcode,
                                  const std::shared_ptr<CardConnection>& connection) {
  // Connections that have gone take their record with them.
  std::erase_if(refused_, [](const auto& entry) { return entry.first.expired(); });
  std::vector<std::string>& logged = refused_[connection];
  if (std::find(logged.begin(), logged.end(), barcode) != logged.end()) return;
  if (logged.size() >= kMaxRefusedBarcodesPerConnection) return;
  logged.push_back(barcode);
  log_.AppendLog(kLogError, Format(Gbk<"[标签:%s] [拒绝链接] 不在控制卡名单中, 不回复登录">(), {barcode}));
}

void SessionTable::SendLoginAnswer(const CardConnection& connection) {
  const int k = DueOn(connection);
  if (k == 0) return;
  DueAnswer& due = due_[k - 1];
  due.pending = false;
  const std::vector<std::pair<std::string, int>> held = std::move(due.held);
  due.held.clear();
  const Client_record& slot = slots_[k - 1];
  log_.AppendLog(kLogSent,
                 Format(Gbk<"标签: %s, 名称: %s, 回复登录...">(), {slot.barcode, slot.controllerName}));
  SendToSlot(k, kLoginAnswer, kFrameKindLogin);
  for (const auto& [text, kind] : held) SendToSlot(k, text, kind);
}

int SessionTable::HandleClose(const CardConnection& connection) {
  std::erase_if(refused_, [&connection](const auto& entry) {
    const auto refusedOn = entry.first.lock();
    return !refusedOn || refusedOn.get() == &connection;
  });
  int closed = 0;
  for (int k = 1; k <= maxCards_; ++k) {
    Client_record& slot = slots_[k - 1];
    const auto current = slot.connection.lock();
    // A card that has already logged in again on a newer connection is not this one.
    if (current.get() != &connection || slot.socketHandle == 0) continue;
    slot.socketHandle = 0;
    // An answer due on the connection, and what waited for it, can go nowhere now.
    if (DueOn(connection) == k) due_[k - 1] = DueAnswer();
    log_.AppendLog(kLogError, Gbk<"客户端:">() + slot.barcode + Gbk<" 断开连接">());
    if (closeHandler_) closeHandler_(k);
    if (closed == 0) closed = k;
  }
  return closed;
}

void SessionTable::SendToSlot(int k, std::string_view gbkText, int kind) {
  if (k < 1 || k > maxCards_) return;
  const std::shared_ptr<CardConnection> connection = slots_[k - 1].connection.lock();
  DueAnswer& due = due_[k - 1];
  if (connection && due.pending && due.connection.lock() == connection) {
    // The card gets nothing before its Login answer.
    due.held.emplace_back(gbkText, kind);
    return;
  }
  SendFrame(connection, gbkText, kind);
}

void SessionTable::SendFrame(const std::shared_ptr<CardConnection>& connection, std::string_view gbkText,
                             int kind) {
  if (!connection || !connection->IsOpen()) return;
  const std::string frame = BuildFrame(kind, gbkText);
  if (frame.empty()) {
    log_.AppendLog(kLogError, Format(Gbk<"错误:发送帧过长, 已放弃: %d 字节">(),
                                     {static_cast<long long>(GbkToUtf8(gbkText).size())}));
    return;
  }
  const bool accepted = connection->Write(frame);
  log_.AppendLog(kLogSent, Gbk<"发送:">() + std::string(gbkText));
  if (!accepted) {
    // A connection that refuses data is closed and handled like any closing connection.
    connection->Abort();
    HandleClose(*connection);
  }
}

}  // namespace aqled
