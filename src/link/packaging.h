#pragma once
// Packaging of one program for a controller card: the pictures of a picture list staged as
// 001.bmp onwards in ShareFolder, the playlist ll.xml and the program pp.xml beside them, and
// the JSON commands that make a card download and play the program or show the pictures in a
// dynamic area. The card fetches the files over HTTP under HttpBaseDir.
//
// A name prefix (empty, or "<width>x<height>_" when one send stages pictures of several sizes)
// goes before every file name in ShareFolder and in the addresses the card fetches, so that
// cards of different sizes never fetch each other's files; the names the card stores them
// under are the same either way.
//
// Paths and addresses are GBK. ShareFolder and HttpBaseDir are used with their final
// separator ("/" or "\" for the folder, "/" for the address); a folder given without one is
// taken as that folder, never as a prefix of file names beside it.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "logging/operation_log.h"

namespace aqled {

// A packaging step that could not be done; what() is a GBK text for the delivery's error line.
class PackagingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `shareFolder` with a final separator ("/" added when it ends in neither "/" nor "\").
std::string ShareFolderPath(std::string_view shareFolder);

// "%.3d.bmp" of k: 001.bmp, 002.bmp, ..., 012.bmp, 1000.bmp.
std::string StagedPictureName(int k);

// Copies every existing picture of `pictureList` (entries each ended by ";"; text after the last
// ";" is ignored) into ShareFolder as 001.bmp onwards without gaps, replacing earlier files, and
// returns their count. A missing picture logs kind 1 "文件:" + path + "不存在,将忽略" and takes no
// number. Creates ShareFolder (one level) when missing. Each copy appears under its name only
// when whole (a temporary file renamed over the old one). Throws PackagingError when the folder
// cannot be created or a picture cannot be copied ("无法复制文件: " + path + " 到 " + the file in
// ShareFolder + ": " + the cause, e.g. "No space left on device"); the name being copied keeps
// its old file. Older numbered
// files above the count stay. A picture lying directly in `pictureFolder` (GBK, the folder the
// application draws its pictures into with the one writer; empty: none) is staged as a hard
// link instead of a copy where the two folders share a file system (LinkFileWhole). With
// `stagedEntries`, the entry of each picture staged is appended to it, in order.
int StagePictures(std::string_view pictureList, const std::string& shareFolder, LogSink& log,
                  const std::string& pictureFolder = {}, std::string_view namePrefix = {},
                  std::vector<std::string>* stagedEntries = nullptr);

// The playlist and the program as the card reads them: one line each, ended by CR LF.
std::string PlaylistXml(int width, int height, const std::string& programId);
std::string ProgramXml(int width, int height, const std::string& programId, int n);

// Writes ll.xml and pp.xml into ShareFolder, each whole (a temporary file renamed over the old
// one, so a reader never sees half a file). Throws PackagingError naming the file and the cause
// on failure ("无法写入文件: " + path + ": " + the cause).
void WriteProgramFiles(const std::string& shareFolder, int width, int height, const std::string& programId,
                       int n, std::string_view namePrefix = {});

// The download command: items for ll.xml, pp.xml and 001.bmp..n in that order, each with the
// size in bytes of its file in ShareFolder (-1 when the file cannot be opened).
std::string BuildDownloadCommand(const std::string& httpBaseDir, const std::string& shareFolder,
                                 const std::string& programId, int n, std::string_view namePrefix = {});

// The play command for `programId`.
std::string BuildPlayCommand(const std::string& programId);

// The dynamic-area command: one URLPicture unit per staged picture, ordered from 0, whose
// content is the picture's address (HttpBaseDir + name) as UTF-8 in MIME Base64.
std::string BuildDynamicCommand(const std::string& httpBaseDir, int width, int height, int n, int stuntType,
                                int stuntSpeed, int stayTime, std::string_view namePrefix = {});

// Standard Base64 (with "=" fill) in lines of 76 characters joined by `lineBreak`; no break
// after the last line, so up to 57 bytes give one line.
std::string MimeBase64(std::string_view bytes, std::string_view lineBreak);

}  // namespace aqled
