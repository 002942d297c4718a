#include "app/spin_edit.h"

#include <QLineEdit>
#include <charconv>
#include <limits>
#include <optional>

namespace aqled {
namespace {

// A whole decimal number with an optional sign, or nothing.
std::optional<long long> WholeNumber(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  const char* begin = bytes.constData();
  const char* end = begin + bytes.size();
  if (begin != end && *begin == '+') ++begin;
  if (begin == end) return std::nullopt;
  long long value = 0;
  const auto [p, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || p != end) return std::nullopt;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
  return value;
}

}  // namespace

SpinEdit::SpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  setKeyboardTracking(true);
  lineEdit()->setText("0");
}

void SpinEdit::SetRange(int minimum, int maximum) {
  min_ = minimum;
  max_ = maximum;
}

int SpinEdit::Clamp(long long value) const {
  if (HasLimit()) {
    if (value < min_) return min_;
    if (value > max_) return max_;
  }
  if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(value);
}

int SpinEdit::Value() const {
  const auto n = WholeNumber(Text());
  return n ? Clamp(*n) : min_;
}

void SpinEdit::SetValue(int value) { lineEdit()->setText(QString::number(Clamp(value))); }

QString SpinEdit::Text() const { return lineEdit()->text(); }

void SpinEdit::SetText(const QString& text) { lineEdit()->setText(text); }

void SpinEdit::stepBy(int steps) { SetValue(Clamp(static_cast<long long>(Value()) + steps)); }

QValidator::State SpinEdit::validate(QString& input, int&) const {
  for (const QChar c : input) {
    if (!c.isDigit() && c != u'-' && c != u'+') return QValidator::Invalid;
    if (c.unicode() > 127) return QValidator::Invalid;  // other scripts' digits
  }
  return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const { return StepUpEnabled | StepDownEnabled; }

void SpinEdit::focusOutEvent(QFocusEvent* event) {
  QAbstractSpinBox::focusOutEvent(event);
  // Only a whole number outside the range is corrected; other texts stay and read as the minimum.
  const auto n = WholeNumber(Text());
  if (n && Clamp(*n) != *n) SetValue(static_cast<int>(*n));
}

}  // namespace aqled
