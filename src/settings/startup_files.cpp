#include "settings/startup_files.h"

#include <system_error>

#include "settings/file_problem.h"
#include "settings/ini_file.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

void Unread(StartupProblems& problems, const std::filesystem::path& file, const std::string& reason,
            const std::string& then) {
  problems.lines.push_back(Format(Gbk<"读取文件失败: %s (%s), %s">(), {GbkFromPath(file), reason, then}));
}

const std::string& FileKeptText() { return Gbk<"保存时保留原文件">(); }

}  // namespace

std::string PictureFolderOf(const std::string& appFolder) { return appFolder + "file" + kPathSeparator; }

ProgramSettings ReadConfigFile(const std::filesystem::path& folder, const ProgramDefaults& defaults,
                               StartupProblems& problems) {
  const std::filesystem::path file = folder / "config.ini";
  const IniFile::LoadResult config = IniFile::Load(file);
  if (!config.readable) Unread(problems, file, ReadProblemOf(file), Gbk<"使用默认值">());
  return ReadProgramSettings(config.ini, defaults, &problems.lines);
}

DisplaySettings ReadDisplayFiles(const std::string& appFolder, DisplayTexts& texts,
                                 StartupProblems& problems) {
  const std::filesystem::path folder = PathFromGbk(appFolder);
  const std::filesystem::path setupIni = folder / "setup.ini";
  const IniFile::LoadResult setup = IniFile::Load(setupIni);
  if (setup.exists && !setup.readable) {
    Unread(problems, setupIni, ReadProblemOf(setupIni), FileKeptText());
    problems.unloaded.push_back(setupIni);
  }
  // The picture folder, one level.
  const std::string pictureFolder = PictureFolderOf(appFolder);
  // Without its final separator, so that a file of that name is seen as one.
  const std::filesystem::path pictures = PathFromGbk(pictureFolder).parent_path();
  std::error_code ec;
  if (!std::filesystem::is_directory(pictures, ec)) {
    std::filesystem::create_directory(pictures, ec);
    std::error_code check;
    if (!std::filesystem::is_directory(pictures, check)) {
      const std::string reason =
          std::filesystem::exists(pictures, check) ? Gbk<"已有同名的文件">() : FileProblemText(ec);
      problems.lines.push_back(Format(Gbk<"创建文件夹失败: %s (%s)">(), {pictureFolder, reason}));
    }
  }
  for (const UnreadFile& file : LoadDisplayTexts(folder, texts)) {
    Unread(problems, file.file, file.reason, FileKeptText());
    problems.unloaded.push_back(file.file);
  }
  return LoadDisplaySettings(setup.ini);
}

}  // namespace aqled
