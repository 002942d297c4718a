#include "link/packaging.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "settings/file_io.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

namespace fs = std::filesystem;

namespace {

// GBK texts of the log and error lines.

// The card parses these files and commands as they stand: blanks, attribute order and the
// missing blank before "/>" of picUnit are part of what it has always been sent.
constexpr std::string_view kPlaylistTemplate =
    R"(<?xml version="1.0" encoding="utf-8"?>  <list deviceType="33030" screenWidth="LEDWIDTH" )"
    R"(screenHeight="LEDHEIGHT">    <program order="0" playMode="1" playTime="1" priority="1" loop="0" )"
    R"(dates="" times="" weekFlg="127" programFile="PFILE" />   </list>)";

constexpr std::string_view kProgramTemplate =
    R"(<?xml version="1.0" encoding="utf-8"?>  <program name="program_0" bgColor="0x00000000">    )"
    R"(<picturepanel x="0" y="0" w="LEDWIDTH" h="LEDHEIGHT" zOrder="0"  transparency="100" pictureType="0">)"
    R"(PICUNIT    </picturepanel>  </program>)";

constexpr std::string_view kPicUnitTemplate =
    R"(<picUnit file="PICDIR" fileType="bmp" stuntType="STPYE" stuntSpeed="SSPEED" stayTime="STIME"  )"
    R"(order="SORDER"/>)";

constexpr std::string_view kDownloadTemplate =
    R"({"name":"downloadfilefromurl","input":{"failonwaitingtimeout":"10","downloadmode":"queue",)"
    R"("downloadtimes":"1","updatetime":"0","items":[DOWNITEM]}})";
constexpr std::string_view kPlaylistItem =
    R"({"srcurl":"%s","dstpath": "share","dstfilename":"%s_ll.xml","size": "%d"})";
constexpr std::string_view kProgramItem =
    R"({"srcurl":"%s","dstpath": "share","dstfilename":"%s_pp.xml","size": "%d"})";
constexpr std::string_view kPictureItem =
    R"({"srcurl":"%s","dstpath": "share","dstfilename":"%s_%s","size": "%d"})";

constexpr std::string_view kPlayTemplate =
    R"({"name":"play","input":{"type":"program","playlist":"share/%s_ll.xml"}})";

constexpr std::string_view kDynamicTemplate =
    R"({"name":"UpdateDynamic","input":{"immediatelyPlay":"diateplay","cover":"1","dynamics":[{"id":"0",)"
    R"("xCoord":"0","yCoord":"0","width":"LEDWIDTH","height":"LEDHEIGHT","transparency":"100",)"
    R"("relativeProgram":"playtype","runMode":"runtype","updateFrequency":"","unit":[DOWNITEM]}]}})";
constexpr std::string_view kDynamicUnit =
    R"({"order":"%d","gifFlag":"0","stuntType":"%d","stayTime":"%d","content":"%s","stuntSpeed":"%d",)"
    R"("type":"URLPicture"})";

// Inside a JSON string a line break must be an escape; raw CR LF would make the command
// invalid JSON.
constexpr std::string_view kJsonLineBreak = "\\r\\n";

constexpr std::string_view kDownItem = "DOWNITEM";

// Puts `item` in front of the list marker, followed by a comma.
void InsertItem(std::string& text, const std::string& item) {
  text = ReplaceFirst(text, kDownItem, item + "," + std::string(kDownItem));
}

// Removes the marker with the comma before it, or alone when the list stayed empty.
void RemoveMarker(std::string& text) {
  const std::string withComma = "," + std::string(kDownItem);
  if (text.find(withComma) != std::string::npos)
    text = ReplaceFirst(text, withComma, "");
  else
    text = ReplaceFirst(text, kDownItem, "");
}

long long SizeOrMinusOne(const std::string& gbkPath) {
  const fs::path p = PathFromGbk(gbkPath);
  std::error_code ec;
  if (!fs::is_regular_file(p, ec)) return -1;
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  if (!in.is_open()) return -1;
  const std::streamoff size = in.tellg();
  return size < 0 ? -1 : static_cast<long long>(size);
}

// Writes `bytes` as the whole file `gbkPath` (a temporary file renamed over the old one).
void WriteWhole(const std::string& gbkPath, const std::string& bytes) {
  const FileWriteResult written = WriteFileWhole(PathFromGbk(gbkPath), bytes);
  if (!written) throw PackagingError(Gbk<"无法写入文件: ">() + gbkPath + ": " + written.error);
}

}  // namespace

std::string ShareFolderPath(std::string_view shareFolder) {
  std::string folder(shareFolder);
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder;
}

std::string StagedPictureName(int k) { return Format("%.3d.bmp", {static_cast<long long>(k)}); }

int StagePictures(std::string_view pictureList, const std::string& shareFolder, LogSink& log,
                  const std::string& pictureFolder, std::string_view namePrefix,
                  std::vector<std::string>* stagedEntries) {
  const std::string folder = ShareFolderPath(shareFolder);
  std::error_code ec;
  const fs::path folderPath = PathFromGbk(folder);
  const fs::path drawn = pictureFolder.empty() ? fs::path() : PathFromGbk(ShareFolderPath(pictureFolder));
  // A picture the application drew: a plain file directly in the picture folder.
  const auto isDrawn = [&](const fs::path& source) {
    std::error_code linkError;
    return !drawn.empty() && fs::is_regular_file(fs::symlink_status(source, linkError)) &&
           fs::equivalent(source.parent_path(), drawn.parent_path(), linkError);
  };
  if (!fs::is_directory(folderPath, ec)) {
    if (!fs::create_directory(folderPath, ec) || ec)
      throw PackagingError(Gbk<"无法创建共享目录: ">() + folder);
  }

  int k = 0;
  std::string_view remaining = pictureList;
  for (size_t semi = remaining.find(';'); semi != std::string_view::npos; semi = remaining.find(';')) {
    const std::string item(remaining.substr(0, semi));
    remaining.remove_prefix(semi + 1);
    const fs::path source = PathFromGbk(item);
    if (item.empty() || !fs::is_regular_file(source, ec)) {
      log.AppendLog(kLogError, Gbk<"文件:">() + item + Gbk<"不存在,将忽略">());
      continue;
    }
    ++k;
    if (stagedEntries) stagedEntries->push_back(item);
    const std::string staged = folder + std::string(namePrefix) + StagedPictureName(k);
    const fs::path target = PathFromGbk(staged);
    // A picture that already is the staged file is in place.
    if (fs::equivalent(source, target, ec)) continue;
    // The card may be downloading the old picture: the new one appears under the name only
    // when whole, and a failed copy leaves the old one.
    const FileWriteResult copied =
        isDrawn(source) ? LinkFileWhole(source, target) : CopyFileWhole(source, target);
    if (!copied)
      throw PackagingError(Gbk<"无法复制文件: ">() + item + Gbk<" 到 ">() + staged + ": " + copied.error);
  }
  return k;
}

std::string PlaylistXml(int width, int height, const std::string& programId) {
  std::string text(kPlaylistTemplate);
  text = ReplaceFirst(text, "LEDWIDTH", std::to_string(width));
  text = ReplaceFirst(text, "LEDHEIGHT", std::to_string(height));
  text = ReplaceFirst(text, "PFILE", Format("/share/%s_pp.xml", {programId}));
  return text + "\r\n";
}

std::string ProgramXml(int width, int height, const std::string& programId, int n) {
  std::string text(kProgramTemplate);
  for (int k = 1; k <= n; ++k) {
    std::string unit(kPicUnitTemplate);
    unit = ReplaceFirst(unit, "PICDIR",
                        "/share/" + Format("%s_%.3d.bmp", {programId, static_cast<long long>(k)}));
    unit = ReplaceFirst(unit, "STPYE", "0");
    unit = ReplaceFirst(unit, "SSPEED", "16");
    unit = ReplaceFirst(unit, "STIME", "10");
    unit = ReplaceFirst(unit, "SORDER", std::to_string(k));
    text = ReplaceFirst(text, "PICUNIT", unit + "PICUNIT");
  }
  text = ReplaceFirst(text, "PICUNIT", "");
  text = ReplaceFirst(text, "LEDWIDTH", std::to_string(width));
  text = ReplaceFirst(text, "LEDHEIGHT", std::to_string(height));
  return text + "\r\n";
}

void WriteProgramFiles(const std::string& shareFolder, int width, int height, const std::string& programId,
                       int n, std::string_view namePrefix) {
  const std::string folder = ShareFolderPath(shareFolder) + std::string(namePrefix);
  WriteWhole(folder + "ll.xml", PlaylistXml(width, height, programId));
  WriteWhole(folder + "pp.xml", ProgramXml(width, height, programId, n));
}

std::string BuildDownloadCommand(const std::string& httpBaseDir, const std::string& shareFolder,
                                 const std::string& programId, int n, std::string_view namePrefix) {
  // The files are fetched under their staged names and stored on the card under the usual ones.
  const std::string folder = ShareFolderPath(shareFolder) + std::string(namePrefix);
  const std::string base = httpBaseDir + std::string(namePrefix);
  std::string text(kDownloadTemplate);
  InsertItem(text, Format(kPlaylistItem, {base + "ll.xml", programId, SizeOrMinusOne(folder + "ll.xml")}));
  InsertItem(text, Format(kProgramItem, {base + "pp.xml", programId, SizeOrMinusOne(folder + "pp.xml")}));
  for (int k = 1; k <= n; ++k) {
    const std::string name = StagedPictureName(k);
    InsertItem(text, Format(kPictureItem, {base + name, programId, name, SizeOrMinusOne(folder + name)}));
  }
  RemoveMarker(text);
  return text;
}

std::string BuildPlayCommand(const std::string& programId) { return Format(kPlayTemplate, {programId}); }

std::string BuildDynamicCommand(const std::string& httpBaseDir, int width, int height, int n, int stuntType,
                                int stuntSpeed, int stayTime, std::string_view namePrefix) {
  std::string text(kDynamicTemplate);
  text = ReplaceFirst(text, "LEDWIDTH", std::to_string(width));
  text = ReplaceFirst(text, "LEDHEIGHT", std::to_string(height));
  text = ReplaceFirst(text, "diateplay", "0");
  text = ReplaceFirst(text, "playtype", "");
  text = ReplaceFirst(text, "runtype", "0");
  for (int k = 1; k <= n; ++k) {
    const std::string content =
        MimeBase64(GbkToUtf8(httpBaseDir + std::string(namePrefix) + StagedPictureName(k)), kJsonLineBreak);
    InsertItem(text, Format(kDynamicUnit,
                            {static_cast<long long>(k - 1), static_cast<long long>(stuntType),
                             static_cast<long long>(stayTime), content, static_cast<long long>(stuntSpeed)}));
  }
  RemoveMarker(text);
  return text;
}

std::string MimeBase64(std::string_view bytes, std::string_view lineBreak) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string plain;
  plain.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    const unsigned b0 = static_cast<unsigned char>(bytes[i]);
    const unsigned b1 = left > 1 ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    const unsigned b2 = left > 2 ? static_cast<unsigned char>(bytes[i + 2]) : 0;
    const unsigned v = (b0 << 16) | (b1 << 8) | b2;
    plain += kAlphabet[(v >> 18) & 63];
    plain += kAlphabet[(v >> 12) & 63];
    plain += left > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    plain += left > 2 ? kAlphabet[v & 63] : '=';
  }
  constexpr size_t kLine = 76;
  std::string out;
  out.reserve(plain.size() + plain.size() / kLine * lineBreak.size());
  for (size_t i = 0; i < plain.size(); i += kLine) {
    if (i > 0) out += lineBreak;
    out.append(plain, i, kLine);
  }
  return out;
}

}  // namespace aqled
