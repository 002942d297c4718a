// The area a send draws its pages at, from the display settings and the card's screen.
#include <gtest/gtest.h>

#include "render/display_area.h"

namespace aqled {
namespace {

struct AreaCase {
  const char* name;
  int dtw, dth;
  QSize card;  // invalid: no card
  QSize area;  // empty: the send cannot draw
};
void PrintTo(const AreaCase& c, std::ostream* os) { *os << c.name; }

class SendAreaTest : public ::testing::TestWithParam<AreaCase> {};

TEST_P(SendAreaTest, ZeroSidesTakeTheCardsScreen) {
  const AreaCase& c = GetParam();
  const QSize area = SendArea(c.dtw, c.dth, c.card);
  if (c.area.isEmpty()) {
    EXPECT_TRUE(area.isEmpty()) << area.width() << "x" << area.height();
  } else {
    EXPECT_EQ(area, c.area);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Area, SendAreaTest,
    ::testing::Values(AreaCase{"SetAreaWins", 96, 48, QSize(576, 336), QSize(96, 48)},
                      AreaCase{"SetAreaWithoutACard", 96, 48, QSize(), QSize(96, 48)},
                      AreaCase{"BothZeroTakeTheCard", 0, 0, QSize(128, 64), QSize(128, 64)},
                      AreaCase{"OnlyTheZeroSideIsTaken", 0, 48, QSize(128, 64), QSize(128, 48)},
                      AreaCase{"ZeroHeight", 96, 0, QSize(128, 64), QSize(96, 64)},
                      AreaCase{"NoCard", 0, 0, QSize(), QSize()},
                      AreaCase{"NoCardAndOneZero", 96, 0, QSize(), QSize()},
                      AreaCase{"ACardWithoutASize", 0, 0, QSize(0, 0), QSize()},
                      AreaCase{"ANegativeCard", 0, 0, QSize(-5, 64), QSize()},
                      AreaCase{"AHugeCardIsCut", 0, 0, QSize(100000, 100000), QSize(576, 336)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace aqled
