// Where AppFolder is: the executable's own folder, or the user's data folder of an installed
// copy, prepared on its first start with the sample config.ini, file/ and log/.

#include <QDir>

#include "app/platform.h"
#include "app_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

namespace fs = std::filesystem;

// The sample config.ini as documented for operators.
std::string DocumentedSample() { return ReadAll(fs::path(AQLED_SOURCE_DIR) / "docs" / "config.sample.ini"); }

struct AppFolderChoiceTest : ::testing::Test {
  QTemporaryDir dir;
  fs::path root{dir.path().toStdString()};
  QString exe = dir.filePath("bin");
  QString user = dir.filePath("home/data/aqled");
  fs::path userPath{user.toStdString()};

  void SetUp() override { fs::create_directories(root / "bin"); }
};

TEST_F(AppFolderChoiceTest, AFolderOfItsOwnIsTheExecutablesAndGetsNothingWritten) {
  struct Case {
    const char* name;
    QString install;
  };
  for (const Case& c :
       {Case{"no install folder", QString()}, Case{"another install folder", dir.filePath("usr")}}) {
    SCOPED_TRACE(c.name);
    const AppFolderChoice choice = ChooseAppFolder(exe, c.install, user);
    EXPECT_EQ(choice.folder, exe.toStdString() + "/");
    EXPECT_FALSE(choice.perUser);
    EXPECT_FALSE(choice.prepared);
    EXPECT_FALSE(fs::exists(root / "bin" / "config.ini")) << "config.ini stays the operator's to write";
    EXPECT_FALSE(fs::exists(root / "home"));
  }
}

TEST_F(AppFolderChoiceTest, AnInstalledCopyPreparesTheUsersFolderOnItsFirstStart) {
  // The install folder is named with a trailing separator and a "." step: still the same folder.
  const AppFolderChoice choice = ChooseAppFolder(exe, exe + "/./", user);
  EXPECT_EQ(choice.folder, user.toStdString() + "/");
  EXPECT_TRUE(choice.perUser);
  EXPECT_TRUE(choice.prepared);
  const std::string sample = DocumentedSample();
  ASSERT_NE(sample, "<missing>");
  EXPECT_EQ(ReadAll(userPath / "config.ini"), sample);
  EXPECT_TRUE(fs::is_directory(userPath / "file"));
  EXPECT_TRUE(fs::is_directory(userPath / "log"));
  EXPECT_FALSE(fs::exists(root / "bin" / "config.ini"));

  EXPECT_EQ(ConfigLocationText(choice.folder), G("配置文件: ") + user.toStdString() + "/config.ini");
}

TEST_F(AppFolderChoiceTest, AUsersFolderWithConfigIniIsLeftAsItIs) {
  fs::create_directories(userPath);
  WriteAll(userPath / "config.ini", "[Set]\r\nsendkind=2\r\n");
  const AppFolderChoice choice = ChooseAppFolder(exe, exe, user);
  EXPECT_TRUE(choice.perUser);
  EXPECT_FALSE(choice.prepared);
  EXPECT_EQ(ReadAll(userPath / "config.ini"), "[Set]\r\nsendkind=2\r\n");
  EXPECT_FALSE(fs::exists(userPath / "log")) << "without config.ini missing, nothing is added";
  EXPECT_FALSE(fs::exists(userPath / "file"));
}

TEST_F(AppFolderChoiceTest, AUsersFolderLeftWithoutConfigIniGetsTheSampleAgainAndKeepsItsFiles) {
  fs::create_directories(userPath / "log");
  WriteAll(userPath / "setup.ini", "[A]\r\n");
  WriteAll(userPath / "log" / "Log20240305.txt", "line\r\n");
  const AppFolderChoice choice = ChooseAppFolder(exe, exe, user);
  EXPECT_TRUE(choice.prepared);
  EXPECT_EQ(ReadAll(userPath / "config.ini"), DocumentedSample());
  EXPECT_EQ(ReadAll(userPath / "setup.ini"), "[A]\r\n");
  EXPECT_EQ(ReadAll(userPath / "log" / "Log20240305.txt"), "line\r\n");
}

TEST_F(AppFolderChoiceTest, NoUsersDataFolderKeepsTheExecutablesFolder) {
  const AppFolderChoice choice = ChooseAppFolder(exe, exe, QString());
  EXPECT_EQ(choice.folder, exe.toStdString() + "/");
  EXPECT_FALSE(choice.perUser);
}

// A data folder that cannot be made (a regular file in its way): the start ends with the
// missing-config message, as for any folder without config.ini.
struct UnusableUserFolder : AppFolderFixture {};

TEST_F(UnusableUserFolder, EndsWithTheMissingConfigMessage) {
  fs::create_directories(folder / "bin");
  WriteAll(folder / "home", "not a folder");
  const AppFolderChoice choice =
      ChooseAppFolder(dir.filePath("bin"), dir.filePath("bin"), dir.filePath("home/aqled"));
  EXPECT_TRUE(choice.perUser);
  EXPECT_FALSE(choice.prepared);
  EXPECT_EQ(ReadAll(folder / "home"), "not a folder");

  appFolder = choice.folder;
  auto form = Start();
  EXPECT_TRUE(form->QuitRequested());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], G("配置文件config.ini丢失,请联系技术人员."));
}

}  // namespace
