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
#include "text/gbk.h"

namespace {

using namespace aqled;

std::string Gbk(const char* utf8) { return Utf8ToGbk(utf8); }

FontSlot Slot(int points, int color, int style) {
  FontSlot s;  // 宋体
  s.size = points;
  s.color = color;
  s.style = style;
  return s;
}

StationPageInput SampleStations() {
  StationPageInput in;
  in.W = 576;
  in.H = 336;
  in.c1 = 160;
  in.c2 = 410;
  in.titles = {Gbk("祯埠镇"), Gbk("石门洞"), Gbk("小舟山"), Gbk("千峡湖")};
  in.bigTitle = Gbk("清新空气");
  in.readings[1] = {"35", "88", "1200", Gbk("一级")};
  in.readings[2] = {"12", "105", "3500", Gbk("一级")};
  in.readings[3] = {"8", "76", "2100", Gbk("二级")};
  in.readings[4] = {"-", "64", "980", Gbk("三级")};
  in.zd = Slot(28, 0x00FFFF, 1);  // yellow
  in.bt = Slot(28, 0x00FF00, 1);  // green
  in.dw = Slot(26, 0x00FFFF, 1);
  in.dt = Slot(48, 0x0000FF, 1);   // red
  in.bz2 = Slot(24, 0xFFFFFF, 0);  // white; the "3" at 10 points
  in.wgcolor = 0x0000FF;
  return in;
}

TextPageInput SampleText(int layout) {
  TextPageInput in;
  in.W = 576;
  in.H = 336;
  in.text =
      Gbk("欢迎来到千峡湖景区\r\n今日空气质量优，负氧离子浓度高，适宜户外活动。"
          "Air quality today: excellent, PM2.5 12 ug/m3.\r\n请爱护环境，文明游览。");
  in.layout = layout;
  in.L = 6;
  in.font = Slot(20, 0x00A5FF, 0);  // orange: drawn as the nearest table colour, yellow
  QFont box;
  box.setFamilies({QString::fromUtf8("宋体"), QString::fromLatin1(kFallbackFace)});
  box.setPixelSize(27);
  in.lines = TextBoxLines(in.text, 560, box);
  return in;
}

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
