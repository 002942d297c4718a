#include "settings/file_io.h"

#include <QSaveFile>
#include <QString>
#include <fstream>
#include <iterator>
#include <system_error>

namespace aqled {

std::optional<std::string> ReadFileWhole(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool WriteFileWhole(const std::filesystem::path& file, std::string_view bytes) {
  const std::u8string u8 = file.u8string();
  QSaveFile out(
      QString::fromUtf8(reinterpret_cast<const char*>(u8.data()), static_cast<qsizetype>(u8.size())));
  if (!out.open(QIODevice::WriteOnly)) return false;
  const qint64 size = static_cast<qint64>(bytes.size());
  // QSaveFile notices only the errors of write() itself; bytes still in its buffer could fail
  // unnoticed at commit, so the buffer is flushed and checked first.
  const bool written = (size == 0 || out.write(bytes.data(), size) == size) && out.flush();
  if (!written) {
    out.cancelWriting();
    out.commit();  // removes the temporary file; the old file stays
    return false;
  }
  return out.commit();
}

}  // namespace aqled
