#pragma once
// The communication log control `log`: a plain text box on a black field that the operation
// log writes coloured lines into, a batch at a time. Typing does not change it; its text can
// be selected and copied.

#include <QPlainTextEdit>

#include "logging/operation_log.h"

namespace aqled {

class LogView : public QPlainTextEdit, public LogScreen {
  Q_OBJECT

 public:
  // `linePixels` is the pixel height of the 宋体 font every appended line is written in.
  explicit LogView(int linePixels, QWidget* parent = nullptr);

  // What the log's lines make of the control (each of these shows the lines the log has
  // gathered first): the lines it holds (an empty control holds none), emptying it, and the
  // text and colour of line `index` (from 0), for checks and screen readers.
  int LineCount() const;
  void Clear();
  QString LineText(int index) const;
  QColor LineColour(int index) const;

  int HeldLines() const override;
  void ClearLines() override;
  // One edit of the document for the whole batch, then the last line scrolled into view.
  void AppendLines(const std::vector<ScreenLine>& lines) override;
  void ReplaceLastLine(const ScreenLine& line) override;

 private:
  QTextCharFormat FormatOf(Rgb colour) const;
  void ScrollToEnd();

  int linePixels_;
};

}  // namespace aqled
