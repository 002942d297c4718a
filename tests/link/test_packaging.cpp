#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "file_size_limit.h"
#include "link/packaging.h"
#include "settings/file_io.h"
#include "test_support.h"
#include "text/gbk.h"

namespace aqled {
namespace {

using testing::G;
using testing::RecordingLog;

constexpr const char* kId = "20240305080509";

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;

class PackagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = GbkFromPath(std::filesystem::path(dir_.path().toStdString())) + "/";
    pics_ = root_ + "file/";
    share_ = root_ + "share/";
    std::filesystem::create_directory(PathFromGbk(pics_));
  }
  QTemporaryDir dir_;
  std::string root_, pics_, share_;
  RecordingLog log_;
};

// ---- ll.xml and pp.xml, written out from the attribute tables -------------------------------

const std::string kDecl = R"(<?xml version="1.0" encoding="utf-8"?>)";

TEST_F(PackagingTest, ProgramFilesWithoutPictures) {
  std::filesystem::create_directory(PathFromGbk(share_));
  WriteProgramFiles(share_, 576, 336, kId, 0);
  EXPECT_EQ(ReadFile(share_ + "ll.xml"),
            kDecl + "  " + R"(<list deviceType="33030" screenWidth="576" screenHeight="336">)" + "    " +
                R"(<program order="0" playMode="1" playTime="1" priority="1" loop="0" dates="" times="" )"
                R"(weekFlg="127" programFile="/share/20240305080509_pp.xml" />)" +
                "   " + "</list>" + "\r\n");
  EXPECT_EQ(
      ReadFile(share_ + "pp.xml"),
      kDecl + "  " + R"(<program name="program_0" bgColor="0x00000000">)" + "    " +
          R"(<picturepanel x="0" y="0" w="576" h="336" zOrder="0"  transparency="100" pictureType="0">)" +
          "    " + "</picturepanel>" + "  " + "</program>" + "\r\n");
}

TEST_F(PackagingTest, ProgramFileWithThreePicturesOrderedFromOne) {
  std::filesystem::create_directory(PathFromGbk(share_));
  WriteProgramFiles(share_, 128, 64, kId, 3);
  std::string units;
  for (const char* k : {"1", "2", "3"}) {
    units += std::string(R"(<picUnit file="/share/20240305080509_00)") + k +
             R"(.bmp" fileType="bmp" stuntType="0" stuntSpeed="16" stayTime="10"  order=")" + k + R"("/>)";
  }
  EXPECT_EQ(
      ReadFile(share_ + "pp.xml"),
      kDecl + "  " + R"(<program name="program_0" bgColor="0x00000000">)" + "    " +
          R"(<picturepanel x="0" y="0" w="128" h="64" zOrder="0"  transparency="100" pictureType="0">)" +
          units + "    " + "</picturepanel>" + "  " + "</program>" + "\r\n");
  // The playlist does not depend on the count.
  EXPECT_EQ(ReadFile(share_ + "ll.xml"),
            kDecl + "  " + R"(<list deviceType="33030" screenWidth="128" screenHeight="64">)" + "    " +
                R"(<program order="0" playMode="1" playTime="1" priority="1" loop="0" dates="" times="" )"
                R"(weekFlg="127" programFile="/share/20240305080509_pp.xml" />)" +
                "   " + "</list>" + "\r\n");
}

TEST_F(PackagingTest, ProgramFilesReplaceOldOnesAndLeaveNoTemporaryFile) {
  std::filesystem::create_directory(PathFromGbk(share_));
  WriteFile(share_ + "ll.xml", std::string(5000, 'o'));
  WriteProgramFiles(share_, 576, 336, kId, 1);
  EXPECT_EQ(ReadFile(share_ + "ll.xml").substr(0, kDecl.size()), kDecl);
  EXPECT_LT(ReadFile(share_ + "ll.xml").size(), 5000u);
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(PathFromGbk(share_))) ++files;
  EXPECT_EQ(files, 2);
}

TEST_F(PackagingTest, UnwritableProgramFileIsAnError) {
  std::filesystem::create_directories(PathFromGbk(share_ + "pp.xml/blocker"));
  try {
    WriteProgramFiles(share_, 576, 336, kId, 0);
    FAIL() << "no error";
  } catch (const PackagingError& e) {
    EXPECT_EQ(std::string(e.what()), G("无法写入文件: ") + share_ + "pp.xml: Is a directory");
  }
  EXPECT_FALSE(Exists(share_ + "pp.xml.tmp"));
  EXPECT_THROW(WriteProgramFiles(root_ + "missing/", 576, 336, kId, 0), PackagingError);
}

// ---- staging --------------------------------------------------------------------------------

TEST_F(PackagingTest, StagingSkipsMissingPicturesWithoutGaps) {
  WriteFile(pics_ + "2.bmp", "second");
  WriteFile(pics_ + "a.jpg", "jpeg bytes");
  std::filesystem::create_directory(PathFromGbk(share_));
  WriteFile(share_ + "003.bmp", "from an earlier delivery");
  const std::string list = pics_ + "1.bmp;" + pics_ + "2.bmp;" + pics_ + "3.bmp;" + pics_ + "a.jpg;";
  EXPECT_EQ(StagePictures(list, share_, log_), 2);
  EXPECT_EQ(ReadFile(share_ + "001.bmp"), "second");
  EXPECT_EQ(ReadFile(share_ + "002.bmp"), "jpeg bytes");
  EXPECT_EQ(ReadFile(share_ + "003.bmp"), "from an earlier delivery");
  ASSERT_EQ(log_.lines.size(), 2u);
  EXPECT_EQ(log_.lines[0].kind, 1);
  EXPECT_EQ(log_.lines[0].text, G("文件:") + pics_ + "1.bmp" + G("不存在,将忽略"));
  EXPECT_EQ(log_.lines[1].kind, 1);
  EXPECT_EQ(log_.lines[1].text, G("文件:") + pics_ + "3.bmp" + G("不存在,将忽略"));
}

TEST_F(PackagingTest, TextAfterTheLastSemicolonIsIgnored) {
  for (const char* n : {"a.bmp", "b.bmp", "c.bmp"}) WriteFile(pics_ + n, n);
  EXPECT_EQ(StagePictures(pics_ + "a.bmp;" + pics_ + "b.bmp;" + pics_ + "c.bmp", share_, log_), 2);
  EXPECT_EQ(ReadFile(share_ + "002.bmp"), "b.bmp");
  EXPECT_FALSE(Exists(share_ + "003.bmp"));
  EXPECT_TRUE(log_.lines.empty());
  EXPECT_EQ(StagePictures("", share_, log_), 0);
}

TEST_F(PackagingTest, ShareFolderCreatedOneLevelOnly) {
  WriteFile(pics_ + "a.bmp", "a");
  EXPECT_EQ(StagePictures(pics_ + "a.bmp;", share_, log_), 1);
  EXPECT_EQ(ReadFile(share_ + "001.bmp"), "a");
  try {
    StagePictures(pics_ + "a.bmp;", root_ + "x/y/", log_);
    FAIL() << "no error";
  } catch (const PackagingError& e) {
    EXPECT_EQ(std::string(e.what()), G("无法创建共享目录: ") + root_ + "x/y/");
  }
}

TEST_F(PackagingTest, ShareFolderWithoutSeparatorIsTheFolder) {
  WriteFile(pics_ + "a.bmp", "a");
  const std::string bare = root_ + "share";
  EXPECT_EQ(StagePictures(pics_ + "a.bmp;", bare, log_), 1);
  WriteProgramFiles(bare, 576, 336, kId, 1);
  EXPECT_TRUE(Exists(share_ + "001.bmp"));
  EXPECT_TRUE(Exists(share_ + "ll.xml"));
  EXPECT_FALSE(Exists(root_ + "share001.bmp"));
  EXPECT_NE(BuildDownloadCommand("http://h/", bare, kId, 1)
                .find(R"("dstfilename":"20240305080509_001.bmp","size": "1"})"),
            std::string::npos);
}

TEST_F(PackagingTest, FailedCopyIsAnError) {
  WriteFile(pics_ + "a.bmp", "a");
  std::filesystem::create_directories(PathFromGbk(share_ + "001.bmp/blocker"));
  EXPECT_THROW(StagePictures(pics_ + "a.bmp;", share_, log_), PackagingError);
}

// A picture the application drew is staged as a link to the same file; a file from elsewhere
// (an advertisement's original, a link into the picture folder) as a copy. A picture drawn
// again later replaces its own name only: what was staged keeps its bytes for a downloading card.
TEST_F(PackagingTest, DrawnPicturesAreLinkedOthersCopiedAndARedrawLeavesTheStagedBytes) {
  const std::string elsewhere = root_ + "ads/";
  std::filesystem::create_directories(PathFromGbk(elsewhere));
  WriteFile(pics_ + "1.bmp", "drawn");
  WriteFile(elsewhere + "ad.bmp", "advertisement");
  std::filesystem::create_symlink(PathFromGbk(elsewhere + "ad.bmp"), PathFromGbk(pics_ + "link.bmp"));
  const std::string list = pics_ + "1.bmp;" + elsewhere + "ad.bmp;" + pics_ + "link.bmp;";
  ASSERT_EQ(StagePictures(list, share_, log_, pics_), 3);
  const auto sameFile = [](const std::string& a, const std::string& b) {
    return std::filesystem::equivalent(PathFromGbk(a), PathFromGbk(b));
  };
  const struct {
    std::string staged, source;
    bool linked;
  } rows[] = {{"001.bmp", pics_ + "1.bmp", true},
              {"002.bmp", elsewhere + "ad.bmp", false},
              {"003.bmp", elsewhere + "ad.bmp", false}};
  for (const auto& row : rows) {
    EXPECT_EQ(sameFile(share_ + row.staged, row.source), row.linked) << row.staged;
    EXPECT_EQ(ReadFile(share_ + row.staged), ReadFile(row.source)) << row.staged;
    EXPECT_FALSE(std::filesystem::is_symlink(PathFromGbk(share_ + row.staged))) << row.staged;
  }
  ASSERT_TRUE(WriteFileWhole(PathFromGbk(pics_ + "1.bmp"), "drawn again"));
  EXPECT_EQ(ReadFile(share_ + "001.bmp"), "drawn");
  ASSERT_EQ(StagePictures(list, share_, log_, pics_), 3);
  EXPECT_EQ(ReadFile(share_ + "001.bmp"), "drawn again");
  EXPECT_TRUE(log_.lines.empty());
}

TEST_F(PackagingTest, PictureAlreadyStagedIsNotLost) {
  std::filesystem::create_directory(PathFromGbk(share_));
  WriteFile(share_ + "001.bmp", "in place");
  EXPECT_EQ(StagePictures(share_ + "001.bmp;", share_, log_), 1);
  EXPECT_EQ(ReadFile(share_ + "001.bmp"), "in place");
}

// ---- a full disk ----------------------------------------------------------------------------

// The names in a folder, hidden ones too.
std::vector<std::string> Names(const std::string& gbkFolder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(PathFromGbk(gbkFolder)))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(PackagingTest, AFullDiskKeepsThePublishedFilesAndNamesTheCause) {
  WriteFile(pics_ + "big.bmp", std::string(200 * 1024, 'p'));
  std::filesystem::create_directory(PathFromGbk(share_));
  WriteFile(share_ + "001.bmp", "published earlier");
  WriteFile(share_ + "pp.xml", "old program");
  std::string staging, programFiles;
  {
    testing::FileSizeLimit full(64 * 1024);
    ASSERT_TRUE(full.ok());
    try {
      StagePictures(pics_ + "big.bmp;", share_, log_);
    } catch (const PackagingError& e) {
      staging = e.what();
    }
    try {
      WriteProgramFiles(share_, 576, 336, kId, 2000);  // a pp.xml of about 300 KB
    } catch (const PackagingError& e) {
      programFiles = e.what();
    }
  }
  EXPECT_EQ(staging,
            G("无法复制文件: ") + pics_ + "big.bmp" + G(" 到 ") + share_ + "001.bmp: File too large");
  EXPECT_EQ(programFiles, G("无法写入文件: ") + share_ + "pp.xml: File too large");
  EXPECT_EQ(ReadFile(share_ + "001.bmp"), "published earlier");
  EXPECT_EQ(ReadFile(share_ + "pp.xml"), "old program");
  EXPECT_EQ(Names(share_), (std::vector<std::string>{"001.bmp", "ll.xml", "pp.xml"}));
}

// Runs `body` in a child process in which a tmpfs of `bytes` is mounted on `folder`, in a mount
// namespace of its own that nothing outside the child sees. Returns the child's exit code, or
// 77 when the system lets this user make no such namespace.
int WithSmallDisk(const std::filesystem::path& folder, size_t bytes, const std::function<int()>& body) {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  const pid_t pid = ::fork();
  if (pid < 0) return 77;
  if (pid == 0) {
    auto write = [](const char* file, const std::string& text) {
      const int fd = ::open(file, O_WRONLY | O_CLOEXEC);
      const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
      if (fd >= 0) ::close(fd);
      return ok;
    };
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
      if (!write("/proc/self/setgroups", "deny") ||
          !write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
          !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        ::_exit(77);
    } else if (::unshare(CLONE_NEWNS) != 0) {
      ::_exit(77);
    }
    const std::string size = "size=" + std::to_string(bytes);
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
      ::_exit(77);
    ::_exit(body());
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(PackagingTest, AFullFileSystemKeepsThePublishedPictureAndSaysNoSpaceIsLeft) {
  WriteFile(pics_ + "big.bmp", std::string(512 * 1024, 'p'));
  std::filesystem::create_directory(PathFromGbk(share_));
  // Checked in the child; its findings come back on standard error and as the exit code.
  const int outcome = WithSmallDisk(PathFromGbk(share_), 64 * 1024, [&] {
    WriteFile(share_ + "001.bmp", "published earlier");
    std::string error;
    try {
      StagePictures(pics_ + "big.bmp;", share_, log_);
    } catch (const PackagingError& e) {
      error = e.what();
    }
    const std::string expected =
        G("无法复制文件: ") + pics_ + "big.bmp" + G(" 到 ") + share_ + "001.bmp: No space left on device";
    const bool ok = error == expected && ReadFile(share_ + "001.bmp") == "published earlier" &&
                    Names(share_) == std::vector<std::string>{"001.bmp"};
    if (!ok) std::fprintf(stderr, "staging on a full tmpfs: error \"%s\"\n", testing::U(error).c_str());
    return ok ? 0 : 1;
  });
  if (outcome == 77) GTEST_SKIP() << "no mount namespace for a small tmpfs here";
  EXPECT_EQ(outcome, 0);
}

// ---- commands -------------------------------------------------------------------------------

TEST_F(PackagingTest, DownloadCommandListsSizesAndMinusOne) {
  std::filesystem::create_directory(PathFromGbk(share_));
  WriteFile(share_ + "ll.xml", std::string(123, 'l'));
  WriteFile(share_ + "pp.xml", std::string(45, 'p'));
  WriteFile(share_ + "001.bmp", "12345");
  std::filesystem::create_directory(PathFromGbk(share_ + "003.bmp"));  // cannot be read as a file
  const std::string base = "http://127.0.0.1:8080/share/";
  EXPECT_EQ(
      BuildDownloadCommand(base, share_, kId, 3),
      R"({"name":"downloadfilefromurl","input":{"failonwaitingtimeout":"10","downloadmode":"queue",)"
      R"("downloadtimes":"1","updatetime":"0","items":[)"
      R"({"srcurl":"http://127.0.0.1:8080/share/ll.xml","dstpath": "share","dstfilename":"20240305080509_ll.xml","size": "123"},)"
      R"({"srcurl":"http://127.0.0.1:8080/share/pp.xml","dstpath": "share","dstfilename":"20240305080509_pp.xml","size": "45"},)"
      R"({"srcurl":"http://127.0.0.1:8080/share/001.bmp","dstpath": "share","dstfilename":"20240305080509_001.bmp","size": "5"},)"
      R"({"srcurl":"http://127.0.0.1:8080/share/002.bmp","dstpath": "share","dstfilename":"20240305080509_002.bmp","size": "-1"},)"
      R"({"srcurl":"http://127.0.0.1:8080/share/003.bmp","dstpath": "share","dstfilename":"20240305080509_003.bmp","size": "-1"}]}})");
}

TEST_F(PackagingTest, DownloadCommandWithoutPicturesHasTheTwoXmlItems) {
  EXPECT_EQ(
      BuildDownloadCommand("http://h/", share_, kId, 0),
      R"({"name":"downloadfilefromurl","input":{"failonwaitingtimeout":"10","downloadmode":"queue",)"
      R"("downloadtimes":"1","updatetime":"0","items":[)"
      R"({"srcurl":"http://h/ll.xml","dstpath": "share","dstfilename":"20240305080509_ll.xml","size": "-1"},)"
      R"({"srcurl":"http://h/pp.xml","dstpath": "share","dstfilename":"20240305080509_pp.xml","size": "-1"}]}})");
}

TEST_F(PackagingTest, TwelfthPictureItemNamesTheStagedCopy) {
  for (int k = 1; k <= 12; ++k) WriteFile(pics_ + std::to_string(k) + ".bmp", std::string(k, 'x'));
  std::string list;
  for (int k = 1; k <= 12; ++k) list += pics_ + std::to_string(k) + ".bmp;";
  ASSERT_EQ(StagePictures(list, share_, log_), 12);
  const std::string cmd = BuildDownloadCommand("http://h/s/", share_, kId, 12);
  const std::string last =
      R"({"srcurl":"http://h/s/012.bmp","dstpath": "share","dstfilename":"20240305080509_012.bmp","size": "12"}]}})";
  ASSERT_GE(cmd.size(), last.size());
  EXPECT_EQ(cmd.substr(cmd.size() - last.size()), last);
  const nlohmann::json j = nlohmann::json::parse(cmd);
  EXPECT_EQ(j["input"]["items"].size(), 14u);
}

TEST(PackagingCommands, PlayCommand) {
  EXPECT_EQ(BuildPlayCommand(kId),
            R"({"name":"play","input":{"type":"program","playlist":"share/20240305080509_ll.xml"}})");
}

TEST(PackagingCommands, DynamicCommandWithoutPicturesHasAnEmptyUnitList) {
  EXPECT_EQ(BuildDynamicCommand("http://127.0.0.1/share/", 576, 336, 0, 0, 16, 10),
            R"({"name":"UpdateDynamic","input":{"immediatelyPlay":"0","cover":"1","dynamics":[{"id":"0",)"
            R"("xCoord":"0","yCoord":"0","width":"576","height":"336","transparency":"100",)"
            R"("relativeProgram":"","runMode":"0","updateFrequency":"","unit":[]}]}})");
}

TEST(PackagingCommands, DynamicUnitsCountFromZero) {
  EXPECT_EQ(
      BuildDynamicCommand("http://127.0.0.1/share/", 128, 64, 2, 3, 20, 7),
      R"({"name":"UpdateDynamic","input":{"immediatelyPlay":"0","cover":"1","dynamics":[{"id":"0",)"
      R"("xCoord":"0","yCoord":"0","width":"128","height":"64","transparency":"100",)"
      R"("relativeProgram":"","runMode":"0","updateFrequency":"","unit":[)"
      R"({"order":"0","gifFlag":"0","stuntType":"3","stayTime":"7","content":"aHR0cDovLzEyNy4wLjAuMS9zaGFyZS8wMDEuYm1w","stuntSpeed":"20","type":"URLPicture"},)"
      R"({"order":"1","gifFlag":"0","stuntType":"3","stayTime":"7","content":"aHR0cDovLzEyNy4wLjAuMS9zaGFyZS8wMDIuYm1w","stuntSpeed":"20","type":"URLPicture"}]}]}})");
}

struct Base64Case {
  const char* name;
  std::string base;     // GBK
  std::string address;  // UTF-8 address of picture 001
  std::string content;  // as it stands between the quotes of the command
};

class DynamicContentTest : public ::testing::TestWithParam<Base64Case> {};

TEST_P(DynamicContentTest, ContentIsBase64OfTheAddressAndTheCommandIsJson) {
  const Base64Case& c = GetParam();
  const std::string cmd = BuildDynamicCommand(c.base, 576, 336, 1, 0, 16, 10);
  EXPECT_NE(cmd.find(R"("content":")" + c.content + R"(")"), std::string::npos) << cmd;
  EXPECT_EQ(cmd.find('\r'), std::string::npos);
  EXPECT_EQ(cmd.find('\n'), std::string::npos);
  const nlohmann::json j = nlohmann::json::parse(cmd);  // throws on invalid JSON
  const std::string content = j["input"]["dynamics"][0]["unit"][0]["content"];
  EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(content)).toStdString(), c.address);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, DynamicContentTest,
    ::testing::Values(
        Base64Case{"FiftySevenBytesOneLine", "http://192.168.100.200:8080/screen/share/pictures/",
                   "http://192.168.100.200:8080/screen/share/pictures/001.bmp",
                   "aHR0cDovLzE5Mi4xNjguMTAwLjIwMDo4MDgwL3NjcmVlbi9zaGFyZS9waWN0dXJlcy8wMDEuYm1w"},
        Base64Case{"LongerWithEscapedBreakAndUtf8",
                   G("http://127.0.0.1:8080/数据/led-screen/share/pictures/of/today/"),
                   "http://127.0.0.1:8080/数据/led-screen/share/pictures/of/today/001.bmp",
                   "aHR0cDovLzEyNy4wLjAuMTo4MDgwL+aVsOaNri9sZWQtc2NyZWVuL3NoYXJlL3BpY3R1cmVzL29m"
                   "\\r\\nL3RvZGF5LzAwMS5ibXA="},
        Base64Case{"TwoFullLinesNoTrailingBreak", "http://h/" + std::string(97, 'x') + "/",
                   "http://h/" + std::string(97, 'x') + "/001.bmp",
                   "aHR0cDovL2gveHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4"
                   "\\r\\neHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eC8wMDEuYm1w"},
        Base64Case{"ThreeLines", "http://h/" + std::string(105, 'x') + "/",
                   "http://h/" + std::string(105, 'x') + "/001.bmp",
                   "aHR0cDovL2gveHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4"
                   "\\r\\neHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4"
                   "\\r\\nLzAwMS5ibXA="}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PackagingCommands, Base64Fill) {
  EXPECT_EQ(MimeBase64("", "|"), "");
  EXPECT_EQ(MimeBase64("f", "|"), "Zg==");
  EXPECT_EQ(MimeBase64("fo", "|"), "Zm8=");
  EXPECT_EQ(MimeBase64("foo", "|"), "Zm9v");
  EXPECT_EQ(MimeBase64("\xff\xfe\x00", "|").size(), 4u);
}

}  // namespace
}  // namespace aqled
