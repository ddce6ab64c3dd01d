#include "vessarine/store/gbk.h"

#include <iconv.h>

#include <cerrno>

namespace {

// Runs iconv over the whole input; an unconvertible or incomplete sequence
// costs one input byte and adds `replacement` to the output.
std::string Convert(const char* to, const char* from, std::string_view in,
                    std::string_view replacement) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Without the converter, pass ASCII through and replace the rest.
    for (char c : in) {
      if (static_cast<unsigned char>(c) < 0x80) out += c;
      else out += replacement;
    }
    return out;
  }
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  size_t used = 0;
  while (srcLeft > 0) {
    char* dst = out.data() + used;
    size_t dstLeft = out.size() - used;
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else {  // EILSEQ or EINVAL: skip one byte
      if (out.size() - used < replacement.size()) out.resize(out.size() * 2 + replacement.size());
      out.replace(used, replacement.size(), replacement);
      used += replacement.size();
      ++src;
      --srcLeft;
    }
  }
  iconv_close(cd);
  out.resize(used);
  return out;
}

}  // namespace

namespace {

// ASCII is the same in both encodings; a query that needs no conversion then
// never loads the converter.
bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD");
}

std::string Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return Convert("GBK", "UTF-8", utf8, "?");
}
