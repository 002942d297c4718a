#include "stations/update.h"

#include <exception>

#include "logging/operation_log.h"
#include "stations/extract.h"
#include "stations/limits.h"
#include "stations/page_text.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

std::string StationReadingsLine(const std::string& name, const Dtstr& values,
                                const std::string& publishTime) {
  std::string line = Gbk<"获取 ">();
  line += name;
  line += Gbk<" 等级 ">();
  line += values.level;
  line += Gbk<" 负氧离子 ">();
  line += values.negativeIons;
  line += " PM2.5 ";
  line += values.pm25;
  line += Gbk<" 臭氧 ">();
  line += values.ozone;
  line += Gbk<" 发布时间 ">();
  line += publishTime;
  return line;
}

std::string StationFailureLine(const std::string& url, const std::string& message) {
  std::string line = Gbk<"获取 [">();
  line += url;
  line += Gbk<"] 数据失败 错误代码: ">();
  line += message;
  return line;
}

std::string NoReadingsText() { return Gbk<"页面中没有找到任何数据">(); }

std::string OverlongValueText(const std::string& label, std::size_t bytes, std::size_t maxBytes) {
  return Format(Gbk<"页面中的%s过长: %d 字节, 最多 %d 字节">(),
                {label, static_cast<long long>(bytes), static_cast<long long>(maxBytes)});
}

namespace {

// The failure message of a page one of whose texts is longer than it can be; empty when every
// text fits.
std::string OverlongValue(const PageReadings& cut) {
  const std::string& level = Gbk<"等级">();
  const std::string& ions = Gbk<"负氧离子">();
  static const std::string pm25 = "PM2.5";
  const std::string& ozone = Gbk<"臭氧">();
  const std::string& time = Gbk<"发布时间">();
  const struct {
    const std::string& label;
    const std::string& value;
    std::size_t maxBytes;
  } texts[] = {{level, cut.level, kMaxReadingBytes},
               {ions, cut.negativeIons, kMaxReadingBytes},
               {pm25, cut.pm25, kMaxReadingBytes},
               {ozone, cut.ozone, kMaxReadingBytes},
               {time, cut.publishTime, kMaxPublishTimeBytes}};
  for (const auto& t : texts) {
    if (t.value.size() > t.maxBytes) return OverlongValueText(t.label, t.value.size(), t.maxBytes);
  }
  return {};
}

}  // namespace

bool StationUpdater::UpdateStationPages(const StationUrlTable& urls, StationReadings& readings,
                                        StationPublishTimes& publishTimes) {
  if (running_) return false;
  FlagScope flag(running_);
  int fetched = 0;
  std::array<FetchOutcome, kStationCount + 1> outcomes{};
  for (const Station& station : StationCatalogue()) {
    const int n = station.number;
    outcomes[n] = FetchOutcome::kFailed;
    try {
      client_.Reset();
      client_.SetAccept("*/*");
      std::string pageText;
      {
        HttpResponse response = client_.Get(urls[n]);
        if (!response.ok) {
          // A reason phrase, or an address the site redirected to, is the site's text.
          log_.AppendLog(kLogError,
                         StationFailureLine(urls[n], CutGbkText(response.error, kMaxLoggedSiteText)));
          continue;
        }
        std::string decoded = DecodePageBody(response.body);
        response = HttpResponse();  // the body is not kept past its decoding
        if (pageTextSink_) pageTextSink_(CutGbkText(decoded, kMaxPageTextShown));
        pageText = JoinTrimmedLines(decoded);
      }
      const PageReadings cut = ExtractReadings(pageText);
      pageText = std::string();
      // A page of another shape, or an error page, yields nothing: it is no station's readings.
      if (cut.pm25.empty() && cut.ozone.empty() && cut.negativeIons.empty() && cut.level.empty()) {
        log_.AppendLog(kLogError, StationFailureLine(urls[n], NoReadingsText()));
        outcomes[n] = FetchOutcome::kNoReadings;
        continue;
      }
      // Nor is a page with a text longer than a reading can be.
      if (const std::string overlong = OverlongValue(cut); !overlong.empty()) {
        log_.AppendLog(kLogError, StationFailureLine(urls[n], overlong));
        outcomes[n] = FetchOutcome::kOverlong;
        continue;
      }
      readings[n] = cut.ToDtstr();
      publishTimes[n] = cut.publishTime;
      log_.AppendLog(kLogInfo, StationReadingsLine(station.name, readings[n], cut.publishTime));
      outcomes[n] = FetchOutcome::kOk;
      ++fetched;
    } catch (const std::exception& e) {
      log_.AppendLog(kLogError,
                     StationFailureLine(urls[n], CutGbkText(Utf8ToGbkLenient(e.what()), kMaxLoggedSiteText)));
    }
  }
  lastFetched_ = fetched;
  lastOutcomes_ = outcomes;
  return fetched == kStationCount;
}

}  // namespace aqled
