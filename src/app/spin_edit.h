#pragma once
// The window's spin edit: an integer text field with up and down arrows (step 1).

#include <QAbstractSpinBox>

namespace aqled {

// Any text of digits and signs may be typed; a text that is not a whole number (the empty text
// included) reads as the minimum. When minimum and maximum differ, Value() and the text on
// leaving the field are brought into that range; minimum equal to maximum (0 and 0) means no
// limit.
class SpinEdit : public QAbstractSpinBox {
  Q_OBJECT

 public:
  explicit SpinEdit(QWidget* parent = nullptr);

  void SetRange(int minimum, int maximum);
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  bool HasLimit() const { return min_ != max_; }

  // The text as a whole number brought into the range; the minimum when it is not one.
  int Value() const;
  // Shows `value`, brought into the range when there is one.
  void SetValue(int value);
  // The text as it stands, and a new text as if typed (not brought into the range).
  QString Text() const;
  void SetText(const QString& text);
  QLineEdit* Editor() const { return lineEdit(); }

  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;

 protected:
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int Clamp(long long value) const;
  int min_ = 0;
  int max_ = 0;
};

}  // namespace aqled
