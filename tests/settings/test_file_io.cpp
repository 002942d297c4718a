// The one whole-file writer: what stands under the name is always a whole file, the old one or
// the new one, and a failure names its cause.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "file_size_limit.h"
#include "settings/file_io.h"
#include "test_support.h"

namespace aqled {
namespace {

namespace fs = std::filesystem;
using testing::FileSizeLimit;
using testing::ReadBytes;
using testing::WriteBytes;

struct WholeFile : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  // The names in the folder, hidden ones too.
  std::vector<std::string> Names(const fs::path& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
  }
  QTemporaryDir dir;
  fs::path base{dir.path().toStdString()};
};

TEST_F(WholeFile, ReplacesTheFileAndLeavesNothingElse) {
  WriteBytes(base / "a.txt", std::string(5000, 'o'));
  ASSERT_TRUE(WriteFileWhole(base / "a.txt", "new"));
  EXPECT_EQ(ReadBytes(base / "a.txt"), "new");
  ASSERT_TRUE(WriteFileWhole(base / "b.txt", ""));
  EXPECT_TRUE(fs::is_regular_file(base / "b.txt"));
  EXPECT_EQ(fs::file_size(base / "b.txt"), 0u);
  EXPECT_EQ(Names(base), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(WholeFile, AReplacedFileKeepsItsPermissionsAndANewOneFollowsTheUmask) {
  WriteBytes(base / "kept.ini", "old");
  fs::permissions(base / "kept.ini", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const mode_t previous = ::umask(022);
  const bool keptWritten = static_cast<bool>(WriteFileWhole(base / "kept.ini", "new"));
  const bool freshWritten = static_cast<bool>(WriteFileWhole(base / "fresh.bmp", "new"));
  ::umask(previous);
  ASSERT_TRUE(keptWritten && freshWritten);
  EXPECT_EQ(fs::status(base / "kept.ini").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // Readable by others, so that an outside web server can publish a staged file.
  EXPECT_EQ(fs::status(base / "fresh.bmp").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

TEST_F(WholeFile, ALinkUnderTheNameIsReplacedNotFollowed) {
  WriteBytes(base / "elsewhere.txt", "untouched");
  fs::create_symlink(base / "elsewhere.txt", base / "001.bmp");
  ASSERT_TRUE(WriteFileWhole(base / "001.bmp", "picture"));
  EXPECT_FALSE(fs::is_symlink(base / "001.bmp"));
  EXPECT_EQ(ReadBytes(base / "001.bmp"), "picture");
  EXPECT_EQ(ReadBytes(base / "elsewhere.txt"), "untouched");
}

// A link is staged under the name whether the name is new, another file, or already a link of
// the same file; nothing else is left in the folder.
TEST_F(WholeFile, ALinkTakesTheNameAndLeavesNothingElse) {
  WriteBytes(base / "1.bmp", "drawn");
  WriteBytes(base / "002.bmp", "older");
  for (const char* name : {"001.bmp", "001.bmp", "002.bmp"}) {
    ASSERT_TRUE(LinkFileWhole(base / "1.bmp", base / name)) << name;
    EXPECT_TRUE(fs::equivalent(base / "1.bmp", base / name)) << name;
    EXPECT_EQ(Names(base), (std::vector<std::string>{"001.bmp", "002.bmp", "1.bmp"})) << name;
  }
}

struct FailureCase {
  const char* name;
  const char* cause;  // the system's text for the error
};

class WholeFileFailure : public WholeFile, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(WholeFileFailure, NamesTheCauseAndKeepsWhatWasThere) {
  const std::string name = GetParam().name;
  fs::create_directories(base / "blocked" / "inside");  // a folder where the file should go
  fs::path target = base / "missing-folder" / "a.txt";
  if (name == "folder") target = base / "blocked";
  const FileWriteResult written = WriteFileWhole(target, "bytes");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error, GetParam().cause);
  const FileWriteResult copied = CopyFileWhole(base / "no-source", base / "copy.bmp");
  ASSERT_FALSE(copied);
  EXPECT_EQ(copied.error, "No such file or directory");
  EXPECT_EQ(Names(base), (std::vector<std::string>{"blocked"}));
  EXPECT_TRUE(fs::is_directory(base / "blocked" / "inside"));
}

INSTANTIATE_TEST_SUITE_P(Targets, WholeFileFailure,
                         ::testing::Values(FailureCase{"missing", "No such file or directory"},
                                           FailureCase{"folder", "Is a directory"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WholeFile, AFullDiskKeepsTheOldFileWholeAndSaysWhy) {
  const std::string big = Pattern(200 * 1024);
  WriteBytes(base / "source.bmp", big);
  WriteBytes(base / "001.bmp", "old picture");
  WriteBytes(base / "ll.xml", "old list");
  FileWriteResult copied, written;
  {
    FileSizeLimit full(64 * 1024);
    ASSERT_TRUE(full.ok());
    copied = CopyFileWhole(base / "source.bmp", base / "001.bmp");
    written = WriteFileWhole(base / "ll.xml", big);
  }
  EXPECT_EQ(copied.error, "File too large");
  EXPECT_EQ(written.error, "File too large");
  EXPECT_EQ(ReadBytes(base / "001.bmp"), "old picture");
  EXPECT_EQ(ReadBytes(base / "ll.xml"), "old list");
  EXPECT_EQ(Names(base), (std::vector<std::string>{"001.bmp", "ll.xml", "source.bmp"}));
}

TEST_F(WholeFile, ACopyIsByteExactAndASourceThatIsNoFileFails) {
  const std::string big = Pattern(3 * 1024 * 1024 + 17);  // several pieces and a short last one
  WriteBytes(base / "source.bmp", big);
  ASSERT_TRUE(CopyFileWhole(base / "source.bmp", base / "copy.bmp"));
  EXPECT_TRUE(ReadBytes(base / "copy.bmp") == big);
  fs::create_directory(base / "folder");
  const FileWriteResult fromFolder = CopyFileWhole(base / "folder", base / "copy.bmp");
  EXPECT_EQ(fromFolder.error, "Is a directory");
  EXPECT_TRUE(ReadBytes(base / "copy.bmp") == big);
  EXPECT_EQ(Names(base), (std::vector<std::string>{"copy.bmp", "folder", "source.bmp"}));
}

// --- reading whole, within a limit ----------------------------------------------------------

struct ReadCase {
  const char* name;
  size_t size;
  std::uintmax_t limit;
  bool read;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class WholeRead : public WholeFile, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(WholeRead, ReadsAFileUpToItsLimitAndNothingPastIt) {
  const std::string bytes = Pattern(GetParam().size);
  WriteBytes(base / "f.txt", bytes);
  const std::optional<std::string> read = ReadFileWhole(base / "f.txt", GetParam().limit);
  ASSERT_EQ(read.has_value(), GetParam().read);
  if (read) {
    EXPECT_TRUE(*read == bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, WholeRead,
    ::testing::Values(ReadCase{"Empty", 0, 0, true}, ReadCase{"AtTheLimit", 5000, 5000, true},
                      ReadCase{"OneByteOver", 5001, 5000, false},
                      // Several read pieces, the last one short.
                      ReadCase{"LargeWithin", 200 * 1024 + 3, kMaxSettingsFileBytes, true},
                      ReadCase{"SettingsLimitPlusOne", kMaxSettingsFileBytes + 1, kMaxSettingsFileBytes,
                               false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WholeFile, NothingIsReadFromAFolderOrAMissingFile) {
  fs::create_directory(base / "folder");
  EXPECT_FALSE(ReadFileWhole(base / "folder", kMaxSettingsFileBytes).has_value());
  EXPECT_FALSE(ReadFileWhole(base / "missing", kMaxSettingsFileBytes).has_value());
}

TEST_F(WholeFile, LeftoverTemporariesAreRemovedAndNothingThatOnlyLooksLikeThem) {
  const std::vector<std::string> leftovers = {".001.bmp.Xy7Qa2.tmp", ".setup.ini.abc123.tmp",
                                              ".ll.xml.ZZZZZZ.tmp"};
  const std::vector<std::string> kept = {".001.bmp.Xy7Qa.tmp",     // five letters
                                         ".001.bmp.Xy7Qa22.tmp",   // seven
                                         ".001.bmp.Xy7-a2.tmp",    // not a letter or digit
                                         ".001.bmp.Xy7Qa2.TMP",    // another ending
                                         ".001.bmp.Xy7Qa2.tmp.1",  // something after it
                                         "001.bmp.Xy7Qa2.tmp",     // not hidden
                                         "..Xy7Qa2.tmp",           // no name before the random part
                                         ".Xy7Qa2.tmp",           "001.bmp", "keep.txt"};
  for (const std::string& name : leftovers) WriteBytes(base / name, "half");
  for (const std::string& name : kept) WriteBytes(base / name, "mine");
  fs::create_directory(base / ".folder.abcdef.tmp");
  WriteBytes(base / ".folder.abcdef.tmp" / ".inner.abcdef.tmp", "in a subfolder");
  fs::create_symlink(base / "keep.txt", base / ".link.abcdef.tmp");

  EXPECT_EQ(RemoveLeftoverTemporaries(base), 3);
  std::vector<std::string> expected = kept;
  expected.insert(expected.end(), {".folder.abcdef.tmp", ".link.abcdef.tmp"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(base), expected);
  EXPECT_EQ(ReadBytes(base / "keep.txt"), "mine") << "the link's target stays";
  EXPECT_TRUE(fs::exists(base / ".folder.abcdef.tmp" / ".inner.abcdef.tmp"));
  EXPECT_EQ(RemoveLeftoverTemporaries(base / "missing"), 0);
}

}  // namespace
}  // namespace aqled
