#include "stations/update.h"

#include <exception>

#include "logging/operation_log.h"
#include "stations/extract.h"
#include "stations/page_text.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

std::string StationReadingsLine(const std::string& name, const Dtstr& values,
                                const std::string& publishTime) {
  std::string line = Utf8ToGbk("获取 ");
  line += name;
  line += Utf8ToGbk(" 等级 ");
  line += values.level;
  line += Utf8ToGbk(" 负氧离子 ");
  line += values.negativeIons;
  line += " PM2.5 ";
  line += values.pm25;
  line += Utf8ToGbk(" 臭氧 ");
  line += values.ozone;
  line += Utf8ToGbk(" 发布时间 ");
  line += publishTime;
  return line;
}

std::string StationFailureLine(const std::string& url, const std::string& message) {
  std::string line = Utf8ToGbk("获取 [");
  line += url;
  line += Utf8ToGbk("] 数据失败 错误代码: ");
  line += message;
  return line;
}

std::string NoReadingsText() {
  static const std::string text = Utf8ToGbk("页面中没有找到任何数据");
  return text;
}

bool StationUpdater::UpdateStationPages(const StationUrlTable& urls, StationReadings& readings,
                                        StationPublishTimes& publishTimes) {
  if (running_) return false;
  FlagScope flag(running_);
  int fetched = 0;
  for (const Station& station : StationCatalogue()) {
    const int n = station.number;
    try {
      client_.Reset();
      client_.SetAccept("*/*");
      HttpResponse response = client_.Get(urls[n]);
      if (!response.ok) {
        log_.AppendLog(kLogError, StationFailureLine(urls[n], response.error));
        continue;
      }
      const std::string decoded = DecodePageBody(response.body);
      response = HttpResponse();  // the body is not kept past its station
      if (pageTextSink_) pageTextSink_(decoded);
      const PageReadings cut = ExtractReadings(JoinTrimmedLines(decoded));
      // A page of another shape, or an error page, yields nothing: it is no station's readings.
      if (cut.pm25.empty() && cut.ozone.empty() && cut.negativeIons.empty() && cut.level.empty()) {
        log_.AppendLog(kLogError, StationFailureLine(urls[n], NoReadingsText()));
        continue;
      }
      readings[n] = cut.ToDtstr();
      publishTimes[n] = cut.publishTime;
      log_.AppendLog(kLogInfo, StationReadingsLine(station.name, readings[n], cut.publishTime));
      ++fetched;
    } catch (const std::exception& e) {
      log_.AppendLog(kLogError, StationFailureLine(urls[n], e.what()));
    }
  }
  lastFetched_ = fetched;
  return fetched == kStationCount;
}

}  // namespace aqled
