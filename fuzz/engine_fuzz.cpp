// The engine's entry points, as the command line and the Python module
// call them, on any bytes, over the built-in table. Aborts (a finding)
// unless:
// - a lookup answers with a description or an error, never both, and its
//   JSON object (the members the Python dicts take too) is valid UTF-8;
// - the finder fed a few bytes at a time writes exactly what it writes for
//   the whole text at once, labelled and as JSON, every JSON line valid
//   UTF-8;
// - a search for the bytes writes valid UTF-8 rows.
// The first byte picks the piece size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "vessarine/engine/engine.h"
#include "vessarine/engine/finder.h"
#include "vessarine/text/utf8.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

const engine::Engine& TheEngine() {
  static const engine::Engine* opened = [] {
    // No cache and no prefixes file: the built-in table alone.
    ::setenv("XDG_CACHE_HOME", "/nonexistent/vessarine-fuzz", 1);
    ::setenv("XDG_CONFIG_HOME", "/nonexistent/vessarine-fuzz", 1);
    std::string error;
    return engine::Engine::Open({}, nullptr, &error).release();
  }();
  return *opened;
}

template <class Writer>
std::string Whole(const engine::Engine& e, std::string_view text) {
  Writer writer;
  engine::Finder<Writer>(e, writer).All(text);
  return writer.text;
}

template <class Writer>
std::string Pieces(const engine::Engine& e, std::string_view text, size_t step) {
  Writer writer;
  engine::Finder<Writer> finder(e, writer);
  finder.Start();
  while (!text.empty()) {
    const std::span<char> room = finder.Room();
    const size_t n = std::min({step, room.size(), text.size()});
    std::memcpy(room.data(), text.data(), n);
    text.remove_prefix(n);
    finder.Took(n);
  }
  finder.Took(0);
  return writer.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const engine::Engine& e = TheEngine();
  const size_t step = 1 + data[0] % 64;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const engine::Answer answer = e.Lookup(text);
  Check(answer.description.has_value() != !answer.error.empty());
  std::string json;
  answer::JsonFields members(&json);
  engine::Engine::Visit(text, answer, members);
  Check(text::IsValidUtf8(json));

  Check(Pieces<engine::LabelWriter>(e, text, step) == Whole<engine::LabelWriter>(e, text));
  const std::string found = Whole<engine::FindJsonWriter>(e, text);
  Check(Pieces<engine::FindJsonWriter>(e, text, step) == found);
  Check(text::IsValidUtf8(found));

  if (!text.empty()) {
    const answer::HolderFilter filter(text);
    std::string rows;
    e.ForEachAssignment(&filter, [&](const registry::Match& m) {
      answer::AppendAssignmentRow(&rows, answer::RowFormat::Json, m);
    });
    Check(text::IsValidUtf8(rows));
  }
  return 0;
}
