#pragma once
// One delivery of the current picture list to the controller card in one slot: the program
// route stages the pictures, writes ll.xml and pp.xml, stores the download and play commands
// and sends the clean-up command; the dynamic-area route stages the pictures and sends one
// UpdateDynamic command. The card's answers drive the rest (CommandExchange, one conversation
// per slot). A send to several cards delivers to each slot in turn, staging once for all cards
// that take the same pictures (StagedProgram).

#include <QSize>
#include <string>
#include <string_view>
#include <vector>

#include "link/controller_link.h"
#include "logging/operation_log.h"
#include "settings/program_settings.h"
#include "text/datetime.h"

namespace aqled {

// The clean-up command a delivery sends first; unlike the exchange's form it has no blank
// after the colon (31 bytes).
inline constexpr std::string_view kDeliveryCleanUpCommand = R"({"name":"clearuselessmaterial"})";

// What one delivery reads: the values of config.ini, as they were read, and what the send
// adds.
struct DeliverySettings {
  // FileBaseDir (ShareFolder), HttpBaseDir (the address under which ShareFolder is published),
  // sendkind (1: program route; any other value: dynamic-area route), and stuntType, stuntSpeed
  // and stayTime (effect, speed and display time of every dynamic-area picture); GBK texts.
  ProgramSettings config;
  std::string pictureFolder;  // where the application draws its pictures: staged by link
  // The area the pictures were drawn at: ll.xml, pp.xml and the dynamic area carry it, so the
  // card is told the size its pictures have. Empty: the size the card reported at login.
  QSize area;
  // Put before every staged file name (see packaging.h): empty, or "<w>x<h>_" when one send
  // stages pictures of several sizes.
  std::string namePrefix;
};

// How far a delivery got inside DeliverProgram.
enum class DeliveryStart {
  kNoCard,  // no card connected in the slot: nothing staged, sent or logged
  kFailed,  // a step failed (its error line is logged) or the card went while it was sent
  kSent,    // the first command went out; the link watches the delivery to its end
};

// What one send has staged into a share folder, for every card that takes the same pictures.
struct StagedProgram {
  bool staged = false;  // false until the first delivery of the send has staged
  std::string programId;
  int n = 0;                         // pictures staged
  std::vector<std::string> entries;  // the picture list's entry of each, in order (GBK)
};

// Runs one delivery of `pictureList` (GBK, entries each ended by ";") to slot k. The slot's
// conversation becomes a delivery's first (its pending card-reset flags are dropped, and a
// delivery still awaited on it is replaced); with no card connected nothing else happens and
// nothing is logged. With `shared`, the pictures and the program files are staged only when
// `shared` has not been staged yet, and it records what was staged for the next card. A connected
// card gets the route's kind-2 line "向 [标签: …, 名称: …] 发送数据..." (or "…发送动态区数据...")
// and its first command, after which the link watches the delivery (ControllerLink::
// DeliveryEnded). A failing step ends the route with the kind-1 line "发送节目出现错误: …" or
// "发送动态区数据出现错误: …"; the steps after it are not done. The program id is the clock's
// time as "yyyymmddhhnnss". Never throws.
DeliveryStart DeliverProgram(ControllerLink& link, const DeliverySettings& settings,
                             const std::string& pictureList, const Clock& clock, LogSink& log, int k = 1,
                             StagedProgram* shared = nullptr);

}  // namespace aqled
