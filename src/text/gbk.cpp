#include "text/gbk.h"

#include <iconv.h>

#include <QString>
#include <cerrno>
#include <optional>

namespace aqled {
namespace {

// One converter per direction for the life of the process; the system has one thread. Opening
// one loads the system's conversion module, which takes descriptors: a converter that could not
// be opened (none left) is opened again at its next use instead of staying broken.
class Converter {
 public:
  Converter(const char* to, const char* from) : to_(to), from_(from), cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Open()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Open() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  bool Reopen() {
    if (!Open()) cd_ = iconv_open(to_, from_);
    return Open();
  }

  // Converts `in`. At an input sequence the target cannot take (or that is malformed),
  // `replace(rest, out)` appends what stands for it and returns the bytes it stands for.
  template <typename Replace>
  std::string Run(std::string_view in, Replace replace) {
    std::string out;
    if (!Reopen()) return std::string(in);
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
        size_t n = replace(std::string_view(src, left), out);
        if (n == 0 || n > left) n = left;
        src += n;
        left -= n;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  const char* to_;
  const char* from_;
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

// The code point of the well-formed UTF-8 sequence at the front of `s` and its length; length 0
// when the front is no well-formed sequence (a stray, overlong, surrogate or cut-short one).
struct Utf8Char {
  char32_t code = 0;
  size_t length = 0;
};
Utf8Char DecodeUtf8(std::string_view s) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b = byte(0);
  if (b < 0x80) return {b, 1};
  size_t n = 0;
  char32_t code = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    code = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    code = b & 0x0F;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    code = b & 0x07;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return {};
  }
  if (s.size() < n || byte(1) < low || byte(1) > high) return {};
  for (size_t i = 1; i < n; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return {};
    code = (code << 6) | (byte(i) & 0x3F);
  }
  return {code, n};
}

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Length of the UTF-8 sequence at the front of `s` by its lead byte (1 for a stray byte).
size_t Utf8SequenceLength(std::string_view s) {
  const unsigned char b = static_cast<unsigned char>(s[0]);
  size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  size_t i = 1;
  while (i < n && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  return i;
}

// The path escape (see gbk.h): three pairs 0xFF, 0x80 | 7 bits, carrying 21 bits.
constexpr unsigned char kEscapeLead = 0xFF;
constexpr size_t kEscapeLength = 6;
// A byte of a file name that is no UTF-8 is escaped as this code point plus the byte.
constexpr char32_t kRawByteBase = 0xDC00;

void AppendEscape(char32_t code, std::string& out) {
  for (int shift : {14, 7, 0}) {
    out.push_back(static_cast<char>(kEscapeLead));
    out.push_back(static_cast<char>(0x80 | ((code >> shift) & 0x7F)));
  }
}

// The escaped code point at the front of `s`; nullopt when the front is no path escape.
std::optional<char32_t> DecodeEscape(std::string_view s) {
  if (s.size() < kEscapeLength) return std::nullopt;
  char32_t code = 0;
  for (size_t i = 0; i < kEscapeLength; i += 2) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    const unsigned char bits = static_cast<unsigned char>(s[i + 1]);
    if (lead != kEscapeLead || bits < 0x80) return std::nullopt;
    code = (code << 7) | (bits & 0x7F);
  }
  const bool rawByte = code >= kRawByteBase + 0x80 && code <= kRawByteBase + 0xFF;
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code > 0x10FFFF || (surrogate && !rawByte) || code < 0x80) return std::nullopt;
  return code;
}

// GBK (with path escapes) to UTF-8. An escaped stray byte becomes that byte when `rawBytes`
// (a file name), "?" otherwise (text to show).
std::string DecodeGbk(std::string_view gbk, bool rawBytes) {
  return GbkToUtf8Converter().Run(gbk, [rawBytes](std::string_view rest, std::string& out) {
    if (const std::optional<char32_t> code = DecodeEscape(rest)) {
      if (*code >= kRawByteBase && *code <= kRawByteBase + 0xFF) {
        out.push_back(rawBytes ? static_cast<char>(*code - kRawByteBase) : '?');
      } else {
        AppendUtf8(*code, out);
      }
      return kEscapeLength;
    }
    out.push_back('?');
    return size_t{1};
  });
}

}  // namespace

bool LoadTextCodec() {
  const bool fromGbk = GbkToUtf8Converter().Reopen();
  return Utf8ToGbkConverter().Reopen() && fromGbk;
}

const std::string& KeptGbk::Get(std::string_view utf8) {
  if (converted_) return gbk_;
  converted_ = Utf8ToGbkConverter().Reopen();
  gbk_ = converted_ ? Utf8ToGbk(utf8) : std::string(utf8);
  return gbk_;
}

std::string GbkToUtf8(std::string_view gbk) { return DecodeGbk(gbk, false); }

std::string Utf8ToGbk(std::string_view utf8) {
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    if (b >= 0xF0 && b <= 0xF7) {
      // A four-byte lead: only a well-formed sequence (U+10000 to U+10FFFF) is one character.
      const Utf8Char c = DecodeUtf8(utf8.substr(i));
      if (c.length != 4) return {};
      i += 4;
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
  return Utf8ToGbkConverter().Run(utf8, [](std::string_view rest, std::string& out) {
    const unsigned char b = static_cast<unsigned char>(rest[0]);
    out.push_back('?');
    if (b < 0x80) return size_t{1};
    if (b >= 0xF0 && b <= 0xF7) return size_t{4};
    return (b & 0x20) ? size_t{3} : size_t{2};
  });
}

std::string Utf8ToGbkLenient(std::string_view utf8) {
  return Utf8ToGbkConverter().Run(utf8, [](std::string_view rest, std::string& out) {
    out.push_back('?');
    return Utf8SequenceLength(rest);
  });
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
  const std::string utf8 = DecodeGbk(gbk, true);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string GbkFromPath(const std::filesystem::path& path) {
  const std::u8string u8 = path.u8string();
  const std::string_view bytes(reinterpret_cast<const char*>(u8.data()), u8.size());
  const auto escapeRest = [](std::string_view rest, std::string& out) {
    const Utf8Char c = DecodeUtf8(rest);
    if (c.length == 0) {
      AppendEscape(kRawByteBase + static_cast<unsigned char>(rest[0]), out);
      return size_t{1};
    }
    AppendEscape(c.code, out);
    return c.length;
  };
  std::string gbk = Utf8ToGbkConverter().Run(bytes, escapeRest);
  if (DecodeGbk(gbk, true) == bytes) return gbk;
  // A character whose GBK code reads back as another one: character by character, escaping
  // each that does not come back as itself.
  gbk.clear();
  for (size_t i = 0; i < bytes.size();) {
    const Utf8Char c = DecodeUtf8(bytes.substr(i));
    const size_t n = c.length == 0 ? 1 : c.length;
    const std::string_view one = bytes.substr(i, n);
    const std::string converted = Utf8ToGbkConverter().Run(one, escapeRest);
    if (DecodeGbk(converted, true) == one) {
      gbk += converted;
    } else {
      escapeRest(one, gbk);
    }
    i += n;
  }
  return gbk;
}

}  // namespace aqled
