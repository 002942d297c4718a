#pragma once
// The sample station pages and text page that the benchmarks draw: 576 x 336, Chinese titles,
// readings with a dash at station 4, an orange text font.

#include <QFont>
#include <QString>
#include <string>

#include "render/station_pages.h"
#include "render/text_page.h"
#include "text/gbk.h"

namespace aqled::samples {

inline std::string Gbk(const char* utf8) { return Utf8ToGbk(utf8); }

inline FontSlot Slot(int points, int color, int style) {
  FontSlot s;  // 宋体
  s.size = points;
  s.color = color;
  s.style = style;
  return s;
}

inline StationPageInput SampleStations() {
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

inline TextPageInput SampleText(int layout) {
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

}  // namespace aqled::samples
