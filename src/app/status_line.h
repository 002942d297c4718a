#pragma once
// The status line below the window's pages: the card, the last send, the timed delivery and
// the last fetch at a glance, and room for a transient message.

#include <QDateTime>
#include <QStatusBar>
#include <QString>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "send/send_road.h"

class QLabel;

namespace aqled {

// Height of the status line at 120 pixels per inch: one line of the window's 14-pixel font
// with its margins.
inline constexpr int kStatusLineHeight = 26;
// A transient message stays this long: long enough to be read, short enough that the status
// comes back on its own.
inline constexpr int kStatusMessageMs = 10000;
// The seconds since the card's last message count up at this pace.
inline constexpr int kStatusRefreshMs = 1000;
// Events that change the line (a card's bytes, a closed connection) redraw it at most this
// often: a flood brings thousands a second, and the eye reads a few.
inline constexpr int kStatusDelayMs = 250;

// One card of several, as the card field's tool tip lists it.
struct LineCard {
  std::string tag;   // GBK
  std::string name;  // GBK
  bool connected = false;
  QDateTime lastMessage;
};

// What the status line shows, gathered by the window.
struct StatusSnapshot {
  QDateTime now;
  // With one slot the card field shows that card (the fields below); with several it counts
  // the connected cards of those known (`cards`, in slot order) and lists them in its tip,
  // and the last send counts the cards that played.
  int maxCards = 1;
  std::vector<LineCard> cards;
  bool cardKnown = false;  // a card has logged in since start-up
  std::string tag;         // its barcode, GBK
  std::string name;        // its controller name, GBK
  bool connected = false;
  QDateTime lastMessage;  // when it last sent a frame; null before
  std::optional<SendRecord> lastSend;
  bool autoSend = true;
  QDateTime slot;             // start of the slot `now` falls in
  bool slotDue = false;       // that slot still wants its delivery
  QDateTime nextSlot;         // start of the slot after it
  bool awaitingCard = false;  // a delivery waits for the card's answers
  QDateTime nextTick;         // when Timer1 next looks at the schedule; null when it does not run
  std::optional<FetchRecord> lastFetch;
};

// The four fields of the status line: card, last send, timed delivery, last fetch.
std::array<QString, 4> StatusFields(const StatusSnapshot& s);
// Their tool tips: each field whole, the last send's failure with its reason and the time of
// the next try.
std::array<QString, 4> StatusTips(const StatusSnapshot& s);

class StatusLine : public QStatusBar {
  Q_OBJECT

 public:
  explicit StatusLine(QWidget* parent);

  // Shows the snapshot in the four fields and their tool tips. The card field gives way first
  // when the line is short of room; the others keep their whole text.
  void Show(const StatusSnapshot& s);
  // Shows `text` over the four fields for kStatusMessageMs.
  void ShowTransient(const QString& text);

  // Field 0 to 3 as shown now, and its tool tip.
  QString FieldText(int i) const;
  QString FieldTip(int i) const;

 private:
  std::array<QLabel*, 4> fields_{};
};

}  // namespace aqled
