#include "settings/file_problem.h"

#include <cerrno>
#include <fstream>

#include "settings/file_io.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

std::string FileProblemText(const std::error_code& error) {
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
    return Gbk<"没有权限">();
  }
  if (error == std::errc::read_only_file_system) return Gbk<"文件系统只读">();
  if (error == std::errc::no_space_on_device) return Gbk<"磁盘已满">();
  return Utf8ToGbkLenient(error.message());
}

std::string TooLargeText(std::uintmax_t bytes) {
  return Format(Gbk<"文件过大: %d 字节, 最多 %d 字节">(),
                {static_cast<long long>(bytes), static_cast<long long>(kMaxSettingsFileBytes)});
}

std::string ReadProblemOf(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) return Gbk<"是文件夹, 不是文件">();
  if (const std::uintmax_t size = std::filesystem::file_size(file, ec); !ec && size > kMaxSettingsFileBytes)
    return TooLargeText(size);
  errno = 0;
  const std::ifstream in(file, std::ios::binary);
  const int error = errno;
  if (in.is_open() || error == 0) return Gbk<"无法读取">();
  return FileProblemText(std::error_code(error, std::generic_category()));
}

}  // namespace aqled
