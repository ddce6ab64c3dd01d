#include "vessarine/registry/describe.h"

#include "vessarine/registry/escape.h"

namespace registry {

namespace {

void AppendBool(std::string* out, bool v) { *out += v ? "true" : "false"; }

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

std::string ClassText(const Description& d) {
  if (d.cls.broadcast) return "broadcast (every station)";
  std::string text = d.cls.group ? "group (multicast)" : "individual (unicast)";
  if (d.cls.local) {
    text += ", locally administered, ";
    text += QuadrantName(d.cls.quadrant);
  } else {
    text += ", universally administered";
  }
  return text;
}

std::string NoMatchText(const Description& d) {
  if (d.cls.broadcast) return "none: the broadcast address reaches every station";
  if (d.cls.group && d.cls.local) return "no match: a locally administered group address";
  if (d.cls.local)
    return "no match: locally administered addresses are set by software or an administrator, "
           "not assigned to a maker";
  return "no match in any registry";
}

}  // namespace

Description Describe(const RegistryTables& tables, const ParsedAddress& address) {
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

void AppendJsonMembers(std::string* out, std::string_view input, const Description& d) {
  *out += "\"input\":";
  AppendJsonString(out, input);
  *out += ",\"mac\":\"";
  *out += FormatMac(d.address);
  *out += "\",\"registry\":";
  if (d.match) {
    *out += '"';
    *out += Info(d.match->registry).name;
    *out += "\",\"assignment\":\"";
    *out += AssignmentDigits(*d.match);
    *out += "\",\"bits\":";
    *out += std::to_string(d.match->bits);
    *out += ",\"organization\":";
    AppendJsonString(out, d.match->organization);
  } else {
    *out += "null,\"assignment\":null,\"bits\":null,\"organization\":null";
  }
  *out += ",\"address\":[";
  if (d.match) {
    bool first = true;
    ForEachLine(d.match->address, [&](std::string_view line) {
      if (!first) out->push_back(',');
      first = false;
      AppendJsonString(out, line);
    });
  }
  *out += "],\"group\":";
  AppendBool(out, d.cls.group);
  *out += ",\"local\":";
  AppendBool(out, d.cls.local);
  *out += ",\"broadcast\":";
  AppendBool(out, d.cls.broadcast);
  *out += ",\"note\":";
  const std::string note = Note(d);
  if (!note.empty()) {
    AppendJsonString(out, note);
  } else {
    *out += "null";
  }
}

std::string Note(const Description& d) {
  if (d.cls.note != nullptr) return d.cls.note;
  // The only other thing an address's bits say: a local address's quadrant.
  if (d.cls.local && d.cls.quadrant != Quadrant::None) return "IEEE 802c " + std::string(QuadrantName(d.cls.quadrant));
  return {};
}

void AppendJsonError(std::string* out, std::string_view input, std::string_view error) {
  *out += "{\"input\":";
  AppendJsonString(out, input);
  *out += ",\"error\":";
  AppendJsonString(out, error);
  *out += "}\n";
}

std::string_view CsvHeader() {
  return "input,mac,registry,assignment,bits,organization,address,group,local,broadcast,note,error\r\n";
}

void AppendCsvRow(std::string* out, std::string_view input, const Description& d) {
  AppendCsvField(out, input);
  *out += ',';
  *out += FormatMac(d.address);
  *out += ',';
  if (d.match) {
    *out += Info(d.match->registry).name;
    *out += ',';
    *out += AssignmentDigits(*d.match);
    *out += ',';
    *out += std::to_string(d.match->bits);
    *out += ',';
    AppendCsvField(out, d.match->organization);
    *out += ',';
    AppendCsvField(out, d.match->address);
  } else {
    *out += ",,,,";
  }
  *out += d.cls.group ? ",true" : ",false";
  *out += d.cls.local ? ",true" : ",false";
  *out += d.cls.broadcast ? ",true," : ",false,";
  AppendCsvField(out, Note(d));
  *out += ",\r\n";
}

void AppendCsvError(std::string* out, std::string_view input, std::string_view error) {
  AppendCsvField(out, input);
  *out += ",,,,,,,,,,,";
  AppendCsvField(out, error);
  *out += "\r\n";
}

void AppendTextBlock(std::string* out, std::string_view input, const Description& d) {
  auto field = [out](std::string_view name, std::string_view value) {
    *out += "  ";
    *out += name;
    out->append(14 - name.size(), ' ');
    *out += value;
    out->push_back('\n');
  };
  out->append(input);
  out->push_back('\n');
  field("MAC:", FormatMac(d.address));
  if (d.match) {
    field("Registry:", std::string(Info(d.match->registry).name) + " " + AssignmentDigits(*d.match) + " (" +
                           std::to_string(d.match->bits) + "-bit block)");
    field("Organization:", d.match->organization);
    bool first = true;
    ForEachLine(d.match->address, [&](std::string_view line) {
      field(first ? "Address:" : "", line);
      first = false;
    });
  } else {
    field("Registry:", NoMatchText(d));
  }
  field("Class:", ClassText(d));
  if (d.cls.note != nullptr) field("Note:", d.cls.note);
}

void AppendLabel(std::string* out, const Description& d) {
  *out += " [";
  if (d.cls.broadcast) {
    *out += "broadcast";
  } else if (d.cls.group && (d.cls.note != nullptr || !d.match)) {
    *out += "multicast";
    if (d.cls.note != nullptr) {
      *out += ": ";
      *out += d.cls.note;
    }
  } else if (d.match) {
    if (d.cls.group) *out += "multicast: ";
    *out += d.match->organization;
  } else if (d.cls.local) {
    *out += "locally administered";
  } else {
    *out += "unknown";
  }
  out->push_back(']');
}

}  // namespace registry
