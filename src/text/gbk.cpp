#include "text/gbk.h"

#include <iconv.h>

#include <QString>
#include <cerrno>

namespace aqled {
namespace {

// One converter per direction for the life of the process; the system has one thread.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; at an input sequence the target cannot take (or that is malformed), writes
  // "?" and skips `skip(rest)` bytes.
  template <typename Skip>
  std::string Run(std::string_view in, Skip skip) {
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.reserve(in.size() + in.size() / 2 + 8);
    char buf[4096];
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    while (left > 0) {
      char* dst = buf;
      size_t room = sizeof buf;
      size_t r = iconv(cd_, &src, &left, &dst, &room);
      out.append(buf, dst - buf);
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL: one character that cannot be carried.
        size_t n = skip(std::string_view(src, left));
        if (n == 0 || n > left) n = left;
        out.push_back('?');
        src += n;
        left -= n;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  iconv_t cd_;
};

Converter& GbkToUtf8Converter() {
  static Converter c("UTF-8", "GBK");
  return c;
}
Converter& Utf8ToGbkConverter() {
  static Converter c("GBK", "UTF-8");
  return c;
}

// Length of the UTF-8 sequence at the front of `s` by its lead byte (1 for a stray byte).
size_t Utf8SequenceLength(std::string_view s) {
  const unsigned char b = static_cast<unsigned char>(s[0]);
  size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  size_t i = 1;
  while (i < n && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  return i;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  return GbkToUtf8Converter().Run(gbk, [](std::string_view) { return size_t{1}; });
}

std::string Utf8ToGbk(std::string_view utf8) {
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    const size_t n = (b & 0x20) ? 3 : 2;
    for (size_t k = 1; k < n; ++k) {
      if (i + k >= utf8.size()) return {};
      const unsigned char c = static_cast<unsigned char>(utf8[i + k]);
      if (c < 0x80 || c > 0xBF) return {};
    }
    i += n;
  }
  // The text is well formed by the rule above; whatever iconv still refuses (a character GBK
  // lacks, or a sequence the rule accepts but UTF-8 does not) is one "?" per sequence.
  return Utf8ToGbkConverter().Run(utf8, [](std::string_view rest) {
    const unsigned char b = static_cast<unsigned char>(rest[0]);
    return b < 0x80 ? size_t{1} : (b & 0x20) ? size_t{3} : size_t{2};
  });
}

std::string Utf8ToGbkLenient(std::string_view utf8) {
  return Utf8ToGbkConverter().Run(utf8, Utf8SequenceLength);
}

QString ToQString(std::string_view gbk) {
  const std::string utf8 = GbkToUtf8(gbk);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQString(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return Utf8ToGbkLenient(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

std::filesystem::path PathFromGbk(std::string_view gbk) {
  const std::string utf8 = GbkToUtf8(gbk);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string GbkFromPath(const std::filesystem::path& path) {
  const std::u8string u8 = path.u8string();
  return Utf8ToGbkLenient(std::string_view(reinterpret_cast<const char*>(u8.data()), u8.size()));
}

}  // namespace aqled
