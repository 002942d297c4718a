#include "compose/picture_list.h"

#include <filesystem>
#include <system_error>

#include "stations/catalogue.h"
#include "stations/extract.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

namespace {

// Log texts of the entries, GBK.
constexpr const char* kStationLines[5] = {
    "",
    "\xcc\xed\xbc\xd3\x20\xec\xf5\xb2\xba\xd5\xf2\xca\xfd\xbe\xdd\x20",  // "添加 祯埠镇数据 "
    "\xcc\xed\xbc\xd3\x20\xca\xaf\xc3\xc5\xb6\xb4\xca\xfd\xbe\xdd\x20",  // "添加 石门洞数据 "
    "\xcc\xed\xbc\xd3\x20\xd0\xa1\xd6\xdb\xc9\xbd\xca\xfd\xbe\xdd\x20",  // "添加 小舟山数据 "
    "\xcc\xed\xbc\xd3\x20\xc7\xa7\xcf\xbf\xba\xfe\xca\xfd\xbe\xdd\x20",  // "添加 千峡湖数据 "
};
constexpr const char* kTextPageLine = "\xcc\xed\xbc\xd3\x20\xce\xc4\xb1\xbe\x20";       // "添加 文本 "
constexpr const char* kAdvertisementLine = "\xcc\xed\xbc\xd3\x20\xb9\xe3\xb8\xe6\x20";  // "添加 广告 "

// Lines of a station page left out, GBK.
const std::string& EmptyReadingPattern() {
  static const std::string text = Utf8ToGbk("不添加 %s数据: PM2.5或臭氧数据为空");
  return text;
}
const std::string& StaleReadingPattern() {
  static const std::string text = Utf8ToGbk("不添加 %s数据: 数据已过期 (超过 %d 小时), 发布时间 %s");
  return text;
}

// True when the publish time reads as a date more than `hours` hours before `now`.
bool Stale(const std::string& publishTime, const QDateTime& now, int hours) {
  if (hours <= 0 || !now.isValid()) return false;
  const std::optional<QDateTime> published = ParsePublishTime(publishTime);
  return published && published->secsTo(now) > static_cast<qint64>(hours) * 3600;
}

bool IsFile(const std::string& gbkPath) {
  std::error_code ec;
  return std::filesystem::is_regular_file(PathFromGbk(gbkPath), ec);
}

}  // namespace

std::string PictureFolderOf(const std::string& appFolder) { return appFolder + "file" + kPathSeparator; }

bool IsDisplayablePicture(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  return ext == ".bmp" || ext == ".jpg" || ext == ".jpeg";
}

void AssemblePictureList(const PictureListInputs& in, std::string& pictureList, LogSink& log) {
  pictureList.clear();
  const std::string pictureFolder = PictureFolderOf(in.appFolder);

  // Screen the advertisements before anything is drawn: only pictures whose copy is there.
  std::vector<std::string> adNames;
  if (in.choice.advertisements) {
    for (const std::string& entry : in.advertisements) {
      const std::string name = FileNameOf(entry);
      // The list has no escaping: a name with ";" would turn into two entries naming files
      // that do not exist, so such a picture cannot be carried and is left out.
      if (name.find(';') != std::string::npos) continue;
      if (IsDisplayablePicture(entry) && IsFile(pictureFolder + name)) adNames.push_back(name);
    }
  }

  if (!in.choice.stationPages && !in.choice.textPage && !in.choice.advertisements) return;

  auto append = [&](const char* logText, const std::string& path) {
    pictureList += path;
    pictureList += ';';
    log.AppendLog(kLogInfo, logText + path);
  };

  if (in.choice.stationPages) {
    for (int k = 1; k <= 4; ++k) {
      const Dtstr& r = in.readings[k];
      // The data site shows a missing reading as dashes; such a station is left out.
      if (r.pm25.find('-') != std::string::npos || r.ozone.find('-') != std::string::npos) continue;
      // An empty one was not cut from the page at all: a blank table is no reading either.
      if (r.pm25.empty() || r.ozone.empty()) {
        log.AppendLog(kLogError, Format(EmptyReadingPattern(), {StationName(k)}));
        continue;
      }
      const std::string& published = in.publishTimes[static_cast<size_t>(k)];
      if (Stale(published, in.now, in.maxDataAgeHours)) {
        log.AppendLog(kLogError,
                      Format(StaleReadingPattern(), {StationName(k), in.maxDataAgeHours, published}));
        continue;
      }
      append(kStationLines[k], pictureFolder + std::to_string(k) + ".bmp");
    }
  }

  if (in.choice.textPage) {
    if (in.renderTextPage) in.renderTextPage();
    append(kTextPageLine, pictureFolder + "g.bmp");
  }

  // The copy is looked for again: drawing the text page may have replaced or removed it.
  for (const std::string& name : adNames) {
    const std::string path = pictureFolder + name;
    if (IsFile(path)) append(kAdvertisementLine, path);
  }
}

}  // namespace aqled
