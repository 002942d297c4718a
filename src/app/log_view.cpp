#include "app/log_view.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "text/gbk.h"

namespace aqled {

LogView::LogView(int linePixels, QWidget* parent) : QTextEdit(parent), linePixels_(linePixels) {
  setAcceptRichText(false);
  // The operator reads, selects and copies the log; only the operation log writes into it.
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setLineWrapMode(QTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QPalette p = palette();
  p.setColor(QPalette::Base, Qt::black);
  p.setColor(QPalette::Text, Qt::white);
  setPalette(p);
  setAutoFillBackground(true);
}

int LogView::LineCount() const { return document()->isEmpty() ? 0 : document()->blockCount(); }

void LogView::Clear() { clear(); }

void LogView::AppendLine(const std::string& gbkLine, Rgb colour) {
  QTextCharFormat format;
  QFont font(QString::fromUtf8("宋体"));
  font.setPixelSize(linePixels_);
  format.setFont(font);
  format.setForeground(QColor(colour.r, colour.g, colour.b));

  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  if (!document()->isEmpty()) cursor.insertBlock();
  cursor.insertText(ToQString(gbkLine), format);
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QString LogView::LineText(int index) const { return document()->findBlockByNumber(index).text(); }

QColor LogView::LineColour(int index) const {
  const QTextBlock block = document()->findBlockByNumber(index);
  if (!block.isValid() || block.begin().atEnd()) return {};
  return block.begin().fragment().charFormat().foreground().color();
}

}  // namespace aqled
