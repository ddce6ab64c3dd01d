#include "vessarine/engine/engine.h"

#include "vessarine/db/cache_dir.h"
#include "vessarine/db/table_files.h"
#include "vessarine/text/escape.h"

namespace engine {

Answer OverlongAnswer(std::string_view start, size_t size) {
  Answer a;
  SetOverlong(&a, start, size);
  return a;
}

void SetOverlong(Answer* a, std::string_view start, size_t size) {
  a->quoted = text::ShortenedText(start, size, kQuotedStart);
  a->error = "not a MAC address: the line is longer than 4 KiB";
}

std::unique_ptr<Engine> Engine::Open(const Options& options, std::FILE* warnings, std::string* error) {
  auto user = registry::UserPrefixes::LoadFor(options.prefixes, error);
  if (!user) return nullptr;
  std::unique_ptr<Engine> engine(new Engine());
  engine->tables_.SetUserPrefixes(std::move(*user));
  engine->tables_.Load(warnings, options.manyLookups);
  return engine;
}

Answer Engine::Lookup(std::string_view input, identifier::ReadOptions read) const {
  // One answer object throughout, built where the caller keeps it.
  Answer a;
  Lookup(input, read, &a);
  return a;
}

void Engine::Lookup(std::string_view input, identifier::ReadOptions read, Answer* a) const {
  a->description.reset();
  a->error.clear();
  a->quoted.clear();
  if (input.size() > kMaxIdentifierText) {
    SetOverlong(a, input.substr(0, kQuotedStart), input.size());
  } else if (auto address = identifier::ParseAddress(input, &a->error, read)) {
    // Described straight into the answer, not into a temporary moved there.
    struct Describing {
      const registry::RegistryTables& tables;
      const identifier::ParsedAddress& address;
      operator answer::Description() const { return answer::Describe(tables, address); }
    };
    a->description.emplace(Describing{tables_, *address});
  }
}

std::vector<TableInfo> Engine::Tables() const {
  std::vector<TableInfo> tables;
  for (listing::Registry r : listing::kAllRegistries) {
    TableInfo info;
    info.registry = listing::Info(r).name;
    info.entries = tables_.table(r).size();
    switch (tables_.source(r)) {
      case registry::TableSource::Cache:
        info.source = "cache";
        info.path = CachePath(db::TableFile(r));
        break;
      case registry::TableSource::BuiltIn: info.source = "built-in"; break;
      case registry::TableSource::None: info.source = "none"; break;
    }
    tables.push_back(std::move(info));
  }
  if (!prefixesFile().empty()) {
    tables.push_back(TableInfo{"user", static_cast<uint32_t>(prefixesCount()), "file", prefixesFile()});
  }
  return tables;
}

}  // namespace engine
