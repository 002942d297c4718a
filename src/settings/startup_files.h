#pragma once
// What the program reads from AppFolder when it starts: config.ini, setup.ini, the picture
// folder and the three text files. Nothing here fails the start: a file that cannot be read
// gives the defaults (or keeps the window's text) with a kind-1 line, and one that exists is
// noted so that a save leaves it as it is.

#include <filesystem>
#include <string>
#include <vector>

#include "settings/display_settings.h"
#include "settings/program_settings.h"

namespace aqled {

// PictureFolder, where the pictures are drawn and the advertisements kept: AppFolder + "file" +
// separator. `appFolder` (GBK) must end with the separator.
std::string PictureFolderOf(const std::string& appFolder);

// The kind-1 lines of what failed, in the order of the steps, and the files that exist but
// could not be read.
struct StartupProblems {
  std::vector<std::string> lines;
  std::vector<std::filesystem::path> unloaded;
};

// config.ini of `folder` (which the caller has found there): the program settings, the
// defaults for an unreadable file ("读取文件失败: <file> (<reason>), 使用默认值") and for each
// value out of range (ReadProgramSettings).
ProgramSettings ReadConfigFile(const std::filesystem::path& folder, const ProgramDefaults& defaults,
                               StartupProblems& problems);

// setup.ini of `appFolder` (GBK; the defaults when it is missing or cannot be read), then
// PictureFolder made when it is not there ("创建文件夹失败: <PictureFolder> (<reason>)"), then fly.txt,
// gg.txt and txt.txt into `texts` (LoadDisplayTexts). An unreadable setup.ini or text file is
// "读取文件失败: <file> (<reason>), 保存时保留原文件" and is noted as unloaded.
DisplaySettings ReadDisplayFiles(const std::string& appFolder, DisplayTexts& texts,
                                 StartupProblems& problems);

}  // namespace aqled
