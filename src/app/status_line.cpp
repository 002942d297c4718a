#include "app/status_line.h"

#include <QLabel>
#include <QPainter>
#include <algorithm>

#include "stations/catalogue.h"
#include "text/datetime.h"
#include "text/gbk.h"

namespace aqled {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// "hh:nn" on the day of `now`, "mm-dd hh:nn" on any other.
QString Stamp(const QDateTime& when, const QDateTime& now) {
  return ToQString(FormatDateTime(when.date() == now.date() ? "hh:nn" : "mm-dd hh:nn", when));
}

QString StateText(SendState state) {
  switch (state) {
    case SendState::kRunning:
      return U("进行中");
    case SendState::kDelivering:
      return U("等待应答");
    case SendState::kSucceeded:
      return U("成功");
    case SendState::kFailed:
      return U("失败");
    case SendState::kStalled:
      return U("超时");
  }
  return {};
}

// A field that gives way when the line is short of room: its text is cut with "…" (the tool
// tip keeps it whole) instead of pushing the fields beside it out of the window.
class ElidedLabel : public QLabel {
 public:
  using QLabel::QLabel;
  QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.drawText(area, static_cast<int>(alignment()),
                     fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
  }
};

// A card's state with the seconds since its last message.
QString CardState(bool connected, const QDateTime& lastMessage, const QDateTime& now) {
  QString text = connected ? U("已连接") : U("已断开");
  if (lastMessage.isValid()) text += U(", %1秒前").arg(std::max<qint64>(0, lastMessage.secsTo(now)));
  return text;
}

bool Ended(SendState state) {
  return state == SendState::kSucceeded || state == SendState::kFailed || state == SendState::kStalled;
}

}  // namespace

std::array<QString, 4> StatusFields(const StatusSnapshot& s) {
  std::array<QString, 4> f;
  if (s.maxCards > 1) {
    const auto connected =
        std::count_if(s.cards.begin(), s.cards.end(), [](const LineCard& c) { return c.connected; });
    f[0] = s.cards.empty()
               ? U("控制卡: 未登录")
               : U("控制卡 %1/%2 已连接").arg(connected).arg(static_cast<qsizetype>(s.cards.size()));
  } else if (!s.cardKnown) {
    f[0] = U("控制卡: 未登录");
  } else {
    f[0] = U("控制卡 %1 (%2) %3")
               .arg(ToQString(s.tag), ToQString(s.name), CardState(s.connected, s.lastMessage, s.now));
  }
  if (!s.lastSend) {
    f[1] = U("上次发送: 无");
  } else {
    f[1] = U("上次发送 %1 %2 %3")
               .arg(Stamp(s.lastSend->started, s.now), s.lastSend->automatic ? U("自动") : U("手动"),
                    StateText(s.lastSend->state));
    if (s.maxCards > 1 && s.lastSend->cards > 0 && Ended(s.lastSend->state)) {
      // Several cards: the outcome counts those that played.
      f[1] = U("上次发送 %1 %2 %3 %4/%5")
                 .arg(Stamp(s.lastSend->started, s.now), s.lastSend->automatic ? U("自动") : U("手动"),
                      s.lastSend->played > 0 ? U("成功") : StateText(s.lastSend->state))
                 .arg(s.lastSend->played)
                 .arg(s.lastSend->cards);
    }
    if (s.lastSend->notice && s.lastSend->state == SendState::kSucceeded) f[1] += U(" (提示页)");
  }
  if (s.awaitingCard) {
    f[2] = U("等待应答");
  } else if (!s.autoSend) {
    f[2] = U("定时发送关闭");
  } else if (s.slotDue) {
    f[2] = U("%1 时段待发送").arg(Stamp(s.slot, s.now));
  } else {
    f[2] = U("下次定时 %1").arg(Stamp(s.nextSlot, s.now));
  }
  if (!s.lastFetch) {
    f[3] = U("上次获取: 无");
  } else {
    f[3] = U("上次获取 %1 %2/%3")
               .arg(Stamp(s.lastFetch->at, s.now))
               .arg(s.lastFetch->fetched)
               .arg(kStationCount);
    if (s.lastFetch->fetched < kStationCount)
      f[3] += U(", %1 失败").arg(kStationCount - s.lastFetch->fetched);
  }
  return f;
}

std::array<QString, 4> StatusTips(const StatusSnapshot& s) {
  std::array<QString, 4> tips = StatusFields(s);
  if (s.maxCards > 1) {
    for (const LineCard& card : s.cards) {
      tips[0] += U("\n%1 (%2) %3")
                     .arg(ToQString(card.tag), ToQString(card.name),
                          CardState(card.connected, card.lastMessage, s.now));
    }
  }
  if (!s.lastSend) return tips;
  const SendState state = s.lastSend->state;
  if (state != SendState::kFailed && state != SendState::kStalled) return tips;
  if (!s.lastSend->reason.empty()) tips[1] += U("\n原因: ") + ToQString(s.lastSend->reason);
  if (s.autoSend && s.nextTick.isValid()) tips[1] += U("\n下次尝试 ") + Stamp(s.nextTick, s.now);
  return tips;
}

StatusLine::StatusLine(QWidget* parent) : QStatusBar(parent) {
  setObjectName("StatusBar1");
  setSizeGripEnabled(false);
  const char* const names[] = {"StatusCard", "StatusSend", "StatusSchedule", "StatusFetch"};
  for (size_t i = 0; i < fields_.size(); ++i) {
    // The card's tag and name can be long: that field takes the room the others leave and cuts
    // its text; the send, the schedule and the fetch always show whole.
    fields_[i] = i == 0 ? new ElidedLabel(this) : new QLabel(this);
    fields_[i]->setObjectName(QString::fromLatin1(names[i]));
    addWidget(fields_[i], i == 0 ? 1 : 0);
  }
}

void StatusLine::Show(const StatusSnapshot& s) {
  const std::array<QString, 4> texts = StatusFields(s);
  const std::array<QString, 4> tips = StatusTips(s);
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i]->text() != texts[i]) fields_[i]->setText(texts[i]);
    if (fields_[i]->toolTip() != tips[i]) fields_[i]->setToolTip(tips[i]);
  }
}

void StatusLine::ShowTransient(const QString& text) { showMessage(text, kStatusMessageMs); }

QString StatusLine::FieldTip(int i) const {
  return i >= 0 && i < static_cast<int>(fields_.size()) ? fields_[static_cast<size_t>(i)]->toolTip()
                                                        : QString();
}

QString StatusLine::FieldText(int i) const {
  return i >= 0 && i < static_cast<int>(fields_.size()) ? fields_[static_cast<size_t>(i)]->text() : QString();
}

}  // namespace aqled
