#pragma once
// Whole-file reads and the one whole-file writer of the system: settings and text files,
// pictures, and the files staged in ShareFolder are all replaced through WriteFileWhole,
// CopyFileWhole or LinkFileWhole, so that no reader ever sees half a file under its final name.
// It is not QSaveFile: that syncs neither the folder after the rename (a power cut may lose the
// new name) nor replaces a symbolic link under the name instead of writing through it, and it
// cannot stage a file by a hard link.

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace aqled {

// The most bytes a settings or text file of the application (config.ini, setup.ini, fly.txt,
// gg.txt, txt.txt) may have to be read. The largest real one, setup.ini or a page of free text,
// has a few KiB; a bigger file is not one the application wrote, and reading it whole would
// hold it in memory and fill the window's controls with it.
inline constexpr std::uintmax_t kMaxSettingsFileBytes = 1024 * 1024;

// An open file descriptor, closed when it goes out of scope unless released.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Hands the descriptor on: it is no longer closed here.
  void release() { fd_ = -1; }
  // Closes now; 0 or the error number of close.
  int Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// The bytes of a regular file; nullopt when it is missing, is not a regular file, has more than
// `maxBytes` bytes (also when it grows past them while read) or cannot be read to its end.
std::optional<std::string> ReadFileWhole(const std::filesystem::path& file, std::uintmax_t maxBytes);

// The outcome of a whole-file write. True when the new file stands under its name; otherwise
// `error` names the cause in English as the system reports it ("No space left on device").
struct FileWriteResult {
  std::string error;
  explicit operator bool() const { return error.empty(); }
};

// Replaces `file` with `bytes`: they go into a new hidden file with a unique name in the same
// folder, which is flushed to the disk and then renamed over `file`; the folder is synced after
// the rename, so a reported write survives a power cut. Until the rename the old
// file stays as it was; on any failure the temporary file is removed and the old file is kept.
// A new file gets the permissions 0666 less the umask, a replaced one keeps its permissions. A
// symbolic link under the name is replaced, not followed.
FileWriteResult WriteFileWhole(const std::filesystem::path& file, std::string_view bytes);

// The same with the content of the regular file `source`, streamed in small pieces (never read
// whole into memory). A source that cannot be read fails like a write.
FileWriteResult CopyFileWhole(const std::filesystem::path& source, const std::filesystem::path& file);

// Puts the file `source` under the name `file` as a hard link (a temporary link renamed over the
// name, then the folder synced), so no byte is copied. Only for a source that this writer
// wrote and that nobody changes in place: the writer only ever renames a new file over an old
// name, so the linked content never changes under a reader of `file`. Where no link can be
// made (another file system, one without hard links) it falls back to CopyFileWhole.
FileWriteResult LinkFileWhole(const std::filesystem::path& source, const std::filesystem::path& file);

// Whether `name` is the name of a temporary file of the writer above: "." + the final name +
// "." + six letters or digits + ".tmp" (".001.bmp.Xy7Qa2.tmp").
bool IsWriterTemporaryName(std::string_view name);

// Removes the writer's temporary files that a killed process left in `folder` (only regular
// files whose names IsWriterTemporaryName accepts; nothing else, no subfolder) and returns how
// many were removed. A missing folder removes nothing.
int RemoveLeftoverTemporaries(const std::filesystem::path& folder);

}  // namespace aqled
