#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/program_settings.h"
#include "test_support.h"

using namespace aqled;
using aqled::testing::G;

namespace {

const ProgramDefaults kDefaults = MakeProgramDefaults("/opt/aqled/", "10.1.2.3", "https://site.example");

TEST(ProgramSettings, MachineDefaultsNameTheShareFolderAndThisPc) {
  EXPECT_EQ(kDefaults.FileBaseDir, "/opt/aqled/share/");
  EXPECT_EQ(kDefaults.HttpBaseDir, "http://10.1.2.3:8116/");
  EXPECT_EQ(MakeProgramDefaults("/x/", "", "https://site.example").HttpBaseDir, "http://127.0.0.1:8116/");
}

TEST(ProgramSettings, AnEmptyFileGivesEveryDefault) {
  const ProgramSettings s = ReadProgramSettings(IniFile(""), kDefaults);
  EXPECT_EQ(s.FileBaseDir, kDefaults.FileBaseDir);
  EXPECT_EQ(s.HttpBaseDir, "http://10.1.2.3:8116/");
  EXPECT_EQ(s.Debug, 0);
  EXPECT_EQ(s.SendTimes, 1);
  EXPECT_EQ(s.stuntType, 0);
  EXPECT_EQ(s.stuntSpeed, 16);
  EXPECT_EQ(s.stayTime, 10);
  EXPECT_EQ(s.sendkind, 1);
  EXPECT_EQ(s.StationSite, "https://site.example");
  EXPECT_EQ(s.ShareServer, 1);
  EXPECT_EQ(s.StatusPage, 1);
  EXPECT_EQ(s.AutoSend, 1);
  EXPECT_EQ(s.MaxDataAge, 6);
  EXPECT_EQ(s.NoDataText, G("空气质量数据更新中"));
  EXPECT_EQ(s.TlsVerify, 1);
  EXPECT_EQ(s.StationCA, "");
  EXPECT_TRUE(s.Cards.empty());
  EXPECT_EQ(s.MaxCards, 1);
}

TEST(ProgramSettings, ReadsEveryKeyInAnyCaseAndHexOrFallsBack) {
  const IniFile ini(
      "[PATH]\r\nHTTPBASEDIR = http://192.168.0.9:8080/led/ \r\nfilebasedir=/srv/led/\r\n"
      "stationsite=https://127.0.0.1:8443\r\nSTATIONCA= site ca.pem \r\n"
      "[Set]\r\nDEBUG=1\r\nSendTimes=3\r\nstuntType=$0A\r\nstuntSpeed=0x20\r\nstayTime=fast\r\n"
      "sendkind=2\r\nShareServer=0\r\nstatuspage=0\r\nautosend=0\r\nMAXDATAAGE=0x18\r\ntlsverify="
      "0\r\nnodatatext=" +
      G("数据维护中") + "\r\n");
  const ProgramSettings s = ReadProgramSettings(ini, kDefaults);
  EXPECT_EQ(s.HttpBaseDir, "http://192.168.0.9:8080/led/");
  EXPECT_EQ(s.FileBaseDir, "/srv/led/");
  EXPECT_EQ(s.StationSite, "https://127.0.0.1:8443");
  EXPECT_EQ(s.Debug, 1);
  EXPECT_EQ(s.SendTimes, 3);
  EXPECT_EQ(s.stuntType, 10);
  EXPECT_EQ(s.stuntSpeed, 32);
  EXPECT_EQ(s.stayTime, 10);
  EXPECT_EQ(s.sendkind, 2);
  EXPECT_EQ(s.ShareServer, 0);
  EXPECT_EQ(s.StatusPage, 0);
  EXPECT_EQ(s.AutoSend, 0);
  EXPECT_EQ(s.MaxDataAge, 24);
  EXPECT_EQ(s.NoDataText, G("数据维护中"));
  EXPECT_EQ(s.TlsVerify, 0);
  EXPECT_EQ(s.StationCA, "site ca.pem");
}

TEST(ProgramSettings, AMalformedAgeOrSwitchKeepsTheTimedDeliveryAndTheAgeRule) {
  const ProgramSettings s =
      ReadProgramSettings(IniFile("[Set]\r\nAutoSend=off\r\nMaxDataAge=6.5\r\nTlsVerify=no\r\n"), kDefaults);
  EXPECT_EQ(s.AutoSend, 1);
  EXPECT_EQ(s.MaxDataAge, 6);
  EXPECT_EQ(s.TlsVerify, 1) << "a malformed switch never turns verification off";
}

struct SeparatorCase {
  const char* fileBaseDir;
  const char* httpBaseDir;
  const char* expectedFile;
  const char* expectedHttp;
};

class FinalSeparators : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(FinalSeparators, AreAddedWhenMissing) {
  const SeparatorCase& c = GetParam();
  const IniFile ini(std::string("[Path]\r\nFileBaseDir=") + c.fileBaseDir +
                    "\r\nHttpBaseDir=" + c.httpBaseDir + "\r\n");
  const ProgramSettings s = ReadProgramSettings(ini, kDefaults);
  EXPECT_EQ(s.FileBaseDir, c.expectedFile);
  EXPECT_EQ(s.HttpBaseDir, c.expectedHttp);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FinalSeparators,
    ::testing::Values(SeparatorCase{"/srv/share/", "http://h:8116/", "/srv/share/", "http://h:8116/"},
                      SeparatorCase{"D:\\temp\\", "http://h/x/", "D:\\temp\\", "http://h/x/"},
                      SeparatorCase{"/srv/share", "http://h:8116", "/srv/share/", "http://h:8116/"},
                      // An empty value would make the root folder the share folder: the default instead.
                      SeparatorCase{"", "", "/opt/aqled/share/", "http://10.1.2.3:8116/"}));

struct CardsCase {
  const char* name;
  const char* set;                 // the lines of section Set, UTF-8
  std::vector<const char*> cards;  // UTF-8
  int maxCards;
  const char* problem;  // the line about the value, UTF-8; empty: none
};

class CardKeys : public ::testing::TestWithParam<CardsCase> {};

TEST_P(CardKeys, AreSplitTrimmedAndKeptInRange) {
  const CardsCase& c = GetParam();
  std::vector<std::string> problems;
  const ProgramSettings s =
      ReadProgramSettings(IniFile(G((std::string("[Set]\r\n") + c.set).c_str())), kDefaults, &problems);
  std::vector<std::string> cards;
  for (const char* card : c.cards) cards.push_back(G(card));
  EXPECT_EQ(s.Cards, cards);
  EXPECT_EQ(s.MaxCards, c.maxCards);
  std::vector<std::string> expected;
  if (*c.problem != '\0') expected.push_back(G(c.problem));
  EXPECT_EQ(problems, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, CardKeys,
    ::testing::Values(
        CardsCase{"Empty", "Cards=\r\nMaxCards=3\r\n", {}, 3, ""},
        CardsCase{"TrimmedAndBlanksLeftOut", "Cards= A1 ,B2,, \t,C 3 ,\r\n", {"A1", "B2", "C 3"}, 1, ""},
        CardsCase{"Chinese", "cards=屏一,屏二\r\nmaxcards=$20\r\n", {"屏一", "屏二"}, 32, ""},
        CardsCase{
            "Above", "MaxCards=100\r\n", {}, 32, "config.ini 的 Set/MaxCards=100 不在 1 到 32 之间, 取 32"},
        CardsCase{"Zero", "MaxCards=0\r\n", {}, 1, "config.ini 的 Set/MaxCards=0 不在 1 到 32 之间, 取 1"},
        CardsCase{
            "Negative", "MaxCards=-3\r\n", {}, 1, "config.ini 的 Set/MaxCards=-3 不在 1 到 32 之间, 取 1"},
        CardsCase{"Malformed", "MaxCards=many\r\n", {}, 1, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgramSettings, StationSiteLosesItsFinalSlash) {
  const ProgramSettings s =
      ReadProgramSettings(IniFile("[Path]\nStationSite=https://127.0.0.1:9443//\n"), kDefaults);
  EXPECT_EQ(s.StationSite, "https://127.0.0.1:9443");
}

}  // namespace
