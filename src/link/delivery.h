#pragma once
// One delivery of the current picture list to the controller card in slot 1: the program
// route stages the pictures, writes ll.xml and pp.xml, stores the download and play commands
// and sends the clean-up command; the dynamic-area route stages the pictures and sends one
// UpdateDynamic command. The card's answers drive the rest (CommandExchange).

#include <QSize>
#include <string>
#include <string_view>

#include "link/controller_link.h"
#include "logging/operation_log.h"
#include "text/datetime.h"

namespace aqled {

// The clean-up command a delivery sends first; unlike the exchange's form it has no blank
// after the colon (31 bytes).
inline constexpr std::string_view kDeliveryCleanUpCommand = R"({"name":"clearuselessmaterial"})";

// The values of config.ini a delivery reads (GBK texts).
struct DeliverySettings {
  std::string FileBaseDir;    // ShareFolder
  std::string HttpBaseDir;    // the address under which ShareFolder is published
  std::string pictureFolder;  // where the application draws its pictures: staged by link
  int sendkind = 1;           // 1: program route; any other value: dynamic-area route
  int stuntType = 0;          // effect, speed and display time of every dynamic-area picture
  int stuntSpeed = 16;
  int stayTime = 10;
  // The area the pictures were drawn at: ll.xml, pp.xml and the dynamic area carry it, so the
  // card is told the size its pictures have. Empty: the size the card reported at login.
  QSize area;
};

// How far a delivery got inside DeliverProgram.
enum class DeliveryStart {
  kNoCard,  // no card connected in slot 1: nothing staged, sent or logged
  kFailed,  // a step failed (its error line is logged) or the card went while it was sent
  kSent,    // the first command went out; the link watches the delivery to its end
};

// Runs one delivery of `pictureList` (GBK, entries each ended by ";") to slot 1. The delivery
// slot becomes 1 first (pending card-reset flags are dropped, and a delivery still awaited is
// replaced); with no card connected nothing else happens and nothing is logged. A connected
// card gets the route's kind-2 line "向 [标签: …, 名称: …] 发送数据..." (or "…发送动态区数据...")
// and its first command, after which the link watches the delivery (ControllerLink::
// DeliveryEnded). A failing step ends the route with the kind-1 line "发送节目出现错误: …" or
// "发送动态区数据出现错误: …"; the steps after it are not done. The program id is the clock's
// time as "yyyymmddhhnnss". Never throws.
DeliveryStart DeliverProgram(ControllerLink& link, const DeliverySettings& settings,
                             const std::string& pictureList, const Clock& clock, LogSink& log);

}  // namespace aqled
