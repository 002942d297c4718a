#pragma once
// The session table: which controller card sits on which connection, the card's login with
// its Login answer, closing connections, and SendToSlot, the one way a command reaches a card.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/limits.h"
#include "logging/operation_log.h"
#include "text/datetime.h"

namespace aqled {

// A failure while handling one packet; what() is the GBK description for the error line.
class PacketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One controller connection as the session table sees it. The server owns every connection;
// slots hold them weakly, so a connection that has gone is never written to.
class CardConnection {
 public:
  virtual ~CardConnection() = default;
  // The operating system's handle, taken when the connection opened; greater than 0.
  virtual std::int32_t Handle() const = 0;
  // The peer's IPv4 address in dotted decimal.
  virtual std::string PeerAddress() const = 0;
  // False once the connection has closed or failed; nothing is written to it then.
  virtual bool IsOpen() const = 0;
  // Hands the bytes to the connection in one write; false when the connection refuses them.
  virtual bool Write(std::string_view bytes) = 0;
  // Closes the connection at once; the server then handles it as a closing connection.
  virtual void Abort() = 0;
};

// The Login answer, sent with frameKind 1.
inline constexpr std::string_view kLoginAnswer =
    R"({"name":"Login","output":{"action":"auth","delay":"30"}})";
// The card expects its Login answer only after this pause; the pause is a timer, and the
// frames its connection sends meanwhile wait for the answer.
inline constexpr int kLoginAnswerWaitMs = 800;

// One connected or once-connected controller card.
struct Client_record {
  std::int32_t socketHandle = 0;  // > 0 while the card counts as connected
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::weak_ptr<CardConnection> connection;  // where the card last logged in
  std::string remoteAddress;                 // dotted decimal, taken at login
  std::string barcode;                       // GBK; the log calls it 标签
  std::string controllerName;                // GBK; the log calls it 名称
  std::string pictureList;                   // the PictureList of the last delivery to the slot
  QDateTime lastMessage;                     // when the slot's card last sent a frame; null before
};

// The first JSON value of a UTF-8 text; whatever follows it is ignored. Throws PacketError
// when arrays and objects nest deeper than kMaxJsonDepth (found before any of it is built),
// and the JSON library's error for text that is not JSON.
nlohmann::json ParsePacket(std::string_view utf8);

// Reading values of a packet (`object` is a JSON object; keys are matched exactly):
// a text value as GBK text, a number as its JSON text, null as empty. Throws PacketError
// naming the key when it is missing, or when the value is a boolean, an array or an object.
std::string JsonText(const nlohmann::json& object, std::string_view key);
// An integer: a JSON number (a fraction goes to the nearest whole number) or a text holding a
// whole decimal number; anything else, or a value outside 32 bits, is 0. Throws PacketError
// naming the key when it is missing.
std::int32_t JsonInt(const nlohmann::json& object, std::string_view key);
// The object under `key`; throws PacketError when it is missing or not an object.
const nlohmann::json& JsonObject(const nlohmann::json& object, std::string_view key);

class SessionTable {
 public:
  // The log is borrowed and must outlive the table.
  // The clock, when given, stamps each slot's lastMessage; both are borrowed.
  explicit SessionTable(LogSink& log, const Clock* clock = nullptr) : log_(log), clock_(clock) {}

  // Which cards the table takes, set before the first login (config.ini Set/Cards and
  // Set/MaxCards): only the listed barcodes (GBK, exact, with case; an empty list lets any card
  // in), in at most maxCards slots, taken within 1..kMaxCards. Until then: any card, one slot.
  void SetCards(std::vector<std::string> barcodes, int maxCards);
  // The number of slots the table holds.
  int MaxCards() const { return maxCards_; }

  // The number of assigned slots (0 to MaxCards); slots 1 to slotCount are assigned.
  int slotCount() const { return slotCount_; }
  // Slot k for k in 1..MaxCards; any other number gives an empty record.
  const Client_record& Slot(int k) const;
  // True when slot k exists and its socketHandle is greater than 0.
  bool SlotConnected(int k) const;
  // The slot whose current connection this is (the card logged in on it last), or 0.
  int SlotOf(const CardConnection& connection) const;
  // Replaces the pictureList of slot k; nothing happens for a number that names no slot.
  void SetPictureList(int k, std::string gbkList);
  // A frame came on `connection`: the slot whose connection it is records the clock's time
  // as its lastMessage. Frames on other connections change nothing.
  void NoteMessage(const CardConnection& connection);

  // A login: every field is read first, and a login lacking one, or with a barcode or name
  // that is not a text of at most kMaxIdentityLength bytes, throws PacketError and changes
  // nothing. A barcode off a non-empty list is refused: no slot, nothing due, false, and a
  // kind-1 line once per barcode and connection (at most kMaxRefusedBarcodesPerConnection of
  // them). Otherwise the barcode is matched (exact, with case) to a slot, or given the next free
  // slot, or, with every slot assigned, a slot that no barcode has claimed (an empty one); the
  // slot line is logged and true returned: the Login answer is due on this connection after
  // kLoginAnswerWaitMs (SendLoginAnswer). An unknown barcode while every slot belongs to a
  // card is refused with a kind-1 line and false: nothing is due. So is another barcode on a
  // connection whose slot has one ("[标签:B] [拒绝链接] 此连接已登录为 A, 不回复登录"): a connection
  // holds one slot at most, and one it took with an empty barcode is let go for the new one.
  bool HandleLogin(const nlohmann::json& input, const std::shared_ptr<CardConnection>& connection);

  // The wait of the login on `connection` is over: logs the answer line and sends the Login
  // answer to the slot, then the frames SendToSlot held for the slot meanwhile, in order.
  // Nothing happens when no answer is due on that connection (a newer login took the slot).
  void SendLoginAnswer(const CardConnection& connection);

  // A connection has closed (in order or with an error): when it is a slot's connection, the
  // slot is marked disconnected with the kind-1 "客户端:" line and the close handler is told.
  // Returns that slot, or 0.
  int HandleClose(const CardConnection& connection);
  // Called with the slot's number after a slot's connection has closed.
  void SetCloseHandler(std::function<void(int slot)> handler) { closeHandler_ = std::move(handler); }
  // Called, after the login's line, when a login took slot k over from another connection that
  // had not closed (a card that logs in again on a new connection, or a device with its barcode);
  // `previous` is the connection that lost the slot.
  void SetReplaceHandler(
      std::function<void(int slot, const std::shared_ptr<CardConnection>& previous)> handler) {
    replaceHandler_ = std::move(handler);
  }

  // Sends the GBK text as a frame to slot k's connection and logs "发送:" + text (kind 2).
  // Nothing is written or logged when k names no slot or the slot's connection has closed.
  // While the slot's Login answer is due the frame is held and goes out after the answer.
  void SendToSlot(int k, std::string_view gbkText, int kind);

  // Sends the GBK text as a frame on a connection; the same rules as SendToSlot.
  void SendFrame(const std::shared_ptr<CardConnection>& connection, std::string_view gbkText, int kind);

 private:
  // A slot's Login answer that is due, and the frames held until it has gone.
  struct DueAnswer {
    bool pending = false;
    std::weak_ptr<CardConnection> connection;  // where the answer goes
    std::vector<std::pair<std::string, int>> held;
  };
  // The slot whose Login answer is due on this connection, or 0.
  int DueOn(const CardConnection& connection) const;

  void FillFromLogin(Client_record& slot, const std::string& controllerName, std::int32_t width,
                     std::int32_t height, const std::shared_ptr<CardConnection>& connection);

  // A login whose barcode is off the list: its line, unless this connection has had it.
  void RefuseUnlisted(const std::string& barcode, const std::shared_ptr<CardConnection>& connection);

  LogSink& log_;
  const Clock* clock_;
  std::vector<std::string> cards_;  // the barcodes that may log in; empty: any
  int maxCards_ = 1;
  Client_record slots_[kMaxCards];
  DueAnswer due_[kMaxCards];
  int slotCount_ = 0;
  // The unlisted barcodes each open connection has been refused with a line.
  std::map<std::weak_ptr<CardConnection>, std::vector<std::string>, std::owner_less<>> refused_;
  std::function<void(int)> closeHandler_;
  std::function<void(int, const std::shared_ptr<CardConnection>&)> replaceHandler_;
};

}  // namespace aqled
