#include "settings/file_io.h"

#include <fcntl.h>
#include <locale.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>
#include <system_error>

namespace aqled {

namespace {

namespace fs = std::filesystem;

// Names tried for the temporary file before giving up: a clash needs another writer choosing
// the same random name in the same folder at the same moment.
constexpr int kTemporaryNameAttempts = 16;
// Bytes moved per read when copying: small enough to keep memory flat, large enough for speed.
constexpr size_t kCopyChunk = 64 * 1024;

// The system's English text for an error number, whatever the process locale.
std::string ErrorText(int error) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return cLocale ? strerror_l(error, cLocale) : "error " + std::to_string(error);
}

// Writes all of `data` to `fd`; 0 or the error number.
int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// The random part of a temporary file's name, and its ending.
constexpr std::string_view kTemporaryLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr size_t kTemporaryRandomLength = 6;
constexpr std::string_view kTemporaryEnding = ".tmp";

// ".<name>.<six random letters>.tmp" beside `file`: hidden, so that a folder listing or the
// share server never offers it.
fs::path TemporaryNameFor(const fs::path& file) {
  std::string suffix;
  for (size_t i = 0; i < kTemporaryRandomLength; ++i)
    suffix += kTemporaryLetters[static_cast<size_t>(
        QRandomGenerator::global()->bounded(static_cast<int>(kTemporaryLetters.size())))];
  return file.parent_path() / ("." + file.filename().string() + "." + suffix + std::string(kTemporaryEnding));
}

// Puts the folder's entry for `file` on the disk, so that a power cut after a reported save
// brings back the new file, not the old one. By then the new file already stands under its
// name, so a folder that cannot be synced does not turn the write into a failure: the file is
// whole either way, only which of the two survives a power cut is left open.
void SyncFolderOf(const fs::path& file) {
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

// Creates the temporary file, lets `fill` write it, syncs, closes and renames it over `file`.
// `fill` returns 0 or an error number and its own error text.
FileWriteResult WriteThrough(const fs::path& file, const std::function<int(int fd, std::string& why)>& fill) {
  fs::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && fd < 0; ++attempt) {
    temporary = TemporaryNameFor(file);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return {ErrorText(errno)};
  }
  if (fd < 0) return {ErrorText(EEXIST)};
  Descriptor out(fd);
  struct stat old {};
  if (::lstat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

  std::string why;
  int error = fill(fd, why);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (const int closed = out.Close(); error == 0) error = closed;
  // The content is on the disk before the name moves to it.
  if (error == 0 && ::rename(temporary.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return {why.empty() ? ErrorText(error) : why};
  }
  SyncFolderOf(file);
  return {};
}

}  // namespace

FileWriteResult LinkFileWhole(const std::filesystem::path& source, const std::filesystem::path& file) {
  fs::path temporary;
  int error = EEXIST;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && error == EEXIST; ++attempt) {
    temporary = TemporaryNameFor(file);
    error = ::link(source.c_str(), temporary.c_str()) == 0 ? 0 : errno;
  }
  if (error == EXDEV || error == EPERM || error == EMLINK || error == ENOTSUP || error == EOPNOTSUPP)
    return CopyFileWhole(source, file);
  if (error != 0) return {ErrorText(error)};
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    error = errno;
    ::unlink(temporary.c_str());
    return {ErrorText(error)};
  }
  // A rename between two links of one file does nothing and succeeds, leaving the temporary
  // link: `file` already was `source`.
  ::unlink(temporary.c_str());
  SyncFolderOf(file);
  return {};
}

bool IsWriterTemporaryName(std::string_view name) {
  // "." + a name of at least one character + "." + the random part + ".tmp"
  const size_t tail = 1 + kTemporaryRandomLength + kTemporaryEnding.size();
  if (name.size() < 2 + tail || name.front() != '.' || !name.ends_with(kTemporaryEnding)) return false;
  const std::string_view random = name.substr(name.size() - tail + 1, kTemporaryRandomLength);
  return name[name.size() - tail] == '.' &&
         random.find_first_not_of(kTemporaryLetters) == std::string_view::npos;
}

int RemoveLeftoverTemporaries(const std::filesystem::path& folder) {
  std::error_code ec;
  int removed = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryError;
    // symlink_status: a link with such a name is not the writer's, whatever it points at.
    if (!fs::is_regular_file(it->symlink_status(entryError)) ||
        !IsWriterTemporaryName(it->path().filename().string()))
      continue;
    if (fs::remove(it->path(), entryError)) ++removed;
  }
  return removed;
}

std::optional<std::string> ReadFileWhole(const std::filesystem::path& file, std::uintmax_t maxBytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > maxBytes) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<size_t>(size));
  std::string chunk(kCopyChunk, '\0');
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    bytes.append(chunk.data(), static_cast<size_t>(in.gcount()));
    if (bytes.size() > maxBytes) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}

FileWriteResult WriteFileWhole(const std::filesystem::path& file, std::string_view bytes) {
  return WriteThrough(file,
                      [bytes](int fd, std::string&) { return WriteAll(fd, bytes.data(), bytes.size()); });
}

FileWriteResult CopyFileWhole(const std::filesystem::path& source, const std::filesystem::path& file) {
  Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (in.get() < 0) return {ErrorText(errno)};
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return {ErrorText(errno)};
  if (!S_ISREG(st.st_mode)) return {ErrorText(S_ISDIR(st.st_mode) ? EISDIR : EINVAL)};
  return WriteThrough(file, [&in](int fd, std::string& why) {
    std::string chunk(kCopyChunk, '\0');
    for (;;) {
      const ssize_t n = ::read(in.get(), chunk.data(), chunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int error = errno;
        why = "reading the source: " + ErrorText(error);
        return error;
      }
      if (n == 0) return 0;
      if (const int error = WriteAll(fd, chunk.data(), static_cast<size_t>(n)); error != 0) return error;
    }
  });
}

}  // namespace aqled
