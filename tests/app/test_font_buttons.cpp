#include <QPushButton>

#include "app_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

struct FontButton {
  const char* button;
  FontSlot DisplayFonts::*slot;
  bool boldOnly;  // the bold test of the button
  // Where setup.ini keeps the slot: its section and the keys of name, size, color and style.
  const char* section;
  const char* keys[4];
};

// setup.ini lines (UTF-8) that store `slot` for the button.
std::string StoredSlot(const FontButton& b, const FontSlot& slot) {
  return std::string("[") + b.section + "]\r\n" + b.keys[0] + "=" + GbkToUtf8(slot.name) + "\r\n" +
         b.keys[1] + "=" + std::to_string(slot.size) + "\r\n" + b.keys[2] + "=" + std::to_string(slot.color) +
         "\r\n" + b.keys[3] + "=" + std::to_string(slot.style) + "\r\n";
}

class FontButtons : public AppFolderFixture, public ::testing::WithParamInterface<FontButton> {
 protected:
  void SetUp() override {
    WithConfig();
    form = Start();
    button = form->findChild<QPushButton*>(GetParam().button);
    ASSERT_NE(button, nullptr);
  }
  const FontSlot& Slot() const { return form->Fonts().*GetParam().slot; }
  // The window started again on a setup.ini that stores `slot` for the button.
  void RestartWith(const FontSlot& slot) {
    form.reset();
    WriteAll(folder / "setup.ini", G(StoredSlot(GetParam(), slot).c_str()));
    form = Start();
    button = form->findChild<QPushButton*>(GetParam().button);
    ASSERT_EQ(Slot(), slot);
  }
  std::unique_ptr<TForm1> form;
  QPushButton* button = nullptr;
};

TEST_P(FontButtons, TakeFaceSizeAndColourAndTheStyleByTheirBoldTest) {
  const DisplayFonts before = form->Fonts();
  dialogs.fontAnswer = FontChoice{G("黑体"), 30, 0x00FF00, true, true, false, false};  // bold italic
  button->click();
  EXPECT_EQ(Slot(), (FontSlot{G("黑体"), 30, 0x00FF00, GetParam().boldOnly ? 0 : 1}));

  // No other slot changed.
  DisplayFonts others = form->Fonts();
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
  RestartWith(FontSlot{G("楷体"), 22, 0x0000FF, 2});
  dialogs.fontAnswer.reset();
  button->click();
  ASSERT_EQ(dialogs.fontPresets.size(), 1u);
  // Style 2 marks bold only under the buttons whose test takes any style.
  EXPECT_EQ(dialogs.fontPresets[0],
            (FontChoice{G("楷体"), 22, 0x0000FF, !GetParam().boldOnly, false, false, false}));

  RestartWith(FontSlot{G("楷体"), 22, 0x0000FF, 1});
  button->click();
  EXPECT_TRUE(dialogs.fontPresets.at(1).bold);
}

TEST_P(FontButtons, CancelChangesNothing) {
  RestartWith(FontSlot{G("楷体"), 22, 0x0000FF, 1});
  const std::string stored = ReadAll(folder / "setup.ini");
  const DisplayFonts before = form->Fonts();
  dialogs.fontAnswer.reset();
  button->click();
  EXPECT_EQ(form->Fonts(), before);
  EXPECT_EQ(ReadAll(folder / "setup.ini"), stored);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, FontButtons,
    ::testing::Values(
        FontButton{
            "Button12", &DisplayFonts::zd, false, "字体设置", {"zdname", "zdsize", "zdcolor", "zdstyle"}},
        FontButton{
            "Button5", &DisplayFonts::bt, false, "字体设置", {"btname", "btsize", "btcolor", "btstyle"}},
        FontButton{
            "Button1", &DisplayFonts::dw, true, "字体设置", {"dwname", "dwsize", "dwcolor", "dwstyle"}},
        FontButton{"Button13",
                   &DisplayFonts::qxdj,
                   false,
                   "字体设置",
                   {"qxdjname", "qxdjsize", "qxdjcolor", "qxdjstyle"}},
        FontButton{
            "Button3", &DisplayFonts::dt, true, "字体设置", {"dtname", "dtsize", "dtcolor", "dtstyle"}},
        FontButton{
            "Button9", &DisplayFonts::bz2, true, "字体设置", {"bzname2", "bzsize2", "bzcolor2", "bzstyle2"}},
        FontButton{
            "Button6", &DisplayFonts::bz, true, "字体设置", {"bzname", "bzsize", "bzcolor", "bzstyle"}},
        FontButton{"Button10", &DisplayFonts::clock, true, "其它设置", {"name", "size", "color", "style"}},
        FontButton{"Button8",
                   &DisplayFonts::time,
                   false,
                   "字体设置",
                   {"timename", "timesize", "timecolor", "timestyle"}}),
    [](const auto& info) { return std::string(info.param.button); });

using ColourButton = AppFolderFixture;

TEST_F(ColourButton, ChoosesTheTableColourOrLeavesItOnCancel) {
  WithConfig();
  auto form = Start();
  dialogs.colourAnswer = 0x00FF8000;
  Control<QPushButton>(*form, "Button2")->click();
  ASSERT_EQ(dialogs.colourPresets.size(), 1u);
  EXPECT_EQ(dialogs.colourPresets[0], 255);
  EXPECT_EQ(form->Fonts().wgcolor, 0x00FF8000);

  const DisplayFonts before = form->Fonts();
  dialogs.colourAnswer.reset();
  Control<QPushButton>(*form, "Button2")->click();
  EXPECT_EQ(dialogs.colourPresets.at(1), 0x00FF8000);
  EXPECT_EQ(form->Fonts(), before);
  EXPECT_FALSE(std::filesystem::exists(folder / "setup.ini"));
}

TEST_F(ColourButton, AFontChangeWithoutImmediateExecutionIsLostAtTheNextStart) {
  WithConfig();
  {
    auto form = Start();
    dialogs.fontAnswer = FontChoice{G("黑体"), 40, 7, false, false, false, false};
    Control<QPushButton>(*form, "Button3")->click();
    EXPECT_EQ(form->Fonts().dt.size, 40);
  }
  auto again = Start();
  EXPECT_EQ(again->Fonts().dt, (FontSlot{G("宋体"), 16, 255, 0}));
}

}  // namespace
