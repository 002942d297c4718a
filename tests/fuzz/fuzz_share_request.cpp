// libFuzzer target of the share server's own request handling: the fuzzer's bytes are a Range
// value with a file size, and a request path resolved against a folder holding one published
// file beside a hidden one, with a secret file outside it.
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "share/share_server.h"
#include "text/gbk.h"

namespace {

namespace fs = std::filesystem;

struct Folder {
  Folder() {
    const fs::path root(dir.path().toStdString());
    fs::create_directory(root / "share");
    std::ofstream(root / "share" / "001.bmp") << "picture";
    std::ofstream(root / "share" / ".001.bmp.tmp") << "half";
    std::ofstream(root / "secret.ini") << "secret";
    fs::create_symlink(root / "secret.ini", root / "share" / "link.ini");
    share = root / "share";
  }
  QTemporaryDir dir;
  fs::path share;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Folder folder;
  static aqled::ShareServer server(aqled::GbkFromPath(folder.share) + "/", "http://127.0.0.1/share/");
  if (size < 8) return 0;
  uint64_t fileSize = 0;
  for (int i = 0; i < 8; ++i) fileSize = fileSize << 8 | data[i];
  fileSize >>= data[0] % 64;  // small sizes as often as huge ones
  const std::string text(reinterpret_cast<const char*>(data + 8), size - 8);

  const aqled::ByteRange r = aqled::ParseByteRange(text, fileSize);
  if (r.kind == aqled::ByteRange::kPart &&
      (r.length == 0 || r.first >= fileSize || r.length > fileSize - r.first))
    std::abort();

  const auto file = server.Resolve(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  if (file && (file->parent_path() != folder.share || file->filename() != "001.bmp")) std::abort();
  return 0;
}
