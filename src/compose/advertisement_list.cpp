#include "compose/advertisement_list.h"

#include <filesystem>
#include <system_error>

#include "compose/picture_list.h"
#include "settings/file_io.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

const std::string& AdvertisementLimitMessage() { return Gbk<"广告文件不可超过5个">(); }

const char* const kAdvertisementFilter =
    "(*.bmp,*.jpg,*.jpeg,*.avi,*.mpg,*.mov,*.mp4,*.*.wmv,*.rmvb)|"
    "*.bmp;*.jpg;*.jpeg;*.avi;*.mpg;*.mov;*.mp4;*.wmv;*.rmvb";

std::string AdvertisementDialogFilter() {
  const std::string filter = kAdvertisementFilter;
  const size_t bar = filter.find('|');
  const std::string description = filter.substr(0, bar);
  std::string patterns;
  size_t start = bar + 1;
  while (start <= filter.size()) {
    size_t end = filter.find(';', start);
    if (end == std::string::npos) end = filter.size();
    const std::string pattern = filter.substr(start, end - start);
    if (!pattern.empty()) {
      if (!patterns.empty()) patterns += ' ';
      patterns += pattern;
      const std::string upper = UpperAscii(pattern);
      if (upper != pattern) patterns += ' ' + upper;
    }
    start = end + 1;
  }
  return description + " (" + patterns + ")";
}

AddOutcome AddAdvertisement(std::vector<std::string>& entries, const std::string& pictureFolder,
                            const ChooseFile& choose) {
  if (entries.size() >= kAdvertisementLimit) return AddOutcome::kRefused;
  const std::optional<std::string> chosen = choose ? choose(kAdvertisementFilter) : std::nullopt;
  if (!chosen || chosen->empty()) return AddOutcome::kCancelled;
  entries.push_back(*chosen);
  CopyAdvertisement(*chosen, pictureFolder);
  return AddOutcome::kAdded;
}

bool CopyAdvertisement(const std::string& source, const std::string& pictureFolder) {
  std::error_code ec;
  const std::filesystem::path from = PathFromGbk(source);
  const std::filesystem::path to = PathFromGbk(pictureFolder + FileNameOf(source));
  if (!std::filesystem::is_regular_file(from, ec)) return false;
  // A file chosen from PictureFolder itself is already its own copy.
  if (std::filesystem::equivalent(from, to, ec)) return true;
  return static_cast<bool>(CopyFileWhole(from, to));
}

bool DeleteAdvertisement(std::vector<std::string>& entries, int index) {
  if (index < 0 || static_cast<size_t>(index) >= entries.size()) return false;
  entries.erase(entries.begin() + index);
  return true;
}

bool AdvertisementOpens(const std::string& entry) {
  std::error_code ec;
  return IsDisplayablePicture(entry) && std::filesystem::is_regular_file(PathFromGbk(entry), ec);
}

std::optional<std::string> AdvertisementToOpen(const std::vector<std::string>& entries, int index) {
  if (index < 0 || static_cast<size_t>(index) >= entries.size()) return std::nullopt;
  if (!AdvertisementOpens(entries[index])) return std::nullopt;
  return entries[index];
}

}  // namespace aqled
