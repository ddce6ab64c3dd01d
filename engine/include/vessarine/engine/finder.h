// Identifiers found in text (an ARP table, a switch's address table, DHCP
// leases, a log), read a block at a time in bounded memory whatever the
// text's size or line lengths, each handed over with its description and
// place, along with the text around it.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "vessarine/engine/engine.h"
#include "vessarine/identifier/scanner.h"

namespace engine {

// A find: the text found, what it names, its 1-based line and column (in
// bytes; both 0 unless the handler asks for lines to be counted).
struct Found {
  std::string_view text;
  const answer::Description& description;
  uint64_t line;
  uint64_t column;
};

// Handler: Text(std::string_view) gets the text in order, each piece
// ending where a find does or where the scan stopped; Found(const Found&)
// follows the piece that ends with the find. kCountsLines: whether finds
// need their line and column.
template <class Handler>
class Finder {
 public:
  // Text is taken this much at a time.
  static constexpr size_t kBufferSize = 1u << 20;

  Finder(const Engine& engine, Handler& handler)
      : engine_(engine), handler_(handler), buffer_(new char[kBufferSize]) {}

  // Begins a stream.
  void Start() {
    size_ = 0;
    before_ = -1;
    base_ = counted_ = lineStart_ = 0;
    line_ = 1;
  }

  // Where the stream's next bytes go: never empty.
  std::span<char> Room() { return {buffer_.get() + size_, kBufferSize - size_}; }

  // `n` more bytes are in Room(); 0 ends the stream. Hands over every find
  // settled, and the text before it.
  void Took(size_t n) {
    size_ += n;
    const bool end = n == 0;
    const size_t to = Settled(end);
    if (to == 0 && !end) return;
    const size_t stop = Scan(to);
    if (!end) Keep(stop);
  }

  // The whole of `text` as one stream.
  void All(std::string_view text) {
    Start();
    while (!text.empty()) {
      const std::span<char> room = Room();
      const size_t n = std::min(room.size(), text.size());
      std::memcpy(room.data(), text.data(), n);
      text.remove_prefix(n);
      Took(n);
    }
    Took(0);
  }

 private:
  // How much of the buffer can be settled now. Identifiers never span
  // lines, so everything up to the last line end; a line still arriving
  // keeps the lookahead back.
  size_t Settled(bool end) const {
    if (end) return size_;
    size_t to = size_ > identifier::kScanLookahead ? size_ - identifier::kScanLookahead : 0;
    if (const void* nl = ::memrchr(buffer_.get(), '\n', size_)) {
      to = std::max(to, static_cast<size_t>(static_cast<const char*>(nl) - buffer_.get()) + 1);
    }
    return to;
  }

  // Hands over the finds starting in buffer_[0, to), with the text between
  // them; returns where the scan stopped.
  size_t Scan(size_t to) {
    const char* const buf = buffer_.get();
    size_t written = 0;
    const size_t stop = identifier::ScanAddresses(
        buf, 0, to, size_, before_, [&](size_t pos, size_t length, const identifier::ParsedAddress& address) {
          const answer::Description d = engine_.Describe(address);
          handler_.Text(std::string_view(buf + written, pos + length - written));
          written = pos + length;
          uint64_t column = 0;
          if constexpr (Handler::kCountsLines) {
            CountLines(pos);
            column = base_ + pos - lineStart_ + 1;
          }
          handler_.Found(Found{std::string_view(buf + pos, length), d, Handler::kCountsLines ? line_ : 0, column});
        });
    if constexpr (Handler::kCountsLines) CountLines(stop);
    handler_.Text(std::string_view(buf + written, stop - written));
    return stop;
  }

  // Counts the line ends before buffer_[upTo] not counted yet.
  void CountLines(size_t upTo) {
    const char* const buf = buffer_.get();
    const char* p = buf + (counted_ - base_);
    const char* const stop = buf + upTo;
    while (const void* nl = p < stop ? std::memchr(p, '\n', static_cast<size_t>(stop - p)) : nullptr) {
      p = static_cast<const char*>(nl) + 1;
      ++line_;
      lineStart_ = base_ + static_cast<uint64_t>(p - buf);
    }
    counted_ = base_ + upTo;
  }

  // Lets the settled bytes go, what follows them moved to the front.
  void Keep(size_t stop) {
    char* const buf = buffer_.get();
    if (stop > 0) before_ = static_cast<unsigned char>(buf[stop - 1]);
    std::memmove(buf, buf + stop, size_ - stop);
    base_ += stop;
    size_ -= stop;
  }

  const Engine& engine_;
  Handler& handler_;
  std::unique_ptr<char[]> buffer_;
  // The stream being read: bytes held, the byte before buffer_[0] (-1 at
  // the start), the stream offsets of buffer_[0], of where line ends are
  // counted up to and of the current line's start, and its number.
  size_t size_ = 0;
  int before_ = -1;
  uint64_t base_ = 0, counted_ = 0, lineStart_ = 0, line_ = 1;
};

// What annotate writes, onto `text`: the text with " [holder]" after each
// find (LabelWriter), or one JSON object a line for each find
// (FindJsonWriter). When `flush` is set it is handed the text whenever it
// holds kFlushAt bytes, and must empty it.
struct TextWriter {
  static constexpr size_t kFlushAt = 256u << 10;
  std::string text;
  std::function<void(std::string&)> flush;

  void Check() {
    if (flush && text.size() >= kFlushAt) flush(text);
  }
};

struct LabelWriter : TextWriter {
  static constexpr bool kCountsLines = false;
  void Text(std::string_view piece) {
    text += piece;
    Check();
  }
  void Found(const engine::Found& f) {
    answer::AppendLabel(&text, f.description);
    Check();
  }
};

struct FindJsonWriter : TextWriter {
  static constexpr bool kCountsLines = true;
  void Text(std::string_view) {}
  void Found(const engine::Found& f) {
    text.push_back('{');
    answer::JsonFields members(&text);
    answer::VisitFoundFields(f.text, f.description, f.line, f.column, members);
    text += "}\n";
    Check();
  }
};

}  // namespace engine
