#pragma once
// The communication log control `log`: a rich text box on a black field that the operation
// log writes coloured lines into. Typing does not change it; its text can be selected and
// copied.

#include <QTextEdit>

#include "logging/operation_log.h"

namespace aqled {

class LogView : public QTextEdit, public LogScreen {
  Q_OBJECT

 public:
  // `linePixels` is the pixel height of the 宋体 font every appended line is written in.
  explicit LogView(int linePixels, QWidget* parent = nullptr);

  // Lines the control holds; an empty control holds none.
  int LineCount() const override;
  void Clear() override;
  // Appends the GBK line in the colour as the control's last line and scrolls it into view.
  void AppendLine(const std::string& gbkLine, Rgb colour) override;

  // The text and colour of line `index` (from 0), for checks and screen readers.
  QString LineText(int index) const;
  QColor LineColour(int index) const;

 private:
  int linePixels_;
};

}  // namespace aqled
