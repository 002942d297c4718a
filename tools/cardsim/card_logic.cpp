#include "card_logic.h"

#include <QHostAddress>
#include <QPainter>
#include <QUrl>
#include <QXmlStreamReader>
#include <algorithm>
#include <charconv>
#include <sstream>

namespace aqled::cardsim {

nlohmann::json ParseCommand(std::string_view utf8) {
  auto parse = [](const std::string& text) {
    std::istringstream in(text);
    nlohmann::json j;
    in >> j;
    return j;
  };
  try {
    return parse(std::string(utf8));
  } catch (const nlohmann::json::exception& first) {
    std::string stripped;
    stripped.reserve(utf8.size());
    for (char c : utf8)
      if (c != '\r' && c != '\n') stripped.push_back(c);
    if (stripped.size() == utf8.size()) throw CardError(first.what());
    try {
      return parse(stripped);
    } catch (const nlohmann::json::exception& e) {
      throw CardError(e.what());
    }
  }
}

std::optional<QByteArray> DecodeMimeBase64(std::string_view text) {
  QByteArray clean;
  int fill = 0;
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    const bool alpha =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (c == '=') {
      ++fill;
      continue;
    }
    if (!alpha || fill > 0) return std::nullopt;  // nothing may follow the fill
    clean.push_back(c);
  }
  if (fill > 2 || clean.size() % 4 == 1) return std::nullopt;
  if (fill > 0 && (clean.size() + fill) % 4 != 0) return std::nullopt;
  return QByteArray::fromBase64(clean);
}

std::string TextOf(const nlohmann::json& object, std::string_view key, std::string fallback) {
  if (!object.is_object()) return fallback;
  const auto it = object.find(std::string(key));
  if (it == object.end() || it->is_null()) return fallback;
  return it->is_string() ? it->get<std::string>() : it->dump();
}

std::optional<std::string> SafeStoragePath(std::string_view path) {
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  if (path.empty()) return std::nullopt;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || part.find('\\') != std::string_view::npos ||
        part.find('\0') != std::string_view::npos)
      return std::nullopt;
    start = end + 1;
  }
  return std::string(path);
}

std::vector<DownloadItem> ParseDownloadItems(const nlohmann::json& input) {
  if (!input.is_object() || !input.contains("items") || !input["items"].is_array())
    throw CardError("download command without \"items\"");
  std::vector<DownloadItem> out;
  for (const auto& item : input["items"]) {
    const std::string url = TextOf(item, "srcurl");
    const std::string name = TextOf(item, "dstfilename");
    if (url.empty() || name.empty()) throw CardError("download item without \"srcurl\" or \"dstfilename\"");
    const std::string dir = TextOf(item, "dstpath");
    const auto path = SafeStoragePath(dir.empty() ? name : dir + "/" + name);
    if (!path || name.find('/') != std::string::npos)
      throw CardError("unsafe download target: " + dir + "/" + name);
    DownloadItem d;
    d.url = QString::fromStdString(url);
    d.storagePath = *path;
    const std::string size = TextOf(item, "size", "-1");
    std::int64_t v = -1;
    const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), v);
    d.size = ec == std::errc() && end == size.data() + size.size() ? v : -1;
    out.push_back(std::move(d));
  }
  return out;
}

bool IsLoopbackUrl(const QString& url) {
  const QUrl u(url);
  if (!u.isValid() || (u.scheme() != "http" && u.scheme() != "https")) return false;
  if (u.host().compare("localhost", Qt::CaseInsensitive) == 0) return true;
  const QHostAddress a(u.host());
  return !a.isNull() && a.isLoopback();
}

namespace {

[[noreturn]] void XmlFail(const QXmlStreamReader& xml, const char* what) {
  throw CardError(std::string(what) +
                  (xml.hasError() ? ": " + xml.errorString().toStdString() : std::string()));
}

}  // namespace

std::string PlaylistProgramFile(const QByteArray& bytes) {
  QXmlStreamReader xml(bytes);
  while (!xml.atEnd()) {
    if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("program")) {
      const QString file = xml.attributes().value("programFile").toString();
      if (file.isEmpty()) XmlFail(xml, "playlist program without programFile");
      return file.toStdString();
    }
  }
  XmlFail(xml, "playlist without a program");
}

ProgramLayout ParseProgramFile(const QByteArray& bytes) {
  QXmlStreamReader xml(bytes);
  ProgramLayout layout;
  bool inPanel = false, sawPanel = false;
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      const auto a = xml.attributes();
      if (xml.name() == QLatin1String("picturepanel") && !sawPanel) {
        inPanel = sawPanel = true;
        layout.x = a.value("x").toInt();
        layout.y = a.value("y").toInt();
        layout.w = a.value("w").toInt();
        layout.h = a.value("h").toInt();
      } else if (xml.name() == QLatin1String("picUnit") && inPanel) {
        const QString file = a.value("file").toString();
        if (file.isEmpty()) XmlFail(xml, "picUnit without file");
        layout.pictures.push_back({file.toStdString(), a.value("order").toInt()});
      }
    } else if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("picturepanel")) {
      inPanel = false;
    }
  }
  if (xml.hasError()) XmlFail(xml, "program file is not well formed");
  if (!sawPanel) XmlFail(xml, "program file without a picturepanel");
  std::stable_sort(layout.pictures.begin(), layout.pictures.end(),
                   [](const ProgramPicture& a, const ProgramPicture& b) { return a.order < b.order; });
  return layout;
}

DynamicArea ParseDynamicArea(const nlohmann::json& input) {
  if (!input.is_object() || !input.contains("dynamics") || !input["dynamics"].is_array() ||
      input["dynamics"].empty())
    throw CardError("UpdateDynamic without \"dynamics\"");
  const nlohmann::json& area = input["dynamics"][0];
  auto num = [&](const char* key) { return std::atoi(TextOf(area, key, "0").c_str()); };
  DynamicArea out;
  out.x = num("xCoord");
  out.y = num("yCoord");
  out.w = num("width");
  out.h = num("height");
  if (!area.contains("unit") || !area["unit"].is_array()) throw CardError("dynamic area without \"unit\"");
  std::vector<std::pair<int, QString>> units;
  for (const auto& unit : area["unit"]) {
    const auto bytes = DecodeMimeBase64(TextOf(unit, "content"));
    if (!bytes || bytes->isEmpty()) throw CardError("dynamic unit whose content is not Base64");
    units.emplace_back(std::atoi(TextOf(unit, "order", "0").c_str()), QString::fromUtf8(*bytes));
  }
  std::stable_sort(units.begin(), units.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& u : units) out.addresses.push_back(u.second);
  return out;
}

QImage ComposeScreen(const QImage& picture, int screenWidth, int screenHeight, int x, int y, int w, int h) {
  QImage screen(std::max(screenWidth, 1), std::max(screenHeight, 1), QImage::Format_RGB32);
  screen.fill(Qt::black);
  QPainter p(&screen);
  p.setClipRect(QRect(x, y, w > 0 ? w : screenWidth, h > 0 ? h : screenHeight));
  p.drawImage(QPoint(x, y), picture);
  p.end();
  return screen;
}

std::string Answer(std::string_view name, const nlohmann::json& output) {
  nlohmann::json j;
  j["name"] = std::string(name);
  j["output"] = output;
  return j.dump();
}

}  // namespace aqled::cardsim
