#pragma once
// Whole-file reads and writes of the settings and text files.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace aqled {

// The bytes of a regular file; nullopt when it is missing, is not a regular file or cannot be
// read to its end.
std::optional<std::string> ReadFileWhole(const std::filesystem::path& file);

// Replaces `file` with `bytes` through a temporary file in the same folder and a rename, so the
// old content stays whole until the new one is complete. Returns false (and leaves no temporary
// file and the old content as it was) when anything fails.
bool WriteFileWhole(const std::filesystem::path& file, std::string_view bytes);

}  // namespace aqled
