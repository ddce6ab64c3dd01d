#include "vessarine/answer/describe.h"

#include <memory>

#include "vessarine/answer/assignments.h"
#include "vessarine/answer/fields.h"
#include "vessarine/text/escape.h"

namespace answer {

namespace {

// 24, 28 or 36 (any small count).
void AppendBits(std::string* out, int bits) {
  if (bits >= 10) out->push_back(static_cast<char>('0' + bits / 10 % 10));
  out->push_back(static_cast<char>('0' + bits % 10));
}

void AppendAssignmentDigits(std::string* out, const registry::Match& m) { registry::AppendPrefixDigits(out, m.prefix, m.bits); }

// Calls f(line) for each '\n'-separated line of an address.
template <class F>
void ForEachLine(std::string_view text, F&& f) {
  while (!text.empty()) {
    size_t nl = text.find('\n');
    f(text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
}

// The part of a CSV row, a JSON object or a text block that depends only
// on the registry entry matched, formatted once per entry and kept in a
// small direct-mapped cache: inputs name the same holders again and again,
// and escaping their names and addresses is most of the formatting.
class EntryTexts {
 public:
  template <class Format>
  std::string_view Get(const registry::Match& m, Format&& format) {
    Slot& slot = At(m, [&](std::string* text) { format(text, m); }, [](std::string*) {});
    return slot.text;
  }
  // The text in two parts, for a row whose entry fields are in two places:
  // `first` writes the one, `second` the other.
  template <class First, class Second>
  std::pair<std::string_view, std::string_view> GetParts(const registry::Match& m, First&& first, Second&& second) {
    Slot& slot = At(m, [&](std::string* text) { first(text, m); }, [&](std::string* text) { second(text, m); });
    const std::string_view text = slot.text;
    return {text.substr(0, slot.split), text.substr(slot.split)};
  }

 private:
  template <class First, class Second>
  auto& At(const registry::Match& m, First&& first, Second&& second) {
    // An entry is its registry, prefix and texts, as long as no table was
    // loaded or let go since (the texts' addresses could be another's).
    const Key key{registry::TablesGeneration(), m.prefix, m.user != nullptr ? -1 : static_cast<int>(m.registry), m.organization,
                  m.address};
    Slot& slot = SlotFor(m);
    if (!slot.filled || !(slot.key == key)) {
      slot.filled = true;
      slot.key = key;
      slot.text.clear();
      first(&slot.text);
      slot.split = slot.text.size();
      second(&slot.text);
    }
    return slot;
  }

  static constexpr int kBits = 10;
  // Uses answered from one slot before the table of slots is made: a
  // one-shot answer formats a few entries and need not clear 100 KiB.
  static constexpr int kFirstUses = 16;
  struct Key {
    uint64_t generation, prefix;
    int registry;
    std::string_view organization, address;
    bool operator==(const Key& o) const {
      return generation == o.generation && prefix == o.prefix && registry == o.registry &&
             organization.data() == o.organization.data() && organization.size() == o.organization.size() &&
             address.data() == o.address.data() && address.size() == o.address.size();
    }
  };
  struct Slot {
    bool filled = false;
    Key key{};
    std::string text;
    size_t split = 0;
  };
  Slot& SlotFor(const registry::Match& m) {
    if (!slots_) {
      if (uses_ < kFirstUses) {
        ++uses_;
        return first_;
      }
      slots_ = std::make_unique<Slot[]>(size_t{1} << kBits);
    }
    return slots_[((m.prefix ^ reinterpret_cast<uintptr_t>(m.organization.data())) * 0x9E3779B97F4A7C15u) >>
                  (64 - kBits)];
  }

  // On the heap, made when needed: as thread-local storage the slots of
  // every format would be cleared at every start, used or not.
  std::unique_ptr<Slot[]> slots_;
  Slot first_;
  int uses_ = 0;
};

void AppendClassText(std::string* out, const Description& d) {
  if (d.cls.broadcast) {
    *out += "broadcast (every station)";
    return;
  }
  *out += d.cls.group ? "group (multicast)" : "individual (unicast)";
  if (d.cls.local) {
    *out += ", locally administered, ";
    *out += QuadrantName(d.cls.quadrant);
  } else {
    *out += ", universally administered";
  }
}

std::string_view NoMatchText(const Description& d) {
  if (d.cls.broadcast) return "none: the broadcast address reaches every station";
  if (d.cls.group && d.cls.local) return "no match: a locally administered group address";
  if (d.cls.local)
    return "no match: locally administered addresses are set by software or an administrator, "
           "not assigned to a maker";
  return "no match in any registry";
}

}  // namespace

Description Describe(const registry::RegistryTables& tables, const identifier::ParsedAddress& address) {
  Description d;
  d.address = address;
  d.cls = Classify(address);
  if (d.cls.broadcast) return d;
  d.match = tables.Lookup(address.value, address.prefixOnly);
  // A group address is its holder's assignment with the I/G bit set
  // (01-00-5E-... belongs to 00-00-5E); a few assignments have that bit
  // themselves, so the address as given is tried first.
  if (!d.match && d.cls.group) {
    d.match = tables.Lookup(address.value & ~(uint64_t{1} << 40), address.prefixOnly);
  }
  return d;
}

void JsonFields::Entry(const registry::Match* m) {
  if (m == nullptr) {
    // The same members every time: written once.
    static const std::string none = [] {
      std::string text;
      JsonFields members(&text, false);
      VisitEntryFields(nullptr, members);
      return text;
    }();
    *out_ += none;
    first_ = false;
    return;
  }
  static thread_local EntryTexts texts;
  *out_ += texts.Get(*m, [](std::string* text, const registry::Match& entry) {
    JsonFields members(text, false);
    VisitEntryFields(&entry, members);
  });
  first_ = false;
}

void JsonFields::Class(const Description& d) {
  // A handful of classes make up nearly every input: their text is kept in
  // a few slots, each the last class hashed to it.
  struct Slot {
    bool filled = false;
    ClassKey key{};
    std::string text;
  };
  static constexpr int kBits = 5;
  static thread_local Slot slots[size_t{1} << kBits];
  const ClassKey key = ClassKeyOf(d);
  Slot& slot = slots[((key.bits ^ reinterpret_cast<uintptr_t>(key.note)) * 0x9E3779B97F4A7C15u) >> (64 - kBits)];
  if (!slot.filled || !(slot.key == key)) {
    slot.text.clear();
    JsonFields members(&slot.text, false);
    VisitClassFields(d, members);
    slot.key = key;
    slot.filled = true;
  }
  *out_ += slot.text;
  first_ = false;
}

void AppendJsonMembers(std::string* out, std::string_view input, const Description& d) {
  JsonFields members(out);
  VisitLookupFields(input, d, members);
}

std::string_view Note(const Description& d) {
  if (d.cls.note != nullptr) return d.cls.note;
  // The only other thing an address's bits say: a local address's quadrant.
  if (d.cls.local) return identifier::QuadrantNote(d.cls.quadrant);
  return {};
}

void AppendJsonError(std::string* out, std::string_view input, std::string_view error) {
  out->push_back('{');
  JsonFields members(out);
  VisitErrorFields(input, error, members);
  *out += "}\n";
}

std::string_view CsvHeader() {
  return "input,mac,registry,assignment,bits,organization,address,group,local,broadcast,note,error,derived_from,also,"
         "source,kind,identifier\r\n";
}

void AppendCsvRow(std::string* out, std::string_view input, const Description& d) {
  text::AppendCsvField(out, input);
  *out += ',';
  if (d.address.kind != identifier::IdentifierKind::Eui64) identifier::AppendMac(out, d.address);
  *out += ',';
  // The entry's fields: registry to address, then (last) also and source.
  std::pair<std::string_view, std::string_view> entry{",,,,", ","};
  if (d.match) {
    static thread_local EntryTexts texts;
    entry = texts.GetParts(
        *d.match,
        [](std::string* text, const registry::Match& m) {
          *text += registry::RegistryName(m);
          *text += ',';
          AppendAssignmentDigits(text, m);
          *text += ',';
          AppendBits(text, m.bits);
          *text += ',';
          text::AppendCsvField(text, m.organization);
          *text += ',';
          text::AppendCsvField(text, m.address);
        },
        [](std::string* text, const registry::Match& m) {
          AppendCsvAlso(text, m);
          text->push_back(',');
          text::AppendCsvField(text, registry::UserSource(m));
        });
  }
  *out += entry.first;
  static constexpr std::string_view kBits[8] = {
      ",false,false,false,", ",false,false,true,", ",false,true,false,", ",false,true,true,",
      ",true,false,false,",  ",true,false,true,",  ",true,true,false,",  ",true,true,true,"};
  *out += kBits[(d.cls.group ? 4 : 0) | (d.cls.local ? 2 : 0) | (d.cls.broadcast ? 1 : 0)];
  text::AppendCsvField(out, Note(d));
  *out += ",,";
  *out += identifier::DerivationName(d.address.derivedFrom);
  out->push_back(',');
  *out += entry.second;
  // ",kind," in one append: this runs once a row.
  const std::string_view kind = identifier::KindName(d.address.kind);
  char column[16] = {','};
  kind.copy(column + 1, sizeof column - 2);
  column[kind.size() + 1] = ',';
  out->append(column, kind.size() + 2);
  if (HasIdentifier(d.address)) identifier::AppendCanonical(out, d.address);
  *out += "\r\n";
}

void AppendCsvError(std::string* out, std::string_view input, std::string_view error) {
  text::AppendCsvField(out, input);
  *out += ",,,,,,,,,,,";
  text::AppendCsvField(out, error);
  *out += ",,,,,\r\n";
}

void AppendTextBlock(std::string* out, std::string_view input, const Description& d) {
  auto name = [out](std::string_view label) {
    *out += "  ";
    *out += label;
    out->append(14 - label.size(), ' ');
  };
  auto field = [&](std::string_view label, std::string_view value) {
    name(label);
    *out += value;
    out->push_back('\n');
  };
  text::AppendDisplayText(out, input);
  out->push_back('\n');
  if (HasIdentifier(d.address)) {
    name(d.address.kind == identifier::IdentifierKind::Eui64 ? "EUI-64:" : "WWN:");
    identifier::AppendCanonical(out, d.address);
    out->push_back('\n');
  }
  if (d.address.kind != identifier::IdentifierKind::Eui64) {
    name(d.address.kind == identifier::IdentifierKind::Wwn && d.address.prefixOnly ? "OUI:" : "MAC:");
    identifier::AppendMac(out, d.address);
    out->push_back('\n');
  }
  switch (d.address.derivedFrom) {
    case identifier::Derivation::Ipv6Eui64:
      field("Derived:", "from the IPv6 address's interface identifier (modified EUI-64, universal/local bit inverted)");
      break;
    case identifier::Derivation::WwnNaa1: field("Derived:", "from a World Wide Name of NAA type 1 (IEEE): its last six bytes"); break;
    case identifier::Derivation::WwnNaa2:
      field("Derived:", "from a World Wide Name of NAA type 2 (IEEE extended): its last six bytes");
      break;
    case identifier::Derivation::WwnNaa5:
      field("Derived:", "from a World Wide Name of NAA type 5 (IEEE registered): the OUI after its first digit");
      break;
    case identifier::Derivation::WwnNaa6:
      field("Derived:",
            "from a World Wide Name of NAA type 6 (IEEE registered extended): the OUI after its first digit");
      break;
    case identifier::Derivation::None: break;
  }
  if (d.match) {
    static thread_local EntryTexts texts;
    *out += texts.Get(*d.match, [](std::string* text, const registry::Match& m) {
      auto line = [text](std::string_view label, std::string_view value) {
        *text += "  ";
        *text += label;
        text->append(14 - label.size(), ' ');
        text::AppendDisplayText(text, value);
        text->push_back('\n');
      };
      std::string registry(registry::RegistryName(m));
      registry += ' ';
      AppendAssignmentDigits(&registry, m);
      registry += " (";
      AppendBits(&registry, m.bits);
      registry += m.user != nullptr ? "-bit prefix of your own)" : "-bit block)";
      line("Registry:", registry);
      if (m.user != nullptr) line("Source:", registry::UserSource(m));
      line("Organization:", m.organization);
      bool first = true;
      ForEachLine(m.address, [&](std::string_view addressLine) {
        line(first ? "Address:" : "", addressLine);
        first = false;
      });
      for (const listing::TableView::Holder& h : registry::FurtherHolders(m)) line("Also:", h.organization);
    });
  } else {
    field("Registry:", NoMatchText(d));
  }
  name("Class:");
  AppendClassText(out, d);
  out->push_back('\n');
  if (d.cls.note != nullptr) field("Note:", d.cls.note);
}

void AppendLabel(std::string* out, const Description& d) {
  *out += " [";
  const char* note = d.cls.note;
  if (d.cls.broadcast) {
    *out += "broadcast";
    note = nullptr;  // says the same
  } else if (d.match) {
    if (d.cls.group && note == nullptr) *out += "multicast: ";
    static thread_local EntryTexts texts;
    *out += texts.Get(*d.match, [](std::string* text, const registry::Match& m) { text::AppendDisplayText(text, m.organization); });
  } else if (d.cls.group) {
    *out += "multicast";
  } else if (d.cls.local) {
    *out += "locally administered";
  } else {
    *out += "unknown";
  }
  if (note != nullptr) {
    *out += "; ";
    *out += note;
  }
  out->push_back(']');
}

}  // namespace answer
