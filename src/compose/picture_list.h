#pragma once
// The picture list of one program: which pictures of PictureFolder are sent, in which order.
// Each entry is an absolute path followed by ";", the last entry too; the empty text means no
// pictures. Paths are GBK and use the platform's separator.

#include <QDateTime>
#include <functional>
#include <string>
#include <vector>

#include "logging/operation_log.h"
#include "settings/startup_files.h"
#include "stations/readings.h"

namespace aqled {

// The three check boxes that choose the kinds of picture.
struct PictureChoice {
  bool stationPages = true;     // dt1check "显示清新空气"
  bool textPage = false;        // ggcheck "是否显示"
  bool advertisements = false;  // gg2check "是否显示广告"
};

struct PictureListInputs {
  std::string appFolder;  // GBK, ending with kPathSeparator
  PictureChoice choice;
  StationReadings readings;                 // PM2.5 and ozone of stations 1..4 decide their pages
  StationPublishTimes publishTimes;         // the publish time text of each station's readings
  QDateTime now;                            // the time the publish times are judged at
  int maxDataAgeHours = 0;                  // older readings are left out; 0 or less: never
  std::vector<std::string> advertisements;  // entries of the advertisement list, in order
  // Draws g.bmp into PictureFolder; called only when the text page is chosen (an empty function
  // draws nothing). May throw.
  std::function<void()> renderTextPage;
};

// A publish time further ahead of the clock than this is no reading of now: the site's clock
// and this PC's may differ by minutes, not by an hour.
inline constexpr qint64 kMaxPublishAheadSecs = 3600;

// How a publish time stands at `now` for readings that may be `maxDataAgeHours` old.
enum class Freshness {
  kFresh,     // within the age, or not judged (no date, or no age limit)
  kStale,     // more than maxDataAgeHours before `now`
  kInFuture,  // more than kMaxPublishAheadSecs after `now`
};
Freshness FreshnessOf(const std::string& publishTime, const QDateTime& now, int maxDataAgeHours);

// The stations of one assembled list.
struct AssemblyReport {
  std::vector<int> stations;  // station numbers whose page is on the list, in order
  int leftOut = 0;            // stations left out for a dash, an empty, stale or future reading
};

// Builds the picture list into `pictureList` (emptied first): station pages 1..4 whose PM2.5
// and ozone hold no "-" and are not empty and whose publish time is fresh (FreshnessOf; a
// publish time that is no date is not judged), the text page, then the advertisements whose
// copy exists in PictureFolder with extension .bmp/.jpg/.jpeg (any case) and no ";" in the
// name. Logs one kind-3 line per entry and one kind-1 line per station left out for an empty,
// stale or future reading, or for none at all (never fetched; a dash leaves it out silently); nothing when no
// box is checked. An error of renderTextPage passes through, and the list then holds the station entries
// appended so far.
AssemblyReport AssemblePictureList(const PictureListInputs& in, std::string& pictureList, LogSink& log);

// A digest of the pictures of a list, in order: equal digests mean the screen would show the
// same. A file that cannot be read counts as empty.
std::string PictureListDigest(const std::string& pictureList);

// Whether the path's extension, compared without case, is one the screen shows: ".bmp", ".jpg"
// or ".jpeg". Separators are "\\", "/" and ":".
bool IsDisplayablePicture(const std::string& path);

}  // namespace aqled
