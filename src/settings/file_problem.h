#pragma once
// Why a file or folder of the application could not be read or made, as a short GBK text for
// the operation log.

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace aqled {

// The reason of a failed file system call: "没有权限", "文件系统只读", "磁盘已满", or the
// system's own text for any other error.
std::string FileProblemText(const std::error_code& error);

// "文件过大: N 字节, 最多 1048576 字节": a settings or text file of `bytes` is past
// kMaxSettingsFileBytes, so the program would not read it back.
std::string TooLargeText(std::uintmax_t bytes);

// Why the settings or text file `file`, which exists, cannot be read whole: "是文件夹, 不是文件"
// for a folder, "文件过大: N 字节, 最多 1048576 字节" past kMaxSettingsFileBytes, otherwise the
// reason its opening fails (FileProblemText), "无法读取" when it opens after all.
std::string ReadProblemOf(const std::filesystem::path& file);

}  // namespace aqled
