#include "app/log_view.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "text/gbk.h"

namespace aqled {

LogView::LogView(int linePixels, QWidget* parent) : QPlainTextEdit(parent), linePixels_(linePixels) {
  // The operator reads, selects and copies the log; only the operation log writes into it.
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The control keeps no undo history of what the log wrote.
  setUndoRedoEnabled(false);
  QPalette p = palette();
  p.setColor(QPalette::Base, Qt::black);
  p.setColor(QPalette::Text, Qt::white);
  setPalette(p);
  setAutoFillBackground(true);
}

int LogView::LineCount() const {
  FlushPending();
  return HeldLines();
}

void LogView::Clear() {
  FlushPending();
  ClearLines();
}

QString LogView::LineText(int index) const {
  FlushPending();
  return document()->findBlockByNumber(index).text();
}

QColor LogView::LineColour(int index) const {
  FlushPending();
  const QTextBlock block = document()->findBlockByNumber(index);
  if (!block.isValid() || block.begin().atEnd()) return {};
  return block.begin().fragment().charFormat().foreground().color();
}

int LogView::HeldLines() const { return document()->isEmpty() ? 0 : document()->blockCount(); }

void LogView::ClearLines() { clear(); }

QTextCharFormat LogView::FormatOf(Rgb colour) const {
  QTextCharFormat format;
  QFont font(QString::fromUtf8("宋体"));
  font.setPixelSize(linePixels_);
  format.setFont(font);
  format.setForeground(QColor(colour.r, colour.g, colour.b));
  return format;
}

void LogView::ScrollToEnd() { verticalScrollBar()->setValue(verticalScrollBar()->maximum()); }

void LogView::AppendLines(const std::vector<ScreenLine>& lines) {
  if (lines.empty()) return;
  QTextCursor cursor(document());
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::End);
  for (const ScreenLine& line : lines) {
    if (!document()->isEmpty()) cursor.insertBlock();
    cursor.insertText(ToQString(line.gbkText), FormatOf(line.colour));
  }
  cursor.endEditBlock();
  ScrollToEnd();
}

void LogView::ReplaceLastLine(const ScreenLine& line) {
  if (document()->isEmpty()) {
    AppendLines({line});
    return;
  }
  QTextCursor cursor(document()->lastBlock());
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(ToQString(line.gbkText), FormatOf(line.colour));
  cursor.endEditBlock();
  ScrollToEnd();
}

}  // namespace aqled
