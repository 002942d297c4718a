// aqled-renderbench [--runs N] [--references FOLDER]
// Draws and writes the four station pages (1.bmp to 4.bmp) and the text page (g.bmp) at
// 576 x 336 into a temporary folder N times (default 50) and prints the time per run. With
// --references it also writes station.png, text_centred.png and text_flowing.png into FOLDER.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "render/station_pages.h"
#include "render/text_page.h"
#include "sample_pages.h"
#include "text/gbk.h"

namespace {

using namespace aqled;

using namespace aqled::samples;

bool RunOnce(const std::filesystem::path& folder) {
  const StationPagesResult stations = RenderStationPages(SampleStations(), folder);
  if (!stations.ok()) {
    std::fprintf(stderr, "%s\n", GbkToUtf8(stations.error).c_str());
    return false;
  }
  const TextPageResult text = RenderTextPage(SampleText(kFlowingLayout), folder);
  if (!text.ok()) {
    std::fprintf(stderr, "%s\n", GbkToUtf8(text.error).c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  int runs = 50;
  std::string references;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--references") && i + 1 < argc) {
      references = argv[++i];
    } else {
      std::fprintf(stderr, "usage: aqled-renderbench [--runs N] [--references FOLDER]\n");
      return 2;
    }
  }
  if (!references.empty()) {
    const QString folder = QString::fromStdString(references);
    const bool ok = DrawStationPage(SampleStations(), 4).save(folder + "/station.png") &&
                    DrawTextPage(SampleText(kCentredLayout)).save(folder + "/text_centred.png") &&
                    DrawTextPage(SampleText(kFlowingLayout)).save(folder + "/text_flowing.png");
    if (!ok) {
      std::fprintf(stderr, "cannot write the references into %s\n", references.c_str());
      return 1;
    }
  }
  QTemporaryDir dir;
  const std::filesystem::path folder = dir.path().toStdString();
  if (!RunOnce(folder)) return 1;  // warm-up: fonts loaded, caches filled
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer timer;
    timer.start();
    if (!RunOnce(folder)) return 1;
    times.push_back(timer.nsecsElapsed() / 1e6);
  }
  std::sort(times.begin(), times.end());
  double sum = 0;
  for (double t : times) sum += t;
  std::printf(
      "4 station pages + text page at 576x336, drawn and written: %d runs, median %.2f ms, mean %.2f ms, "
      "max %.2f ms\n",
      runs, times[times.size() / 2], sum / times.size(), times.back());
  return 0;
}
