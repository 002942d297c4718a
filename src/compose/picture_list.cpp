#include "compose/picture_list.h"

#include <QCryptographicHash>
#include <QFile>
#include <array>
#include <filesystem>
#include <system_error>

#include "stations/catalogue.h"
#include "stations/extract.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

namespace {

// Log texts of the entries, GBK; a station's line names it from the catalogue.

// Lines of a station page left out, GBK.

// Reads at most this much of one picture for its digest: a program's pictures are BMPs of at
// most 576 x 336 at 32 bits (774 KiB) or the operator's JPEGs.
constexpr qint64 kMaxDigestBytes = 16 * 1024 * 1024;

bool IsFile(const std::string& gbkPath) {
  std::error_code ec;
  return std::filesystem::is_regular_file(PathFromGbk(gbkPath), ec);
}

}  // namespace

Freshness FreshnessOf(const std::string& publishTime, const QDateTime& now, int maxDataAgeHours) {
  if (!now.isValid()) return Freshness::kFresh;
  const std::optional<QDateTime> published = ParsePublishTime(publishTime);
  if (!published) return Freshness::kFresh;
  const qint64 age = published->secsTo(now);
  if (-age > kMaxPublishAheadSecs) return Freshness::kInFuture;
  if (maxDataAgeHours > 0 && age > static_cast<qint64>(maxDataAgeHours) * 3600) return Freshness::kStale;
  return Freshness::kFresh;
}

std::string PictureListDigest(const std::string& pictureList) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  size_t begin = 0;
  for (size_t end = pictureList.find(';'); end != std::string::npos; end = pictureList.find(';', begin)) {
    const std::string path = pictureList.substr(begin, end - begin);
    begin = end + 1;
    QFile file(PathFromGbk(path));
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) bytes = file.read(kMaxDigestBytes);
    // Length first, so that no two lists of different pictures run together into one stream.
    const QByteArray head = QByteArray::number(bytes.size()) + ':';
    hash.addData(head);
    hash.addData(bytes);
  }
  return hash.result().toHex().toStdString();
}

bool IsDisplayablePicture(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  return ext == ".bmp" || ext == ".jpg" || ext == ".jpeg";
}

AssemblyReport AssemblePictureList(const PictureListInputs& in, std::string& pictureList, LogSink& log) {
  AssemblyReport report;
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

  if (!in.choice.stationPages && !in.choice.textPage && !in.choice.advertisements) return report;

  auto append = [&](const std::string& logText, const std::string& path) {
    pictureList += path;
    pictureList += ';';
    log.AppendLog(kLogInfo, logText + path);
  };

  if (in.choice.stationPages) {
    for (int k = 1; k <= 4; ++k) {
      const Dtstr& r = in.readings[k];
      // The data site shows a missing reading as dashes; such a station is left out.
      if (r.pm25.find('-') != std::string::npos || r.ozone.find('-') != std::string::npos) {
        ++report.leftOut;
        continue;
      }
      // An empty one was not cut from the page at all: a blank table is no reading either. A
      // station without any reading has never been fetched.
      if (r.pm25.empty() || r.ozone.empty()) {
        const bool never = r == Dtstr{};
        log.AppendLog(kLogError, Format(never ? Gbk<"不添加 %s数据: 尚未获取到数据">()
                                              : Gbk<"不添加 %s数据: PM2.5或臭氧数据为空">(),
                                        {StationName(k)}));
        ++report.leftOut;
        continue;
      }
      const std::string& published = in.publishTimes[static_cast<size_t>(k)];
      const Freshness freshness = FreshnessOf(published, in.now, in.maxDataAgeHours);
      if (freshness != Freshness::kFresh) {
        log.AppendLog(kLogError, freshness == Freshness::kStale
                                     ? Format(Gbk<"不添加 %s数据: 数据已过期 (超过 %d 小时), 发布时间 %s">(),
                                              {StationName(k), in.maxDataAgeHours, published})
                                     : Format(Gbk<"不添加 %s数据: 发布时间 %s 晚于当前时间一小时以上">(),
                                              {StationName(k), published}));
        ++report.leftOut;
        continue;
      }
      append(Format(Gbk<"添加 %s数据 ">(), {StationName(k)}), pictureFolder + std::to_string(k) + ".bmp");
      report.stations.push_back(k);
    }
  }

  if (in.choice.textPage) {
    if (in.renderTextPage) in.renderTextPage();
    append(Gbk<"添加 文本 ">(), pictureFolder + "g.bmp");
  }

  // The copy is looked for again: drawing the text page may have replaced or removed it.
  for (const std::string& name : adNames) {
    const std::string path = pictureFolder + name;
    if (IsFile(path)) append(Gbk<"添加 广告 ">(), path);
  }
  return report;
}

}  // namespace aqled
