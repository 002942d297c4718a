// DeliverProgram over a controller link whose slot 1 holds a card on a recording connection.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "file_size_limit.h"
#include "link/delivery.h"
#include "link_harness.h"

namespace aqled {
namespace {

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FakeConnection;
using testing::G;
using testing::RecordingLog;
using testing::U;

constexpr const char* kCleanUp = R"({"name":"clearuselessmaterial"})";
constexpr const char* kProgramId = "20240305080509";  // FakeClock's start, 2024-03-05 08:05:09

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    root = fs::path(tmp.path().toStdString());
    fs::create_directory(root / "file");
    settings.config.FileBaseDir = (root / "share").string() + "/";
    settings.config.HttpBaseDir = "http://127.0.0.1:8116/share/";
  }
  // The card SIM1 "north" (128 x 64) logs in on `card`; what that wrote and logged is forgotten.
  void LogIn() {
    link.Sessions().HandleLogin(nlohmann::json::parse(R"({"barcode":"SIM1","controllername":"north",)"
                                                      R"("width":"128","height":"64"})"),
                                card);
    // Its Login answer, once the wait is over.
    link.Sessions().SendLoginAnswer(*card);
    card->writes.clear();
    log.lines.clear();
  }
  std::string Picture(const std::string& name, const std::string& bytes) {
    std::ofstream(root / "file" / name, std::ios::binary) << bytes;
    return (root / "file" / name).string() + ";";
  }
  DeliveryStart Deliver(const std::string& list) { return DeliverProgram(link, settings, list, clock, log); }
  fs::path Share(const char* name) const { return root / "share" / name; }

  QTemporaryDir tmp;
  fs::path root;
  DeliverySettings settings;
  FakeClock clock;
  RecordingLog log;
  ControllerLink link{log, clock};
  std::shared_ptr<FakeConnection> card = std::make_shared<FakeConnection>(21, "127.0.0.1");
};

TEST_F(DeliveryTest, WithoutACardNothingIsStagedSentOrLoggedAndThePendingResetIsDropped) {
  link.ArmCardReset();
  const std::string list = Picture("1.bmp", "one");
  for (int sendkind : {1, 2}) {
    settings.config.sendkind = sendkind;
    EXPECT_EQ(Deliver(list), DeliveryStart::kNoCard);
    EXPECT_TRUE(log.lines.empty()) << sendkind;
    EXPECT_FALSE(fs::exists(root / "share")) << sendkind;
    EXPECT_EQ(link.Exchange().deliverySlot, 1);
    EXPECT_FALSE(link.Exchange().pendingDiskQuery);
    EXPECT_FALSE(link.Exchange().pendingStopPlay);
    EXPECT_TRUE(link.Slot(1).pictureList.empty());
  }
  // A card that logged in and went away counts as no card.
  LogIn();
  link.Sessions().HandleClose(*card);
  log.lines.clear();
  EXPECT_EQ(Deliver(list), DeliveryStart::kNoCard);
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(card->writes.empty());
  EXPECT_FALSE(link.DeliveryInFlight());
}

TEST_F(DeliveryTest, ProgramRouteStagesWritesBothFilesStoresTheCommandsAndSendsTheCleanUp) {
  LogIn();
  const std::string list =
      Picture("1.bmp", "first") + (root / "file" / "2.bmp").string() + ";" + Picture("g.bmp", "text page");
  EXPECT_EQ(Deliver(list), DeliveryStart::kSent);
  EXPECT_TRUE(link.DeliveryInFlight());
  EXPECT_EQ(link.Exchange().watchedRoute, DeliveryRoute::kProgram);
  EXPECT_EQ(link.Exchange().watchStarted, clock.Now());

  // The missing 2.bmp takes no number.
  EXPECT_EQ(Slurp(Share("001.bmp")), "first");
  EXPECT_EQ(Slurp(Share("002.bmp")), "text page");
  EXPECT_FALSE(fs::exists(Share("003.bmp")));
  EXPECT_TRUE(fs::exists(Share("ll.xml")));
  EXPECT_NE(Slurp(Share("pp.xml")).find(std::string(kProgramId) + "_002.bmp"), std::string::npos);
  EXPECT_EQ(link.Slot(1).pictureList, list);

  ASSERT_EQ(log.lines.size(), 3u) << ::testing::PrintToString(log.Texts());
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(U(log.lines[0].text), "文件:" + (root / "file" / "2.bmp").string() + "不存在,将忽略");
  EXPECT_EQ(log.lines[1].kind, 2);
  EXPECT_EQ(log.lines[1].text, G("向 [标签: SIM1, 名称: north] 发送数据..."));
  EXPECT_EQ(log.lines[2].kind, 2);
  EXPECT_EQ(log.lines[2].text, G("发送:") + kCleanUp);

  // The clean-up of a delivery: 31 bytes, no blank after the colon, in a 63-byte frame.
  ASSERT_EQ(card->writes.size(), 1u);
  EXPECT_EQ(card->writes[0].size(), 63u);
  EXPECT_EQ(card->Payloads()[0], kCleanUp);
  EXPECT_EQ(std::string(kCleanUp).size(), 31u);

  const ExchangeState& state = link.Exchange();
  EXPECT_EQ(state.deliverySlot, 1);
  EXPECT_EQ(state.playCommand, std::string(R"({"name":"play","input":{"type":"program","playlist":"share/)") +
                                   kProgramId + R"(_ll.xml"}})");
  EXPECT_TRUE(state.downloadPending);
  EXPECT_NE(state.downloadCommand.find(R"("srcurl":"http://127.0.0.1:8116/share/002.bmp")"),
            std::string::npos);
  EXPECT_NE(state.downloadCommand.find(R"("size": "9")"), std::string::npos) << "g.bmp's 9 bytes";
  EXPECT_EQ(state.downloadCommand.find("003.bmp"), std::string::npos);
}

class DynamicRoute : public DeliveryTest, public ::testing::WithParamInterface<int> {};

TEST_P(DynamicRoute, StagesThePicturesAndSendsOneDynamicCommandWithoutProgramFiles) {
  settings.config.sendkind = GetParam();
  LogIn();
  EXPECT_EQ(Deliver(Picture("1.bmp", "first") + Picture("a.jpg", "advert")), DeliveryStart::kSent);
  EXPECT_EQ(link.Exchange().watchedRoute, DeliveryRoute::kDynamic);

  EXPECT_EQ(Slurp(Share("001.bmp")), "first");
  EXPECT_EQ(Slurp(Share("002.bmp")), "advert");
  EXPECT_FALSE(fs::exists(Share("ll.xml")));
  EXPECT_FALSE(fs::exists(Share("pp.xml")));

  ASSERT_EQ(log.lines.size(), 2u) << ::testing::PrintToString(log.Texts());
  EXPECT_EQ(log.lines[0].kind, 2);
  EXPECT_EQ(log.lines[0].text, G("向 [标签: SIM1, 名称: north] 发送动态区数据..."));
  ASSERT_EQ(card->writes.size(), 1u);
  const std::string sent = card->Payloads()[0];
  EXPECT_EQ(log.lines[1].text, G("发送:") + sent);
  EXPECT_EQ(sent, link.Exchange().dynamicCommand);
  EXPECT_EQ(sent.rfind(R"({"name":"UpdateDynamic")", 0), 0u);
  // Unit 0 carries the first staged picture's address, unit 1 the second's.
  const auto b64 = [](const char* s) { return QByteArray(s).toBase64().toStdString(); };
  const size_t first = sent.find(b64("http://127.0.0.1:8116/share/001.bmp"));
  const size_t second = sent.find(b64("http://127.0.0.1:8116/share/002.bmp"));
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_TRUE(nlohmann::json::accept(sent));
  EXPECT_FALSE(link.Exchange().downloadPending);
}

INSTANTIATE_TEST_SUITE_P(SendKinds, DynamicRoute, ::testing::Values(0, 2, -1));

TEST_F(DeliveryTest, AnEmptyPictureListStillMakesAProgramOrAnEmptyDynamicArea) {
  LogIn();
  Deliver("");
  EXPECT_TRUE(fs::exists(Share("ll.xml")));
  EXPECT_TRUE(fs::exists(Share("pp.xml")));
  EXPECT_FALSE(fs::exists(Share("001.bmp")));
  ASSERT_EQ(card->Payloads().size(), 1u);
  EXPECT_EQ(card->Payloads()[0], kCleanUp);
  const std::string download = link.Exchange().downloadCommand;
  EXPECT_NE(download.find("ll.xml"), std::string::npos);
  EXPECT_EQ(download.find(".bmp"), std::string::npos);

  settings.config.sendkind = 2;
  card->writes.clear();
  Deliver("");
  ASSERT_EQ(card->Payloads().size(), 1u);
  const auto command = nlohmann::json::parse(card->Payloads()[0]);
  EXPECT_TRUE(command["input"]["dynamics"][0]["unit"].empty()) << card->Payloads()[0];
}

struct FailureCase {
  const char* name;
  int sendkind;
  const char* errorPrefix;  // UTF-8
};

class DeliveryFailure : public DeliveryTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DeliveryFailure, AShareFolderThatCannotBeMadeGivesTheRouteErrorLineAndSendsNothing) {
  settings.config.sendkind = GetParam().sendkind;
  // ShareFolder's parent is a plain file, so the folder cannot be created.
  std::ofstream(root / "blocker") << "x";
  settings.config.FileBaseDir = (root / "blocker" / "share").string() + "/";
  LogIn();
  EXPECT_EQ(Deliver(Picture("1.bmp", "first")), DeliveryStart::kFailed);
  EXPECT_FALSE(link.DeliveryInFlight());
  ASSERT_EQ(log.lines.size(), 1u) << ::testing::PrintToString(log.Texts());
  EXPECT_EQ(log.lines[0].kind, 1);
  const std::string line = U(log.lines[0].text);
  EXPECT_EQ(line.rfind(GetParam().errorPrefix, 0), 0u) << line;
  EXPECT_GT(line.size(), std::string(GetParam().errorPrefix).size()) << "the failure is described";
  EXPECT_TRUE(card->writes.empty());
  EXPECT_FALSE(link.Exchange().downloadPending);
}

TEST_P(DeliveryFailure, AFullDiskPublishesNoPartialPictureAndLogsTheCause) {
  settings.config.sendkind = GetParam().sendkind;
  LogIn();
  const std::string list = Picture("1.bmp", std::string(200 * 1024, 'p'));
  {
    testing::FileSizeLimit full(64 * 1024);
    ASSERT_TRUE(full.ok());
    Deliver(list);
  }
  ASSERT_EQ(log.lines.size(), 1u) << ::testing::PrintToString(log.Texts());
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(U(log.lines[0].text), GetParam().errorPrefix + std::string("无法复制文件: ") +
                                      (root / "file" / "1.bmp").string() + " 到 " +
                                      Share("001.bmp").string() + ": File too large");
  EXPECT_TRUE(fs::is_empty(root / "share")) << "neither 001.bmp nor a temporary file";
  EXPECT_TRUE(card->writes.empty());
  EXPECT_FALSE(link.Exchange().downloadPending);
}

TEST_P(DeliveryFailure, AShareFolderFileThatCannotBeWrittenIsNamedInTheErrorLine) {
  settings.config.sendkind = GetParam().sendkind;
  LogIn();
  fs::create_directories(Share("001.bmp"));  // a folder where the picture goes
  EXPECT_EQ(Deliver(Picture("1.bmp", "first")), DeliveryStart::kFailed);
  ASSERT_EQ(log.lines.size(), 1u) << ::testing::PrintToString(log.Texts());
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(U(log.lines[0].text), GetParam().errorPrefix + std::string("无法复制文件: ") +
                                      (root / "file" / "1.bmp").string() + " 到 " +
                                      Share("001.bmp").string() + ": Is a directory");
  EXPECT_TRUE(card->writes.empty());
}

TEST_F(DeliveryTest, TheProgramCarriesTheAreaThePicturesWereDrawnAtNotTheReportedSize) {
  link.Sessions().HandleLogin(nlohmann::json::parse(R"({"barcode":"SIM1","controllername":"north",)"
                                                    R"("width":"2147483647","height":"2147483647"})"),
                              card);
  link.Sessions().SendLoginAnswer(*card);
  card->writes.clear();
  settings.area = QSize(256, 96);
  ASSERT_EQ(Deliver(Picture("1.bmp", "first")), DeliveryStart::kSent);
  EXPECT_EQ(Slurp(Share("ll.xml")),
            R"(<?xml version="1.0" encoding="utf-8"?>  <list deviceType="33030" screenWidth="256" )"
            R"(screenHeight="96">    <program order="0" playMode="1" playTime="1" priority="1" loop="0" )"
            R"(dates="" times="" weekFlg="127" programFile="/share/20240305080509_pp.xml" />   </list>)"
            "\r\n");
  EXPECT_NE(Slurp(Share("pp.xml")).find(R"(<picturepanel x="0" y="0" w="256" h="96" zOrder="0")"),
            std::string::npos);

  settings.config.sendkind = 2;
  card->writes.clear();
  ASSERT_EQ(Deliver(Picture("1.bmp", "first")), DeliveryStart::kSent);
  ASSERT_EQ(card->writes.size(), 1u);
  EXPECT_NE(card->writes[0].find(R"("xCoord":"0","yCoord":"0","width":"256","height":"96",)"),
            std::string::npos)
      << card->writes[0];
}

TEST_F(DeliveryTest, ACardThatRefusesTheFirstCommandFailsTheDeliveryAndIsGone) {
  LogIn();
  card->refuse = true;
  EXPECT_EQ(Deliver(Picture("1.bmp", "first")), DeliveryStart::kFailed);
  EXPECT_FALSE(link.DeliveryInFlight());
  EXPECT_FALSE(link.SlotConnected(1));
  EXPECT_EQ(U(log.lines.back().text), "客户端:SIM1 断开连接");
}

TEST_F(DeliveryTest, TheLinkReportsAStalledDeliveryOnItsOwnTimerAndOnAsk) {
  LogIn();
  QSignalSpy ended(&link, &ControllerLink::DeliveryEnded);
  ASSERT_EQ(Deliver(Picture("1.bmp", "first")), DeliveryStart::kSent);
  clock.Advance(kProgramDeliveryLimitMs - 1);
  link.CheckDeliveryDeadline();
  EXPECT_EQ(ended.count(), 0);
  // The link's own check finds the limit on the clock without being asked.
  clock.Advance(1);
  EXPECT_TRUE(ended.wait(5 * kPeriodicCheckMs));
  ASSERT_EQ(ended.count(), 1);
  EXPECT_EQ(ended[0][0].value<DeliveryOutcome>(), DeliveryOutcome::kStalled);
  EXPECT_EQ(U(log.lines.back().text), "标签: SIM1, 名称: north, 10 分钟内未完成节目发送, 发送失败.");

  // A dynamic area, asked at its limit.
  settings.config.sendkind = 2;
  ASSERT_EQ(Deliver(Picture("1.bmp", "first")), DeliveryStart::kSent);
  clock.Advance(kDynamicDeliveryLimitMs);
  link.CheckDeliveryDeadline();
  ASSERT_EQ(ended.count(), 2);
  EXPECT_EQ(ended[1][0].value<DeliveryOutcome>(), DeliveryOutcome::kStalled);
  EXPECT_FALSE(link.DeliveryInFlight());
}

INSTANTIATE_TEST_SUITE_P(Routes, DeliveryFailure,
                         ::testing::Values(FailureCase{"program", 1, "发送节目出现错误: "},
                                           FailureCase{"dynamic", 2, "发送动态区数据出现错误: "}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace aqled
