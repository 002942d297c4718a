#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "compose/advertisement_list.h"
#include "test_support.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

using testing::G;

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;

class AdvertisementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = GbkFromPath(std::filesystem::path(dir_.path().toStdString())) + "/";
    pics_ = root_ + "file/";
    std::filesystem::create_directory(PathFromGbk(pics_));
    std::filesystem::create_directory(PathFromGbk(root_ + "a"));
    std::filesystem::create_directory(PathFromGbk(root_ + "b"));
  }
  // A dialog that answers `path` and counts how often it was opened.
  ChooseFile Answer(std::optional<std::string> path) {
    return [this, path](const std::string& filter) {
      ++dialogs_;
      lastFilter_ = filter;
      return path;
    };
  }

  QTemporaryDir dir_;
  std::string root_, pics_;
  int dialogs_ = 0;
  std::string lastFilter_;
};

TEST_F(AdvertisementTest, FifthAddAllowedSixthRefusedWithoutDialog) {
  std::vector<std::string> entries = {"/p/1.jpg", "/p/2.jpg", "/p/3.jpg", "/p/4.jpg"};
  WriteFile(root_ + "a/five.jpg", "5");
  EXPECT_EQ(AddAdvertisement(entries, pics_, Answer(root_ + "a/five.jpg")), AddOutcome::kAdded);
  EXPECT_EQ(dialogs_, 1);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries.back(), root_ + "a/five.jpg");

  EXPECT_EQ(AddAdvertisement(entries, pics_, Answer(root_ + "a/five.jpg")), AddOutcome::kRefused);
  EXPECT_EQ(dialogs_, 1);
  EXPECT_EQ(entries.size(), 5u);
  EXPECT_EQ(AdvertisementLimitMessage(), G("广告文件不可超过5个"));
}

TEST_F(AdvertisementTest, SevenLoadedEntriesRefuseEveryAddUntilDeletedBelowFive) {
  // gg.txt as the settings store writes it: one entry per line, CR LF.
  std::vector<std::string> entries = SplitLines(
      "/p/1.jpg\r\n/p/2.jpg\r\n/p/3.jpg\r\n/p/4.jpg\r\n"
      "/p/5.jpg\r\n/p/6.jpg\r\n/p/7.jpg\r\n");
  ASSERT_EQ(entries.size(), 7u);
  for (size_t expected = 7; expected >= 5; --expected) {
    EXPECT_EQ(AddAdvertisement(entries, pics_, Answer("/p/new.jpg")), AddOutcome::kRefused);
    EXPECT_EQ(entries.size(), expected);
    EXPECT_TRUE(DeleteAdvertisement(entries, 0));
  }
  EXPECT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries.front(), "/p/4.jpg");
  EXPECT_EQ(dialogs_, 0);
  EXPECT_EQ(AddAdvertisement(entries, pics_, Answer("/p/new.jpg")), AddOutcome::kAdded);
  EXPECT_EQ(dialogs_, 1);
}

TEST_F(AdvertisementTest, DialogGetsTheFilterAndCancelChangesNothing) {
  std::vector<std::string> entries = {"/p/1.jpg"};
  EXPECT_EQ(AddAdvertisement(entries, pics_, Answer(std::nullopt)), AddOutcome::kCancelled);
  EXPECT_EQ(entries, std::vector<std::string>{"/p/1.jpg"});
  EXPECT_EQ(lastFilter_,
            "(*.bmp,*.jpg,*.jpeg,*.avi,*.mpg,*.mov,*.mp4,*.*.wmv,*.rmvb)|"
            "*.bmp;*.jpg;*.jpeg;*.avi;*.mpg;*.mov;*.mp4;*.wmv;*.rmvb");
  EXPECT_EQ(AdvertisementDialogFilter(),
            "(*.bmp,*.jpg,*.jpeg,*.avi,*.mpg,*.mov,*.mp4,*.*.wmv,*.rmvb) (*.bmp *.BMP *.jpg *.JPG *.jpeg "
            "*.JPEG *.avi *.AVI *.mpg *.MPG *.mov *.MOV *.mp4 *.MP4 *.wmv *.WMV *.rmvb *.RMVB)");
}

TEST_F(AdvertisementTest, TwoFilesOfOneNameShareOneCopyFromTheLater) {
  WriteFile(root_ + "a/x.jpg", "from a");
  WriteFile(root_ + "b/x.jpg", "from b");
  std::vector<std::string> entries;
  EXPECT_EQ(AddAdvertisement(entries, pics_, Answer(root_ + "a/x.jpg")), AddOutcome::kAdded);
  EXPECT_EQ(ReadFile(pics_ + "x.jpg"), "from a");
  EXPECT_EQ(AddAdvertisement(entries, pics_, Answer(root_ + "b/x.jpg")), AddOutcome::kAdded);
  EXPECT_EQ(entries, (std::vector<std::string>{root_ + "a/x.jpg", root_ + "b/x.jpg"}));
  EXPECT_EQ(ReadFile(pics_ + "x.jpg"), "from b");
}

TEST_F(AdvertisementTest, FailedCopyKeepsTheEntry) {
  std::vector<std::string> entries;
  EXPECT_EQ(AddAdvertisement(entries, pics_, Answer(root_ + "a/gone.jpg")), AddOutcome::kAdded);
  WriteFile(root_ + "a/y.jpg", "y");
  EXPECT_EQ(AddAdvertisement(entries, root_ + "no-such-folder/", Answer(root_ + "a/y.jpg")),
            AddOutcome::kAdded);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_FALSE(Exists(pics_ + "gone.jpg"));
  EXPECT_FALSE(CopyAdvertisement(root_ + "a/y.jpg", root_ + "no-such-folder/"));
}

TEST_F(AdvertisementTest, FileChosenFromThePictureFolderStaysIntact) {
  WriteFile(pics_ + "own.jpg", "own bytes");
  EXPECT_TRUE(CopyAdvertisement(pics_ + "own.jpg", pics_));
  EXPECT_EQ(ReadFile(pics_ + "own.jpg"), "own bytes");
}

TEST_F(AdvertisementTest, VideoIsListedAndCopiedButDoesNotOpen) {
  WriteFile(root_ + "a/clip.mp4", "video");
  std::vector<std::string> entries;
  EXPECT_EQ(AddAdvertisement(entries, pics_, Answer(root_ + "a/clip.mp4")), AddOutcome::kAdded);
  EXPECT_EQ(ReadFile(pics_ + "clip.mp4"), "video");
  EXPECT_FALSE(AdvertisementToOpen(entries, 0).has_value());
}

TEST_F(AdvertisementTest, DeleteRemovesOnlyTheSelectedEntryAndKeepsTheCopy) {
  WriteFile(pics_ + "b.jpg", "copy");
  std::vector<std::string> entries = {"/p/a.jpg", "/p/b.jpg", "/p/c.jpg"};
  for (int none : {-1, 3, 100}) {
    EXPECT_FALSE(DeleteAdvertisement(entries, none));
    EXPECT_EQ(entries.size(), 3u);
  }
  EXPECT_TRUE(DeleteAdvertisement(entries, 1));
  EXPECT_EQ(entries, (std::vector<std::string>{"/p/a.jpg", "/p/c.jpg"}));
  EXPECT_TRUE(Exists(pics_ + "b.jpg"));
}

TEST_F(AdvertisementTest, OpenNeedsAnExistingPictureSourceAndASelection) {
  WriteFile(root_ + "a/PROMO.JPG", "p");
  WriteFile(root_ + "a/shot.jpeg", "s");
  WriteFile(root_ + "a/anim.gif", "g");
  std::filesystem::create_directory(PathFromGbk(root_ + "a/folder.bmp"));
  WriteFile(pics_ + "moved.jpg", "the copy is still there");
  const std::vector<std::string> entries = {root_ + "a/PROMO.JPG", root_ + "a/shot.jpeg",
                                            root_ + "a/anim.gif", root_ + "a/folder.bmp",
                                            root_ + "a/moved.jpg"};
  EXPECT_EQ(AdvertisementToOpen(entries, 0), entries[0]);
  EXPECT_EQ(AdvertisementToOpen(entries, 1), entries[1]);
  EXPECT_FALSE(AdvertisementToOpen(entries, 2));
  EXPECT_FALSE(AdvertisementToOpen(entries, 3));
  EXPECT_FALSE(AdvertisementToOpen(entries, 4));
  EXPECT_FALSE(AdvertisementToOpen(entries, -1));
  EXPECT_FALSE(AdvertisementToOpen(entries, 5));
  EXPECT_FALSE(AdvertisementToOpen({}, 0));
}

}  // namespace
}  // namespace aqled
