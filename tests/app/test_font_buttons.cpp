#include <QPushButton>

#include "app_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

struct FontButton {
  const char* button;
  FontSlot DisplayFonts::*slot;
  bool boldOnly;  // the bold test of the button
};

class FontButtons : public AppFolderFixture, public ::testing::WithParamInterface<FontButton> {
 protected:
  void SetUp() override {
    WithConfig();
    form = Start();
    button = form->findChild<QPushButton*>(GetParam().button);
    ASSERT_NE(button, nullptr);
  }
  FontSlot& Slot() { return form->fonts.*GetParam().slot; }
  std::unique_ptr<TForm1> form;
  QPushButton* button = nullptr;
};

TEST_P(FontButtons, TakeFaceSizeAndColourAndTheStyleByTheirBoldTest) {
  const DisplayFonts before = form->fonts;
  dialogs.fontAnswer = FontChoice{G("黑体"), 30, 0x00FF00, true, true, false, false};  // bold italic
  button->click();
  EXPECT_EQ(Slot(), (FontSlot{G("黑体"), 30, 0x00FF00, GetParam().boldOnly ? 0 : 1}));

  // No other slot changed.
  DisplayFonts others = form->fonts;
  others.*GetParam().slot = before.*GetParam().slot;
  EXPECT_EQ(others, before);

  dialogs.fontAnswer = FontChoice{"Sans", 9, 1, true, false, false, false};  // bold alone
  button->click();
  EXPECT_EQ(Slot().style, 1);
  dialogs.fontAnswer = FontChoice{"Sans", 9, 1, false, true, false, false};  // italic alone
  button->click();
  EXPECT_EQ(Slot().style, GetParam().boldOnly ? 0 : 1);
  dialogs.fontAnswer = FontChoice{"Sans", 9, 1, false, false, false, false};
  button->click();
  EXPECT_EQ(Slot().style, 0);
}

TEST_P(FontButtons, PreFillTheDialogFromTheSlot) {
  Slot() = FontSlot{G("楷体"), 22, 0x0000FF, 2};
  dialogs.fontAnswer.reset();
  button->click();
  ASSERT_EQ(dialogs.fontPresets.size(), 1u);
  // Style 2 marks bold only under the buttons whose test takes any style.
  EXPECT_EQ(dialogs.fontPresets[0],
            (FontChoice{G("楷体"), 22, 0x0000FF, !GetParam().boldOnly, false, false, false}));

  Slot().style = 1;
  button->click();
  EXPECT_TRUE(dialogs.fontPresets.at(1).bold);
}

TEST_P(FontButtons, CancelChangesNothing) {
  Slot() = FontSlot{G("楷体"), 22, 0x0000FF, 1};
  const DisplayFonts before = form->fonts;
  dialogs.fontAnswer.reset();
  button->click();
  EXPECT_EQ(form->fonts, before);
  EXPECT_FALSE(std::filesystem::exists(folder / "setup.ini"));
}

INSTANTIATE_TEST_SUITE_P(Buttons, FontButtons,
                         ::testing::Values(FontButton{"Button12", &DisplayFonts::zd, false},
                                           FontButton{"Button5", &DisplayFonts::bt, false},
                                           FontButton{"Button1", &DisplayFonts::dw, true},
                                           FontButton{"Button13", &DisplayFonts::qxdj, false},
                                           FontButton{"Button3", &DisplayFonts::dt, true},
                                           FontButton{"Button9", &DisplayFonts::bz2, true},
                                           FontButton{"Button6", &DisplayFonts::bz, true},
                                           FontButton{"Button10", &DisplayFonts::clock, true},
                                           FontButton{"Button8", &DisplayFonts::time, false}),
                         [](const auto& info) { return std::string(info.param.button); });

using ColourButton = AppFolderFixture;

TEST_F(ColourButton, ChoosesTheTableColourOrLeavesItOnCancel) {
  WithConfig();
  auto form = Start();
  dialogs.colourAnswer = 0x00FF8000;
  Control<QPushButton>(*form, "Button2")->click();
  ASSERT_EQ(dialogs.colourPresets.size(), 1u);
  EXPECT_EQ(dialogs.colourPresets[0], 255);
  EXPECT_EQ(form->fonts.wgcolor, 0x00FF8000);

  const DisplayFonts before = form->fonts;
  dialogs.colourAnswer.reset();
  Control<QPushButton>(*form, "Button2")->click();
  EXPECT_EQ(dialogs.colourPresets.at(1), 0x00FF8000);
  EXPECT_EQ(form->fonts, before);
  EXPECT_FALSE(std::filesystem::exists(folder / "setup.ini"));
}

TEST_F(ColourButton, AFontChangeWithoutImmediateExecutionIsLostAtTheNextStart) {
  WithConfig();
  {
    auto form = Start();
    dialogs.fontAnswer = FontChoice{G("黑体"), 40, 7, false, false, false, false};
    Control<QPushButton>(*form, "Button3")->click();
    EXPECT_EQ(form->fonts.dt.size, 40);
  }
  auto again = Start();
  EXPECT_EQ(again->fonts.dt, (FontSlot{G("宋体"), 16, 255, 0}));
}

}  // namespace
