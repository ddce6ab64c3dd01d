#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "vessarine/query/format.h"
#include "vessarine/query/queries.h"

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (length > 0) {
    out.resize(static_cast<size_t>(length));
    std::vsnprintf(out.data(), out.size() + 1, format, again);
  }
  va_end(again);
  return out;
}

std::string FormatMessage(const char* message) {
  // Messages are constants of this program, never user input.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  return FormatText(message);
#pragma GCC diagnostic pop
}

void ExpandLineBreaks(std::string_view text, std::string& target, const char* trailer) {
  // The work text ends at its first NUL, like the C string it stands for.
  text = text.substr(0, strnlen(text.data(), text.size()));
  const char* t = text.data();
  const size_t n = text.size();

  target.clear();
  target.reserve(n + n / 8 + 64);
  // The scan tests positions up to the second-to-last byte of the text, so a
  // line feed as the very last byte stays. After a cut it resumes one byte
  // into the new piece, so a line feed right after a cut one stays too.
  size_t start = 0;  // current piece
  size_t k = 0;      // scan index within the piece
  while (n - start >= 2 && k < n - start - 1) {
    const void* lf = std::memchr(t + start + k, '\n', n - 1 - (start + k));
    if (lf == nullptr) break;
    size_t pos = static_cast<size_t>(static_cast<const char*>(lf) - t);
    target.append("\r\n", 2);
    target.append(t + start, pos - start);
    start = pos + 1;
    k = 1;
  }
  target.append("\r\n", 2);
  target.append(t + start, n - start);
  if (trailer != nullptr) {
    target.append("\r\n", 2);
    target.append(trailer);
  }
}
