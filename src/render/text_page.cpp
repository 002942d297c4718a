#include "render/text_page.h"

#include <QTextLayout>
#include <QTextOption>
#include <unordered_map>

#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

namespace {

void LayoutFlowing(const TextPageInput& in, const QFont& font, const QColor& color, PageDrawing& page) {
  const long long T = TextHeight(font);
  const long long right = static_cast<long long>(in.W) - 2;
  const long long pitch = T + in.L;
  std::unordered_map<std::string, int> widths;
  long long x = 2;
  long long y = in.L;
  const std::string& s = in.text;
  size_t i = 0;
  // A line that starts below the page cannot be seen: a text of any length costs one page.
  while (i < s.size() && y < in.H) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
      x = 2;
      y += pitch;
      i += 2;
      continue;
    }
    // A lead byte at the very end has no second byte; it stands alone.
    const size_t length = static_cast<unsigned char>(s[i]) >= 0x80 && i + 1 < s.size() ? 2 : 1;
    std::string c = s.substr(i, length);
    i += length;
    auto found = widths.find(c);
    if (found == widths.end()) found = widths.emplace(c, TextWidth(font, c)).first;
    const long long w = found->second;
    if (x + w > right) {
      x = 2;
      y += pitch;
      if (y >= in.H) break;
    }
    page.texts.push_back({std::move(c), font, color, ClampCoordinate(x), ClampCoordinate(y)});
    x += w;
  }
}

void LayoutCentred(const TextPageInput& in, const QFont& font, const QColor& color, PageDrawing& page) {
  // An empty text has no lines and leaves the page black.
  if (in.lines.empty()) return;
  const long long T = TextHeight(font);
  const long long band = Div(in.H, static_cast<long long>(in.lines.size()));
  long long y = Div(band - T, 2);
  for (const std::string& line : in.lines) {
    const long long x = Div(static_cast<long long>(in.W) - TextWidth(font, line), 2);
    page.texts.push_back({line, font, color, ClampCoordinate(x), ClampCoordinate(y)});
    y += band;
  }
}

}  // namespace

std::vector<std::string> TextBoxLines(const std::string& gbk, int width, const QFont& boxFont) {
  std::vector<std::string> out;
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  for (const std::string& hard : SplitLines(gbk)) {
    const QString text = ToQString(hard);
    if (text.isEmpty()) {
      out.push_back(hard);
      continue;
    }
    QTextLayout layout(text, boxFont);
    layout.setTextOption(option);
    layout.beginLayout();
    std::vector<std::pair<int, int>> pieces;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width > 0 ? width : 0);
      pieces.emplace_back(line.textStart(), line.textLength());
    }
    layout.endLayout();
    for (const auto& [start, length] : pieces) out.push_back(FromQString(text.mid(start, length)));
  }
  return out;
}

PageDrawing LayoutTextPage(const TextPageInput& in) {
  PageDrawing page;
  page.width = in.W;
  page.height = in.H;
  const QFont font = ApplyFontSlot(in.font);
  const QColor color = NearestTableColor(ColorOfWord(in.font.color));
  if (in.layout == kFlowingLayout) {
    LayoutFlowing(in, font, color, page);
  } else if (in.layout == kCentredLayout) {
    LayoutCentred(in, font, color, page);
  }
  return page;
}

QImage DrawTextPage(const TextPageInput& input) {
  if (input.W <= 0 || input.H <= 0) return {};
  return PaintDrawing(LayoutTextPage(input));
}

TextPageResult RenderTextPage(const TextPageInput& input, const std::filesystem::path& pictureFolder,
                              const char* fileName) {
  TextPageResult result;
  const bool empty = input.W <= 0 || input.H <= 0;
  QImage page = empty ? QImage() : DrawTextPage(input);
  if (!empty && page.isNull()) {
    result.error = CannotDrawText(input.W, input.H);
    return result;
  }
  const WriteStatus status = WritePicture(pictureFolder / fileName, EncodeBmp4(page));
  if (!status.ok()) {
    result.error = status.error;
    return result;
  }
  result.page = page;
  return result;
}

}  // namespace aqled
